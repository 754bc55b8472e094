// CheckUserID and its two helpers.
#include "api/UserCheck.h"

#include <stdio.h>

#include "Corvane.h"
#include "VLAgtClient.h"
#include "api/CommandText.h"
#include "common/UniqueHandle.h"
#include "common/WinApi.h"
#include "session/SessionConstants.h"
#include "settings/CRegSettings.h"

#include <shlobj.h>

namespace {

using OfflineCheck = int(__cdecl*)(char*);

constexpr size_t kPathSize = 260;
constexpr size_t kCommandSize = 1000;
// The registry read offers less than the buffer holds, so the text always ends inside it.
constexpr DWORD kCommandReadSize = 256;

// Starts the browser on the configured login page. Nothing is started when the program-files
// folder is unknown: the browser path would then name a file at the root of the current drive.
void LaunchLoginPage()
{
    char programFiles[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, programFiles, CSIDL_PROGRAM_FILES, FALSE);
    if (programFiles[0] == '\0')
        return;
    char browser[kPathSize] = {};
    const int written = snprintf(browser, sizeof(browser), "%s%s", programFiles, vlagt::kBrowserTail);
    if (written < 0 || static_cast<size_t>(written) >= sizeof(browser))
        return;

    char page[kPathSize] = {};
    CRegSettings settings(vlagt::kRegistryBaseKey, nullptr);
    settings.GetString(vlagt::kLoginPageValue, page);

    char command[kCommandSize] = {};
    if (!vlagt::FormatBrowserCommand(browser, page, command, sizeof(command)))
        return;
    WinExec(command, SW_SHOW); // a browser that does not start is not detected
}

} // namespace

int GetInstallFolder(char* folder)
{
    char command[kPathSize] = {};
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, vlagt::kShellCommandKey, 0, KEY_QUERY_VALUE, &opened) == ERROR_SUCCESS) {
        const vlagt::UniqueRegKey key(opened);
        DWORD size = kCommandReadSize;
        if (RegQueryValueExA(key.Get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(command), &size) !=
            ERROR_SUCCESS)
            command[0] = '\0';
    }
    command[kPathSize - 1] = '\0';
    return vlagt::InstallFolderFromCommand(command, folder, vlagt::kInstallFolderSize) ? 1 : 0;
}

int RunOfflineUserCheck(char* userID)
{
    char folder[vlagt::kInstallFolderSize] = {};
    if (GetInstallFolder(folder) == 0)
        return 0;
    char path[kPathSize] = {};
    const int written = snprintf(path, sizeof(path), "%s%s", folder, vlagt::kOfflineLibrary);
    if (written < 0 || static_cast<size_t>(written) >= sizeof(path))
        return 0;
    // Never released: every call only raises the load count of the library already loaded.
    const HMODULE library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr)
        return 0;
    const auto check =
        reinterpret_cast<OfflineCheck>(reinterpret_cast<void*>(GetProcAddress(library, vlagt::kOfflineEntry)));
    if (check == nullptr)
        return 0;
    return check(userID);
}

extern "C" int __cdecl CheckUserID(char* userID)
{
    CDRMLogic logic;
    logic.CheckAgent(nullptr);
    if (logic.GetLogInStatus(nullptr) == DRM_LOGIC_LOGGED_IN)
        return 1;
    if (CheckPing() == 1) {
        LaunchLoginPage();
        return -1;
    }
    return RunOfflineUserCheck(userID) != 0 ? 1 : -1;
}
