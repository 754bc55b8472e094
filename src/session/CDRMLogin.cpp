// The login session object: construction, copying, the shared login record and the user and
// server settings. The exchanges with the server and the policy-file operations live beside it.
#include "VLAgtClient.h"

#include <stdlib.h>
#include <string.h>

#include "common/DebugLog.h"
#include "common/TextUtil.h"
#include "common/WinApi.h"
#include "session/SessionConstants.h"
#include "settings/CRegSettings.h"

namespace {

// A heap copy of an application-list block, sized from its text; null for a null block.
char* DuplicateAppInfo(const char* source)
{
    if (source == nullptr)
        return nullptr;
    const size_t length = strlen(source);
    char* copy = static_cast<char*>(malloc(length + 1));
    if (copy != nullptr)
        memcpy(copy, source, length + 1);
    return copy;
}

// Copies every member but the application-list block.
void CopyMembers(CDRMLogin& to, const CDRMLogin& from)
{
    to.m_nTakeOutStatus = from.m_nTakeOutStatus;
    to.m_CCFInfo = from.m_CCFInfo;
    to.m_LoginInfo = from.m_LoginInfo;
    to.m_AclInfo = from.m_AclInfo;
    to.m_DocLevelList = from.m_DocLevelList;
    to.m_TakeOutReply = from.m_TakeOutReply;
    to.m_TakeOutRefInfo = from.m_TakeOutRefInfo;
    to.m_nDocLevel = from.m_nDocLevel;
    to.m_pSharedInfo = from.m_pSharedInfo;
    to.m_hSharedLoginInfo = from.m_hSharedLoginInfo;
    to.m_LoginReq = from.m_LoginReq;
    to.m_TakeOutInfo = from.m_TakeOutInfo;
    to.m_TakeOutMsg = from.m_TakeOutMsg;
    memcpy(to.m_szUserID, from.m_szUserID, sizeof(to.m_szUserID));
    memcpy(to.m_szUserPW, from.m_szUserPW, sizeof(to.m_szUserPW));
    memcpy(to.m_szServerURL, from.m_szServerURL, sizeof(to.m_szServerURL));
}

bool IsOpenHandle(HANDLE h)
{
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}

} // namespace

CDRMLogin::CDRMLogin()
    : m_nTakeOutStatus(STATUS_TAKEOUT_NONE),
      m_nDocLevel(0),
      m_pSharedInfo(nullptr),
      m_hSharedLoginInfo(nullptr),
      m_pAppInfo(nullptr)
{
    // The received-data records are cleared by the operations that fill them; zeroing them here as
    // well means a fresh session never shows stack or heap garbage to a caller that reads them.
    memset(&m_CCFInfo, 0, sizeof(m_CCFInfo));
    memset(&m_LoginInfo, 0, sizeof(m_LoginInfo));
    memset(&m_AclInfo, 0, sizeof(m_AclInfo));
    memset(&m_DocLevelList, 0, sizeof(m_DocLevelList));
    memset(&m_TakeOutReply, 0, sizeof(m_TakeOutReply));
    memset(&m_TakeOutRefInfo, 0, sizeof(m_TakeOutRefInfo));
    memset(&m_LoginReq, 0, sizeof(m_LoginReq));
    memset(&m_TakeOutInfo, 0, sizeof(m_TakeOutInfo));
    memset(&m_TakeOutMsg, 0, sizeof(m_TakeOutMsg));
    memset(m_szUserID, 0, sizeof(m_szUserID));
    memset(m_szUserPW, 0, sizeof(m_szUserPW));
    memset(m_szServerURL, 0, sizeof(m_szServerURL));
}

CDRMLogin::CDRMLogin(const CDRMLogin& other) : m_pAppInfo(nullptr)
{
    CopyMembers(*this, other);
    m_pAppInfo = DuplicateAppInfo(other.m_pAppInfo);
}

CDRMLogin& CDRMLogin::operator=(const CDRMLogin& other)
{
    if (this == &other)
        return *this;
    char* appInfo = DuplicateAppInfo(other.m_pAppInfo);
    CopyMembers(*this, other);
    free(m_pAppInfo);
    m_pAppInfo = appInfo;
    return *this;
}

CDRMLogin::~CDRMLogin()
{
    if (m_pAppInfo != nullptr) {
        free(m_pAppInfo);
        m_pAppInfo = nullptr;
        DebugLog("~CDRMLogin() : free(m_pAppInfo)");
    }
}

