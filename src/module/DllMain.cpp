// The module's entry point. The C runtime has constructed g_DRMLogin before the process-attach
// notification arrives and destroys it after the process-detach notification has been handled.
// This runs under the loader lock: it does the steps below and nothing more.
#include "common/WinApi.h"
#include "module/CComponentModule.h"
#include "netstatus/CheckUseProxy.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        CheckUseProxy(); // writes its debug line; the result decides nothing
        g_Module.Init(hInstance, LIBID_VLAGTCLIENTLib);
        DisableThreadLibraryCalls(hInstance);
    } else if (reason == DLL_PROCESS_DETACH) {
        g_Module.Term();
    }
    return TRUE;
}
