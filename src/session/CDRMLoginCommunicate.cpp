// CDRMLogin::Communicate: one request to the policy server per call, on a channel of its own.
#include "VLAgtClient.h"

#include <stdlib.h>
#include <string.h>

#include "common/DebugLog.h"
#include "common/TextUtil.h"
#include "common/WinApi.h"
#include "session/ReplyRecords.h"
#include "session/SessionConstants.h"
#include "settings/CRegSettings.h"
#include "transport/CWinInetApp.h"

namespace {

constexpr char kTagLogin[] = "_%REQ_LIN%_";
constexpr char kTagTakeOut[] = "_%REQ_OUT%_";
constexpr char kTagTakeOutRef[] = "_%REQ_REF%_";
constexpr char kTagTakeOutEdit[] = "_%REQ_EDT%_";
constexpr char kTagTakeOutDel[] = "_%REQ_DEL%_";
constexpr char kTagAcl[] = "_%REQ_ACL%_";
constexpr char kTagLevel[] = "_%REQ_LVL%_";
constexpr char kSiteCode[] = "kesmor";
constexpr unsigned long kStatusNoTakeOut = 45005;

static_assert(sizeof(kTagLogin) - 1 == VLAGT_SIGNAL_LEN, "signal tags are 11 bytes");
static_assert(sizeof(kSiteCode) - 1 == sizeof(LOGIN_REQ::szSiteCode), "the site code fills its field");

void PutTag(char* field, const char (&tag)[VLAGT_SIGNAL_LEN + 1])
{
    memcpy(field, tag, VLAGT_SIGNAL_LEN);
}

// Copies the user ID of the session into the shared record: 20 bytes, zero-filled after the ID.
void PublishUser(LOGIN_SHARED_INFO* shared, const char* userID)
{
    vlagt::CopyToField(shared->szUserID, sizeof(shared->szUserID), userID);
}

struct WebIntegerTag
{
    const char* tag;
    uint8_t LOGIN_INFO::*field;
};

struct WebAppFlagTag
{
    const char* tag;
    size_t index; // APP_FLAG_* place in abAppFlags
};

unsigned long LoginExchange(CDRMLogin& s, CWinInetApp& channel)
{
    memcpy(s.m_LoginReq.szUserID, s.m_szUserID, sizeof(s.m_LoginReq.szUserID));
    memcpy(s.m_LoginReq.szUserPW, s.m_szUserPW, sizeof(s.m_LoginReq.szUserPW));
    PutTag(s.m_LoginReq.szSignal, kTagLogin);
    memcpy(s.m_LoginReq.szSiteCode, kSiteCode, sizeof(s.m_LoginReq.szSiteCode));
    memset(&s.m_LoginInfo, 0, sizeof(LOGIN_INFO));

    const int status = channel.UseHttpSendReqEx(&s.m_LoginReq, sizeof(s.m_LoginReq), nullptr, 0);
    if (static_cast<unsigned long>(status) != vlagt::kStatusSuccess) {
        DebugLog("[CDRMLogin] Failed Login : %d", static_cast<int>(status));
        return static_cast<unsigned long>(status);
    }

    // The reply record is only as long as what was received: never read past it.
    const size_t received = channel.m_pBuffer ? channel.m_dwBufferLen : 0;
    const vlagt::AppInfoText appInfo = vlagt::ParseLoginReply(channel.m_pBuffer.get(), received, s.m_LoginInfo);
    DebugLog("Signal [%.*s]", VLAGT_SIGNAL_LEN, s.m_LoginInfo.szSignal);

    const size_t length = appInfo.nLength;
    free(s.m_pAppInfo);
    s.m_pAppInfo = static_cast<char*>(calloc(length + 1, 1));
    if (s.m_pAppInfo == nullptr) {
        DebugLog("[CDRMLogin] Failed Login : no memory for the application list [%u]",
                 static_cast<unsigned>(length));
        return 0;
    }
    if (length > 0)
        memcpy(s.m_pAppInfo, appInfo.pText, length);

    if (s.m_pSharedInfo == nullptr)
        return 0;
    PublishUser(s.m_pSharedInfo, s.m_szUserID);
    DebugLog("[CDRMLogin] Success : %.*s", static_cast<int>(sizeof(s.m_pSharedInfo->szUserID)),
             s.m_pSharedInfo->szUserID);
    return vlagt::kStatusSuccess;
}

unsigned long TakeOutExchange(CDRMLogin& s, CWinInetApp& channel)
{
    PutTag(s.m_TakeOutInfo.szSignal, kTagTakeOut);
    const int status = channel.UseHttpSendReqEx(&s.m_TakeOutInfo, sizeof(s.m_TakeOutInfo), &s.m_TakeOutReply,
                                                 sizeof(s.m_TakeOutReply));
    if (static_cast<unsigned long>(status) != vlagt::kStatusSuccess) {
        DebugLog("[CDRMLogin] Failed TakeOut Request : %d", static_cast<int>(status));
        return static_cast<unsigned long>(status);
    }

    char key[sizeof(s.m_TakeOutReply.szTakeOutKey) + 1];
    vlagt::CopyTerminated(key, sizeof(key), s.m_TakeOutReply.szTakeOutKey);
    CRegSettings settings(vlagt::kRegistryBaseKey, nullptr);
    settings.SetString(vlagt::kTakeOutKeyValue, key);

    s.m_nTakeOutStatus = STATUS_TAKEOUT_REQUESTED;
    s.SetTakeOutCCF(STATUS_TAKEOUT_REQUESTED, nullptr, nullptr);
    DebugLog("[CDRMLogin] TakeOutKey : %s", key);
    return vlagt::kStatusSuccess;
}

unsigned long TakeOutRefExchange(CDRMLogin& s, CWinInetApp& channel)
{
    PutTag(s.m_TakeOutMsg.szSignal, kTagTakeOutRef);
    const int status = channel.UseHttpSendReqEx(&s.m_TakeOutMsg, sizeof(s.m_TakeOutMsg), &s.m_TakeOutRefInfo,
                                                 sizeof(s.m_TakeOutRefInfo));
    if (static_cast<unsigned long>(status) != vlagt::kStatusSuccess) {
        if (static_cast<unsigned long>(status) == kStatusNoTakeOut)
            s.m_nTakeOutStatus = STATUS_TAKEOUT_NONE;
        return static_cast<unsigned long>(status);
    }

    s.m_nTakeOutStatus = static_cast<uint8_t>(s.m_TakeOutRefInfo.nStatus & 0xFF);
    if (s.m_TakeOutRefInfo.nStatus == STATUS_TAKEOUT_APPROVAL) {
        char start[sizeof(s.m_TakeOutRefInfo.szStartDate) + 1];
        char end[sizeof(s.m_TakeOutRefInfo.szEndDate) + 1];
        vlagt::CopyTerminated(start, sizeof(start), s.m_TakeOutRefInfo.szStartDate);
        vlagt::CopyTerminated(end, sizeof(end), s.m_TakeOutRefInfo.szEndDate);
        s.SetTakeOutCCF(STATUS_TAKEOUT_APPROVAL, start, end);
        DebugLog("[CDRMLogin] STATUS_TAKEOUT_APPROVAL");
    } else {
        s.SetTakeOutCCF(STATUS_TAKEOUT_NONE, nullptr, nullptr);
        DebugLog("[CDRMLogin] STATUS_TAKEOUT_REFUSE or STATUS_TAKEOUT_CANCEL");
    }
    DebugLog("[CDRMLogin] REF : TakeOut[%d]", static_cast<int>(s.m_nTakeOutStatus));
    return vlagt::kStatusSuccess;
}

unsigned long TakeOutEditExchange(CDRMLogin& s, CWinInetApp& channel)
{
    PutTag(s.m_TakeOutInfo.szSignal, kTagTakeOutEdit);
    s.m_TakeOutInfo.nStatus = s.m_nTakeOutStatus;
    const int status = channel.UseHttpSendReqEx(&s.m_TakeOutInfo, sizeof(s.m_TakeOutInfo), &s.m_TakeOutReply,
                                                 sizeof(s.m_TakeOutReply));
    if (static_cast<unsigned long>(status) != vlagt::kStatusSuccess)
        return static_cast<unsigned long>(status);
    s.SetTakeOutCCF(STATUS_TAKEOUT_REQUESTED, nullptr, nullptr);
    return vlagt::kStatusSuccess;
}

unsigned long TakeOutDelExchange(CDRMLogin& s, CWinInetApp& channel)
{
    PutTag(s.m_TakeOutMsg.szSignal, kTagTakeOutDel);
    s.m_TakeOutMsg.nStatus = s.m_nTakeOutStatus;
    const int status = channel.UseHttpSendReqEx(&s.m_TakeOutMsg, sizeof(s.m_TakeOutMsg), &s.m_TakeOutReply,
                                                 sizeof(s.m_TakeOutReply));
    if (static_cast<unsigned long>(status) != vlagt::kStatusSuccess)
        return static_cast<unsigned long>(status);
    s.m_nTakeOutStatus = STATUS_TAKEOUT_NONE;
    s.SetTakeOutCCF(STATUS_TAKEOUT_NONE, nullptr, nullptr);
    return vlagt::kStatusSuccess;
}

unsigned long AclExchange(CDRMLogin& s, CWinInetApp& channel)
{
    ACL_REQ request;
    memset(&request, 0, sizeof(request));
    memcpy(request.szUserID, s.m_szUserID, sizeof(request.szUserID));
    PutTag(request.szSignal, kTagAcl);
    request.nDocLevel = s.m_nDocLevel;
    ACL_REPLY reply;
    memset(&reply, 0, sizeof(reply));

    const int status = channel.UseHttpSendReqEx(&request, sizeof(request), &reply, sizeof(reply));
    if (static_cast<unsigned long>(status) != vlagt::kStatusSuccess)
        return static_cast<unsigned long>(status);
    vlagt::ParseAclReply(reinterpret_cast<const char*>(&reply), sizeof(reply), s.m_AclInfo);
    return vlagt::kStatusSuccess;
}

unsigned long LevelExchange(CDRMLogin& s, CWinInetApp& channel)
{
    char request[VLAGT_SIGNAL_LEN];
    PutTag(request, kTagLevel);
    DOC_LEVEL_REPLY reply;
    memset(&reply, 0, sizeof(reply));

    const int status = channel.UseHttpSendReqEx(request, sizeof(request), &reply, sizeof(reply));
    if (static_cast<unsigned long>(status) != vlagt::kStatusSuccess)
        return static_cast<unsigned long>(status);
    vlagt::ParseLevelListReply(reinterpret_cast<const char*>(&reply), sizeof(reply), s.m_DocLevelList);
    return vlagt::kStatusSuccess;
}

unsigned long PingExchange(CDRMLogin&, CWinInetApp& channel)
{
    const int result = channel.UseHttpSendReqExPING();
    if (result == 1)
        return vlagt::kStatusSuccess;
    DebugLog("[CDRMLogin] Failed Ping : %d", result);
    return static_cast<unsigned long>(result);
}

unsigned long WebLoginExchange(CDRMLogin& s, CWinInetApp& channel)
{
    memcpy(s.m_LoginReq.szUserID, s.m_szUserID, sizeof(s.m_LoginReq.szUserID));
    memcpy(s.m_LoginReq.szUserPW, s.m_szUserPW, sizeof(s.m_LoginReq.szUserPW));
    DebugLog("[SIG_REQ_WEB_LOGIN] start");

    const int result = channel.UseHttpSendReqExWEB(&s.m_LoginReq);
    if (static_cast<unsigned long>(result) != vlagt::kStatusSuccess) {
        DebugLog("[CDRMLogin] Failed Login : %d", static_cast<int>(result));
        return static_cast<unsigned long>(result);
    }
    if (s.m_pSharedInfo == nullptr)
        return 0;
    PublishUser(s.m_pSharedInfo, s.m_szUserID);
    DebugLog("[CDRMLogin] Success : %.*s", static_cast<int>(sizeof(s.m_pSharedInfo->szUserID)),
             s.m_pSharedInfo->szUserID);

    char* reply = channel.m_pBuffer.get();
    auto readInt = [&](const char* tag) {
        return static_cast<uint8_t>(channel.GetReturnCodeInt(reply, tag) & 0xFF);
    };
    auto readText = [&](const char* tag, char* field, size_t width) {
        memset(field, 0, width);
        channel.GetReturnCode(reply, tag, field, width);
    };

    static const WebIntegerTag kPolicies[] = {
        {"OFFLINEPOLICY", &LOGIN_INFO::nOfflinePolicy},   {"DOCEXCHANGEPOLICY", &LOGIN_INFO::nDocExchangePolicy},
        {"COUNTCONTROL", &LOGIN_INFO::nCountControl},     {"TIMESYNC", &LOGIN_INFO::nTimeSync},
        {"ONLINECONTROL", &LOGIN_INFO::nOnlineControl},   {"COUNTCONTROL", &LOGIN_INFO::nCountControl},
        {"PROTECTREMOTETOOL", &LOGIN_INFO::nProtectRemoteTool},
    };
    for (const WebIntegerTag& policy : kPolicies)
        s.m_LoginInfo.*policy.field = readInt(policy.tag);

    readText("COMPANY_SUPERKEY", s.m_LoginInfo.szSuperKey, sizeof(s.m_LoginInfo.szSuperKey));
    readText("USER_POSCODE", s.m_LoginInfo.szPositionID, sizeof(s.m_LoginInfo.szPositionID));
    readText("COMPANY_ID", s.m_LoginInfo.szCompanyID, sizeof(s.m_LoginInfo.szCompanyID));
    readText("DKMS", s.m_LoginInfo.szDKMS, sizeof(s.m_LoginInfo.szDKMS));
    readText("DTSS", s.m_LoginInfo.szDTSS, sizeof(s.m_LoginInfo.szDTSS));
    readText("DLS", s.m_LoginInfo.szDLS, sizeof(s.m_LoginInfo.szDLS));

    // The reply carries no PDF flag: that byte keeps what an earlier login left.
    static const WebAppFlagTag kAppFlags[] = {
        {"XLS", APP_FLAG_XLS}, {"DOC", APP_FLAG_DOC},     {"PPT", APP_FLAG_PPT},
        {"HWP", APP_FLAG_HWP}, {"GUL", APP_FLAG_GUL},     {"TXT", APP_FLAG_TXT},
        {"KODAK", APP_FLAG_KODAK}, {"DWG", APP_FLAG_DWG}, {"MSPAINT", APP_FLAG_MSPAINT},
    };
    for (const WebAppFlagTag& flag : kAppFlags)
        s.m_LoginInfo.abAppFlags[flag.index] = readInt(flag.tag);

    DebugLog("[CDRMLogin] return- %d", static_cast<int>(vlagt::kStatusSuccess));
    return vlagt::kStatusSuccess;
}

} // namespace