int CDRMLogin::CreateSharedMemForLoginInfo()
{
    try {
        // A session attaches once at a time. The view and handle of an earlier call are released
        // only after the new ones are obtained: closing the last handle first would destroy the
        // section, and with it the user it names.
        LOGIN_SHARED_INFO* const previousView = m_pSharedInfo;
        const HANDLE previousHandle = m_hSharedLoginInfo;
        auto releasePrevious = [&]() {
            if (previousView != nullptr)
                UnmapViewOfFile(previousView);
            if (IsOpenHandle(previousHandle))
                CloseHandle(previousHandle);
        };
        m_pSharedInfo = nullptr;

        m_hSharedLoginInfo = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                sizeof(LOGIN_SHARED_INFO), vlagt::kSharedLoginName);
        if (m_hSharedLoginInfo == nullptr) {
            releasePrevious();
            DebugLog("[CreateSharedMemForLoginInfo] m_hSharedLoginInfo is NULL");
            return 0;
        }
        m_pSharedInfo = static_cast<LOGIN_SHARED_INFO*>(
            MapViewOfFile(m_hSharedLoginInfo, FILE_MAP_WRITE, 0, 0, 0));
        releasePrevious();
        if (m_pSharedInfo == nullptr) {
            DebugLog("[CreateSharedMemForLoginInfo] m_pSharedInfo is NULL");
            return 0;
        }
        DebugLog("Shared  Info = %d Bytes", static_cast<int>(sizeof(LOGIN_SHARED_INFO)));
        return 1;
    } catch (...) {
        MessageBoxA(nullptr, "CreateSharedMemForLoginInfo ERROR !", vlagt::kMessageCaption, MB_OK);
        // Not published: the caller must not go on to a login it cannot record.
        return 0;
    }
}

int CDRMLogin::DeleteSharedMemForLoginInfo()
{
    try {
        if (m_pSharedInfo != nullptr) {
            DebugLog("Memory Clear");
            memset(m_pSharedInfo, 0, 4);
        }
        if (m_hSharedLoginInfo != nullptr) {
            DebugLog("UnmapViewOfFile");
            if (m_pSharedInfo != nullptr)
                UnmapViewOfFile(m_pSharedInfo);
        }
        m_pSharedInfo = nullptr;
        DebugLog("Shared Memory File Handle Closed");
        if (IsOpenHandle(m_hSharedLoginInfo))
            CloseHandle(m_hSharedLoginInfo);
        m_hSharedLoginInfo = INVALID_HANDLE_VALUE;
        return 1;
    } catch (...) {
        MessageBoxA(nullptr, "ClearSharedMemForLoginInfo ERROR !", vlagt::kMessageCaption, MB_OK);
        return 1;
    }
}

int CDRMLogin::CrearSharedMemForLoginInfo()
{
    if (m_pSharedInfo != nullptr) {
        DebugLog("Memory Clear");
        memset(m_pSharedInfo, 0, 4);
        // The pointer is dropped, so the view goes with it; the section handle stays held.
        UnmapViewOfFile(m_pSharedInfo);
        m_pSharedInfo = nullptr;
    }
    return 1;
}

int CDRMLogin::CheckLogin()
{
    if (m_pSharedInfo == nullptr)
        return 0;
    return m_pSharedInfo->szUserID[0] != '\0' ? 1 : 0;
}

void CDRMLogin::SetServerIP(char* url)
{
    vlagt::CopyTerminated(m_szServerURL, sizeof(m_szServerURL), url);
    DebugLog("[VLAgentClient] ServerIP : %s", m_szServerURL);
}

int CDRMLogin::GetServerIP()
{
    char url[CRegSettings::kPathSize] = {};
    CRegSettings settings(vlagt::kRegistryBaseKey, nullptr);
    settings.GetString(vlagt::kServerUrlValue, url);
    if (url[0] == '\0')
        return 0;
    SetServerIP(url);
    return 1;
}

void CDRMLogin::SetUserInfo(char* userID, char* password)
{
    vlagt::CopyTerminated(m_szUserID, sizeof(m_szUserID), userID);
    vlagt::CopyTerminated(m_szUserPW, sizeof(m_szUserPW), password);
    // The debug channel is readable by every process: the password is never written to it.
    DebugLog("[VLAgentClient] UserID : %s, UserPW : %s", m_szUserID, vlagt::kPasswordMask);
}

void CDRMLogin::SetUserID(char* userID)
{
    vlagt::CopyTerminated(m_szUserID, sizeof(m_szUserID), userID);
}

void CDRMLogin::SetTakeOutInfo(TAKEOUT_INFO* info)
{
    if (m_szUserID[0] == '\0' || info == nullptr)
        return;
    memcpy(&m_TakeOutInfo, info, sizeof(m_TakeOutInfo));
}

void CDRMLogin::SetTakeOutMsg(TAKEOUT_MSG* msg)
{
    if (m_szUserID[0] == '\0' || msg == nullptr)
        return;
    memcpy(&m_TakeOutMsg, msg, sizeof(m_TakeOutMsg));
}
