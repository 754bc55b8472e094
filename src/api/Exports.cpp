// The plain exports and the process-wide session g_DRMLogin.
#include "VLAgtClient.h"

#include <string.h>

#include "api/SessionLock.h"
#include "common/TextUtil.h"

SRWLOCK vlagt::SessionLock::s_lock = SRWLOCK_INIT;

// The session behind the plain exports: constructed when the module loads, destroyed when it unloads.
CDRMLogin g_DRMLogin;

extern "C" {

void __cdecl SetServerIP(char* url)
{
    vlagt::SessionLock lock;
    g_DRMLogin.SetServerIP(url);
}

void __cdecl SetTakeOutInfo(void)
{
}

unsigned long __cdecl DRMAgentLogin(char* userID, char* password)
{
    vlagt::SessionLock lock;
    g_DRMLogin.SetUserInfo(userID, password);
    if (g_DRMLogin.CreateSharedMemForLoginInfo() == 0)
        return 0;
    if (g_DRMLogin.CheckLogin() != 0)
        return 0;
    const unsigned long status = g_DRMLogin.Communicate(SIG_REQ_LOGIN);
    if (status == 40000 && g_DRMLogin.m_pSharedInfo != nullptr)
        vlagt::CopyToField(g_DRMLogin.m_pSharedInfo->szUserID, sizeof(g_DRMLogin.m_pSharedInfo->szUserID),
                           userID);
    return status;
}

unsigned long __cdecl TakeOutPC(char* startDate, char* endDate, char* reason, int status)
{
    TAKEOUT_INFO info;
    memset(&info, 0, sizeof(info));
    // Fixed-size blocks, not strings: the caller supplies 8, 8 and 256 readable bytes.
    if (startDate != nullptr)
        memcpy(info.szStartDate, startDate, sizeof(info.szStartDate));
    if (endDate != nullptr)
        memcpy(info.szEndDate, endDate, sizeof(info.szEndDate));
    if (reason != nullptr)
        memcpy(info.szText, reason, sizeof(info.szText));
    info.nStatus = status;

    vlagt::SessionLock lock;
    g_DRMLogin.SetTakeOutInfo(&info);
    return g_DRMLogin.Communicate(SIG_REQ_TAKEOUT);
}

int __cdecl RecoveryCCF(void)
{
    return 1;
}

} // extern "C"