unsigned long CDRMLogin::Communicate(int type)
{
    memset(&m_LoginReq, 0, sizeof(m_LoginReq));

    CWinInetApp channel;
    channel.SetServerIP(m_szServerURL);
    channel.HttpOpenApp();
    DebugLog("[VLAgentClient] HttpOpenApp");
    if (channel.HttpConnectApp() == 0) {
        DebugLog("[VLAgentClient] HttpConnectApp Failed");
        return 0;
    }
    if (channel.HttpRequestApp() == 0) {
        DebugLog("[VLAgentClient] HttpRequestApp Failed");
        return 0;
    }

    memset(&m_TakeOutReply, 0, sizeof(m_TakeOutReply));
    memset(&m_TakeOutRefInfo, 0, sizeof(m_TakeOutRefInfo));

    switch (type) {
    case SIG_REQ_LOGIN:
        return LoginExchange(*this, channel);
    case SIG_REQ_TAKEOUT:
        return TakeOutExchange(*this, channel);
    case SIG_REQ_TAKEOUT_REF:
        return TakeOutRefExchange(*this, channel);
    case SIG_REQ_TAKEOUT_EDIT:
        return TakeOutEditExchange(*this, channel);
    case SIG_REQ_TAKEOUT_DEL:
        return TakeOutDelExchange(*this, channel);
    case SIG_REQ_ACL:
        return AclExchange(*this, channel);
    case SIG_REQ_LEVEL:
        return LevelExchange(*this, channel);
    case SIG_REQ_PING:
        return PingExchange(*this, channel);
    case SIG_REQ_WEB_LOGIN:
        return WebLoginExchange(*this, channel);
    default:
        // Nothing to send; the channel closes its handles as it goes.
        return vlagt::kStatusSuccess;
    }
}
