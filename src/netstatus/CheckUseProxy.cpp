// The proxy-setting check run when the module loads.
#include "netstatus/CheckUseProxy.h"

#include "common/DebugLog.h"
#include "settings/CRegSettings.h"

namespace {

constexpr char kInternetSettingsKey[] = "SoftWare\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr char kProxyEnableValue[] = "ProxyEnable";

} // namespace

int CheckUseProxy()
{
    CRegSettings settings(kInternetSettingsKey, HKEY_CURRENT_USER);
    DWORD enabled = 0;
    settings.GetDWORD(kProxyEnableValue, &enabled);
    if (enabled == 1) {
        DebugLog("CheckUseProxy TRUE. \n");
        return 1;
    }
    DebugLog("CheckUseProxy FALSE. \n");
    return 0;
}
