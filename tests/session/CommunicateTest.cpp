#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "CcfSandbox.h"
#include "DebugCapture.h"
#include "DispatcherTestUtil.h"
#include "RegistrySandbox.h"
#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"

using namespace vlagt::test;
using Lines = std::vector<std::string>;

namespace {

const std::string kUser = "user01";
const std::string kPassword = "pw01";
const std::string kAppList = "app.exe|app.dll|word.exe|word.dll|";

LOGIN_INFO MakeLoginInfo(const std::string& appInfoLen)
{
    LOGIN_INFO info;
    memset(&info, 0, sizeof(info));
    PutText(info.szSignal, "_%RES_LIN%_");
    PutText(info.szGroupID, "group-7");
    PutText(info.szPositionID, "pos-3");
    PutText(info.szCompanyID, "company-1");
    PutText(info.szSuperKey, "superkey-0123456");
    info.nOfflinePolicy = 3;
    info.nOnlineControl = 4;
    info.nDocExchangePolicy = 5;
    info.nSpare = 6;
    info.nCountControl = 1;
    info.nTimeSync = 1;
    info.nProtectRemoteTool = 2;
    PutText(info.szDKMS, "dkms.example:9000");
    PutText(info.szDTSS, "dtss.example:9001");
    PutText(info.szDLS, "dls.example:9002");
    for (size_t i = 0; i < sizeof(info.abAppFlags); ++i)
        info.abAppFlags[i] = static_cast<uint8_t>(i % 3);
    PutText(info.szAppInfoLen, appInfoLen);
    return info;
}

std::string LoginRequestBytes(const std::string& user, const std::string& password)
{
    return "_%REQ_LIN%_" + Field(user, 20) + Field(password, 20) + "kesmor" + std::string(4, '\0');
}

bool AllBytesAre(const void* data, size_t size, unsigned char value)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != value)
            return false;
    return true;
}

class CommunicateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UseServer(m_server.Url("/vl/agent?ignored=1"));
        std::string user = kUser, password = kPassword;
        m_session.SetUserInfo(&user[0], &password[0]);
    }

    void TearDown() override { m_session.DeleteSharedMemForLoginInfo(); }

    void UseServer(std::string url) { m_session.SetServerIP(&url[0]); }

    void UseUser(std::string user) { m_session.SetUserID(&user[0]); }

    std::string LastBody() const
    {
        const std::vector<RecordedRequest> requests = m_server.Requests();
        return requests.empty() ? std::string() : requests.back().body;
    }

    void PoisonReplies()
    {
        memset(&m_session.m_TakeOutReply, 0xEE, sizeof(m_session.m_TakeOutReply));
        memset(&m_session.m_TakeOutRefInfo, 0xEE, sizeof(m_session.m_TakeOutRefInfo));
    }

    std::string SharedUser() const
    {
        return std::string(m_session.m_pSharedInfo->szUserID,
                           strnlen(m_session.m_pSharedInfo->szUserID, sizeof(m_session.m_pSharedInfo->szUserID)));
    }

    RegistrySandbox m_registry;
    CcfSandbox m_ccf;
    ScriptedHttpServer m_server;
    CDRMLogin m_session;
};

// ---------------------------------------------------------------------------------------------
// Binary login

TEST_F(CommunicateTest, Login_SendsTheRecordStoresTheReplyAndPublishesTheUser)
{
    ASSERT_EQ(m_session.CreateSharedMemForLoginInfo(), 1);
    const LOGIN_INFO info = MakeLoginInfo(std::to_string(kAppList.size()));
    m_server.Enqueue(BinaryReply("40000", BytesOf(info) + kAppList));
    PoisonReplies();

    DebugCapture capture;
    EXPECT_EQ(m_session.Communicate(SIG_REQ_LOGIN), 40000u);

    ASSERT_EQ(m_server.RequestCount(), 1u);
    const RecordedRequest request = m_server.Requests()[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/vl/agent");
    EXPECT_EQ(request.body, LoginRequestBytes(kUser, kPassword));
    EXPECT_EQ(BytesOf(m_session.m_LoginReq), LoginRequestBytes(kUser, kPassword));

    EXPECT_EQ(BytesOf(m_session.m_LoginInfo), BytesOf(info));
    ASSERT_NE(m_session.m_pAppInfo, nullptr);
    EXPECT_EQ(std::string(m_session.m_pAppInfo), kAppList);
    EXPECT_EQ(SharedUser(), kUser);
    EXPECT_EQ(m_session.CheckLogin(), 1);
    EXPECT_TRUE(AllBytesAre(&m_session.m_TakeOutReply, sizeof(m_session.m_TakeOutReply), 0));
    EXPECT_TRUE(AllBytesAre(&m_session.m_TakeOutRefInfo, sizeof(m_session.m_TakeOutRefInfo), 0));

    EXPECT_EQ(DispatcherLines(capture.Lines()),
              (Lines{"[VLAgentClient] HttpOpenApp", "Signal [_%RES_LIN%_]", "[CDRMLogin] Success : user01"}));
}

TEST_F(CommunicateTest, Login_FullWidthTextIsSentWholeAndLoggedWithinItsField)
{
    const std::string fullUser = "abcdefghijklmnopqrst";
    const std::string fullPassword = "ABCDEFGHIJKLMNOPQRS"; // 19: the longest password kept
    std::string user = fullUser, password = fullPassword;
    m_session.SetUserInfo(&user[0], &password[0]);
    ASSERT_EQ(m_session.CreateSharedMemForLoginInfo(), 1);
    m_session.m_pSharedInfo->nOnline = 0x41414141; // "AAAA" right after the 20-byte user ID

    LOGIN_INFO info = MakeLoginInfo("0");
    memset(info.abReserved1, 'X', sizeof(info.abReserved1)); // the tag has no terminator
    m_server.Enqueue(BinaryReply("40000", BytesOf(info)));

    DebugCapture capture;
    EXPECT_EQ(m_session.Communicate(SIG_REQ_LOGIN), 40000u);
    EXPECT_EQ(LastBody(), LoginRequestBytes(fullUser, fullPassword));
    EXPECT_EQ(memcmp(m_session.m_pSharedInfo->szUserID, fullUser.data(), 20), 0);
    EXPECT_EQ(m_session.m_pSharedInfo->nOnline, 0x41414141);
    EXPECT_EQ(DispatcherLines(capture.Lines()),
              (Lines{"[VLAgentClient] HttpOpenApp", "Signal [_%RES_LIN%_]",
                     "[CDRMLogin] Success : abcdefghijklmnopqrst"}));
}

TEST_F(CommunicateTest, Login_RefusedOrUnreachable_ReturnsStatusAndLeavesLoginInfoCleared)
{
    struct Row
    {
        const char* name;
        bool reachable;
        unsigned long expected;
    };
    const Row rows[] = {{"refused", true, 45005}, {"unreachable", false, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_EQ(m_session.CreateSharedMemForLoginInfo(), 1);
        if (row.reachable) {
            UseServer(m_server.Url("/vl/agent"));
            m_server.Enqueue(BinaryReply("45005", BytesOf(MakeLoginInfo("0"))));
        } else {
            UseServer("http://127.0.0.1:" + std::to_string(ScriptedHttpServer::UnusedPort()) + "/vl/agent");
        }
        memset(&m_session.m_LoginInfo, 0xAA, sizeof(m_session.m_LoginInfo));

        DebugCapture capture;
        EXPECT_EQ(m_session.Communicate(SIG_REQ_LOGIN), row.expected);
        EXPECT_TRUE(AllBytesAre(&m_session.m_LoginInfo, sizeof(m_session.m_LoginInfo), 0));
        EXPECT_EQ(m_session.m_pAppInfo, nullptr);
        EXPECT_EQ(m_session.CheckLogin(), 0);
        EXPECT_TRUE(capture.Contains("[CDRMLogin] Failed Login : " + std::to_string(row.expected)));
        m_session.DeleteSharedMemForLoginInfo();
    }
}

TEST_F(CommunicateTest, Login_WithoutSharedView_StoresTheReplyButIsNotPublished)
{
    m_server.Enqueue(BinaryReply("40000", BytesOf(MakeLoginInfo(std::to_string(kAppList.size()))) + kAppList));
    DebugCapture capture;
    EXPECT_EQ(m_session.Communicate(SIG_REQ_LOGIN), 0u);
    EXPECT_EQ(std::string(m_session.m_LoginInfo.szGroupID), "group-7");
    ASSERT_NE(m_session.m_pAppInfo, nullptr);
    EXPECT_EQ(std::string(m_session.m_pAppInfo), kAppList);
    EXPECT_FALSE(capture.Contains("[CDRMLogin] Success"));
}

TEST_F(CommunicateTest, Login_ApplicationListNeverReachesPastTheReply)
{
    struct Row
    {
        const char* lengthField;
        std::string sent;     // bytes after the fixed body
        std::string expected; // m_pAppInfo's text
    };
    const Row rows[] = {
        {"0", "", ""},
        {"0", "ignored", ""},
        {"5", "abcdefghij", "abcde"},
        {"40", "short", "short"},             // claims more than arrived
        {"99999999999999", "abc", "abc"},     // a huge claim
        {"1x", "abc", ""},                    // not a plain decimal number
        {" 3", "abc", ""},
        {"-3", "abc", ""},
    };
    ASSERT_EQ(m_session.CreateSharedMemForLoginInfo(), 1);
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("length field ") + row.lengthField);
        m_session.CrearSharedMemForLoginInfo();
        ASSERT_EQ(m_session.CreateSharedMemForLoginInfo(), 1);
        m_server.Enqueue(BinaryReply("40000", BytesOf(MakeLoginInfo(row.lengthField)) + row.sent));
        EXPECT_EQ(m_session.Communicate(SIG_REQ_LOGIN), 40000u);
        ASSERT_NE(m_session.m_pAppInfo, nullptr);
        EXPECT_EQ(std::string(m_session.m_pAppInfo), row.expected);
    }
}

TEST_F(CommunicateTest, Login_ShortReplyRecordFillsOnlyWhatArrived)
{
    ASSERT_EQ(m_session.CreateSharedMemForLoginInfo(), 1);
    const LOGIN_INFO full = MakeLoginInfo("5");
    m_server.Enqueue(BinaryReply("40000", BytesOf(full).substr(0, 100)));
    EXPECT_EQ(m_session.Communicate(SIG_REQ_LOGIN), 40000u);
    EXPECT_EQ(BytesOf(m_session.m_LoginInfo), BytesOf(full).substr(0, 100) + std::string(204, '\0'));
    ASSERT_NE(m_session.m_pAppInfo, nullptr);
    EXPECT_STREQ(m_session.m_pAppInfo, "");
}

// ---------------------------------------------------------------------------------------------
// Take-out

TAKEOUT_INFO MakeTakeOutRequest()
{
    TAKEOUT_INFO info;
    memset(&info, 0, sizeof(info));
    memset(info.abReserved1, 0x11, sizeof(info.abReserved1));
    PutText(info.szText, "visiting a customer");
    PutText(info.szStartDate, "20261201");
    PutText(info.szEndDate, "20261231");
    memset(info.abReserved2, 0x22, sizeof(info.abReserved2));
    info.nStatus = 0;
    return info;
}

TAKEOUT_MSG MakeTakeOutMsg(const std::string& key, int32_t status)
{
    TAKEOUT_MSG msg;
    memset(&msg, 0, sizeof(msg));
    PutText(msg.szSignal, "_%RES_OUT%_");
    PutText(msg.szTakeOutKey, key);
    msg.nStatus = status;
    return msg;
}

TEST_F(CommunicateTest, TakeOutRequest_SendsTheRecordAndRecordsKeyAndState)
{
    TAKEOUT_INFO request = MakeTakeOutRequest();
    m_session.SetTakeOutInfo(&request);
    const TAKEOUT_MSG reply = MakeTakeOutMsg("KEY-0042", 0);
    m_server.Enqueue(BinaryReply("40000", BytesOf(reply)));

    DebugCapture capture;
    EXPECT_EQ(m_session.Communicate(SIG_REQ_TAKEOUT), 40000u);
    memcpy(request.szSignal, "_%REQ_OUT%_", 11);
    EXPECT_EQ(LastBody(), BytesOf(request));
    EXPECT_EQ(BytesOf(m_session.m_TakeOutReply), BytesOf(reply));
    EXPECT_EQ(m_session.m_nTakeOutStatus, 0);
    EXPECT_EQ(m_ccf.Value("TakeOutStatus"), "0");
    DWORD type = 0;
    std::string stored;
    ASSERT_TRUE(m_registry.GetRaw("TakeOutKey", &type, &stored));
    EXPECT_EQ(stored, std::string("KEY-0042\0", 9));
    EXPECT_EQ(DispatcherLines(capture.Lines()),
              (Lines{"[VLAgentClient] HttpOpenApp", "[CDRMLogin] TakeOutKey : KEY-0042"}));
}

TEST_F(CommunicateTest, TakeOutRequest_KeyIsTakenUpToItsTerminatorOrItsWidth)
{
    const std::string fullKey(50, 'k');
    const std::pair<std::string, std::string> rows[] = {{"", ""}, {fullKey, fullKey}};
    for (const auto& row : rows) {
        SCOPED_TRACE("key of " + std::to_string(row.first.size()));
        TAKEOUT_MSG reply = MakeTakeOutMsg(row.first, 0);
        reply.nStatus = 0x6A6A6A6A; // bytes right after a full-width key
        m_server.Enqueue(BinaryReply("40000", BytesOf(reply)));
        EXPECT_EQ(m_session.Communicate(SIG_REQ_TAKEOUT), 40000u);
        std::string stored;
        ASSERT_TRUE(m_registry.GetRaw("TakeOutKey", nullptr, &stored));
        EXPECT_EQ(stored, row.second + std::string(1, '\0'));
    }
}

TEST_F(CommunicateTest, TakeOutRequest_Refused_ChangesNothing)
{
    m_server.Enqueue(BinaryReply("45001"));
    DebugCapture capture;
    EXPECT_EQ(m_session.Communicate(SIG_REQ_TAKEOUT), 45001u);
    EXPECT_EQ(m_session.m_nTakeOutStatus, 2);
    EXPECT_EQ(m_ccf.Value("TakeOutStatus"), "<absent>");
    EXPECT_FALSE(m_registry.GetRaw("TakeOutKey", nullptr, nullptr));
    EXPECT_TRUE(capture.Contains("[CDRMLogin] Failed TakeOut Request : 45001"));
}

// One row of the take-out state machine: the state before, the exchange and the server's answer,
// then the state, what reached the policy file and what the request carried.
struct StateRow
{
    const char* name;
    uint8_t before;
    int type;
    const char* status;
    int32_t replyStatus; // nStatus of a reference reply
    unsigned long result;
    uint8_t after;
    const char* ccfStatus; // "<absent>" when the policy file is not touched
    Lines lines;           // the dispatcher's lines after "[VLAgentClient] HttpOpenApp"
};

TEST_F(CommunicateTest, TakeOutStateMachine)
{
    const StateRow rows[] = {
        {"reference approved", 0, SIG_REQ_TAKEOUT_REF, "40000", 1, 40000, 1, "1",
         {"[CDRMLogin] STATUS_TAKEOUT_APPROVAL", "[CDRMLogin] REF : TakeOut[1]"}},
        {"reference refused", 0, SIG_REQ_TAKEOUT_REF, "40000", 3, 40000, 3, "2",
         {"[CDRMLogin] STATUS_TAKEOUT_REFUSE or STATUS_TAKEOUT_CANCEL", "[CDRMLogin] REF : TakeOut[3]"}},
        {"reference 257 is not approval", 0, SIG_REQ_TAKEOUT_REF, "40000", 257, 40000, 1, "2",
         {"[CDRMLogin] STATUS_TAKEOUT_REFUSE or STATUS_TAKEOUT_CANCEL", "[CDRMLogin] REF : TakeOut[1]"}},
        {"reference answered 45005", 1, SIG_REQ_TAKEOUT_REF, "45005", 0, 45005, 2, "<absent>", {}},
        {"reference failed", 1, SIG_REQ_TAKEOUT_REF, "45001", 0, 45001, 1, "<absent>", {}},
        {"edit accepted", 1, SIG_REQ_TAKEOUT_EDIT, "40000", 0, 40000, 1, "0", {}},
        {"edit failed", 1, SIG_REQ_TAKEOUT_EDIT, "45001", 0, 45001, 1, "<absent>", {}},
        {"delete accepted", 0, SIG_REQ_TAKEOUT_DEL, "40000", 0, 40000, 2, "2", {}},
        {"delete failed", 0, SIG_REQ_TAKEOUT_DEL, "45001", 0, 45001, 0, "<absent>", {}},
    };
    for (const StateRow& row : rows) {
        SCOPED_TRACE(row.name);
        CcfSandbox ccf;
        m_session.m_nTakeOutStatus = row.before;
        TAKEOUT_INFO info = MakeTakeOutRequest();
        TAKEOUT_MSG msg = MakeTakeOutMsg("KEY-9", 77);
        m_session.SetTakeOutInfo(&info);
        m_session.SetTakeOutMsg(&msg);

        TAKEOUT_INFO refReply = MakeTakeOutRequest();
        PutText(refReply.szSignal, "_%RES_REF%_");
        refReply.nStatus = row.replyStatus;
        const std::string record = row.type == SIG_REQ_TAKEOUT_REF ? BytesOf(refReply) : BytesOf(msg);
        m_server.Enqueue(BinaryReply(row.status, record));

        DebugCapture capture;
        EXPECT_EQ(m_session.Communicate(row.type), row.result);
        EXPECT_EQ(m_session.m_nTakeOutStatus, row.after);
        EXPECT_EQ(ccf.Value("TakeOutStatus"), row.ccfStatus);
        Lines expected{"[VLAgentClient] HttpOpenApp"};
        expected.insert(expected.end(), row.lines.begin(), row.lines.end());
        EXPECT_EQ(DispatcherLines(capture.Lines()), expected);

        const std::string body = LastBody();
        if (row.type == SIG_REQ_TAKEOUT_REF) {
            memcpy(msg.szSignal, "_%REQ_REF%_", 11);
            EXPECT_EQ(body, BytesOf(msg)) << "the reference sends the stored record as it is";
        } else if (row.type == SIG_REQ_TAKEOUT_EDIT) {
            memcpy(info.szSignal, "_%REQ_EDT%_", 11);
            info.nStatus = row.before;
            EXPECT_EQ(body, BytesOf(info)) << "edit sends the current state";
        } else {
            memcpy(msg.szSignal, "_%REQ_DEL%_", 11);
            msg.nStatus = row.before;
            EXPECT_EQ(body, BytesOf(msg)) << "delete sends the current state";
        }
        if (row.ccfStatus == std::string("1")) {
            EXPECT_EQ(ccf.Value("TakeOutStartDate"), "20261201");
            EXPECT_EQ(ccf.Value("TakeOutEndDate"), "20261231");
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Access-control data, level list, ping and the types that send nothing

TEST_F(CommunicateTest, AclAndLevelList_ExactRequestsAndWhatTheRepliesFill)
{
    m_session.m_nDocLevel = 0x01020304;
    ACL_REPLY acl;
    PutText(acl.szSignal, "_%RES_ACL%_");
    for (size_t i = 0; i < sizeof(acl.AclInfo.abData); ++i)
        acl.AclInfo.abData[i] = static_cast<uint8_t>(i + 1);
    m_server.Enqueue(BinaryReply("40000", BytesOf(acl)));
    EXPECT_EQ(m_session.Communicate(SIG_REQ_ACL), 40000u);
    EXPECT_EQ(LastBody(), "_%REQ_ACL%_" + Field(kUser, 20) + std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(BytesOf(m_session.m_AclInfo), BytesOf(acl.AclInfo));

    DOC_LEVEL_REPLY level;
    memset(&level, 0, sizeof(level));
    PutText(level.szSignal, "_%RES_LVL%_");
    level.LevelList.nCount = 3;
    for (int i = 0; i < 3; ++i) {
        level.LevelList.aLevels[i].nLevel = 10 * (i + 1);
        PutText(level.LevelList.aLevels[i].szName, "level-" + std::to_string(i));
    }
    PutText(level.LevelList.aLevels[5].szName, "left as sent");
    m_server.Enqueue(BinaryReply("40000", BytesOf(level)));
    EXPECT_EQ(m_session.Communicate(SIG_REQ_LEVEL), 40000u);
    EXPECT_EQ(LastBody(), "_%REQ_LVL%_");
    EXPECT_EQ(BytesOf(m_session.m_DocLevelList), BytesOf(level.LevelList));

    // Refusals leave what the last replies filled.
    m_server.Enqueue(BinaryReply("45001"));
    EXPECT_EQ(m_session.Communicate(SIG_REQ_ACL), 45001u);
    EXPECT_EQ(BytesOf(m_session.m_AclInfo), BytesOf(acl.AclInfo));
    m_server.Enqueue(BinaryReply("45001"));
    EXPECT_EQ(m_session.Communicate(SIG_REQ_LEVEL), 45001u);
    EXPECT_EQ(BytesOf(m_session.m_DocLevelList), BytesOf(level.LevelList));
}

TEST_F(CommunicateTest, Ping_PongIsSuccessAnythingElseIsLogged)
{
    m_server.Enqueue(ScriptedReply::WithBody("_%RES_PNG%_"));
    EXPECT_EQ(m_session.Communicate(SIG_REQ_PING), 40000u);
    EXPECT_EQ(LastBody(), "_%REQ_PNG%_");

    m_server.Enqueue(ScriptedReply::WithBody("_%RES_XXX%_"));
    DebugCapture capture;
    EXPECT_EQ(m_session.Communicate(SIG_REQ_PING), 0u);
    EXPECT_TRUE(capture.Contains("[CDRMLogin] Failed Ping : 0"));
}

TEST_F(CommunicateTest, TypesWithoutExchange_SendNothingAndCloseTheChannel)
{
    for (int type : {1, 9, 12, 0, -1}) {
        SCOPED_TRACE("type " + std::to_string(type));
        PoisonReplies();
        DebugCapture capture;
        EXPECT_EQ(m_session.Communicate(type), 40000u);
        EXPECT_TRUE(AllBytesAre(&m_session.m_TakeOutReply, sizeof(m_session.m_TakeOutReply), 0));
        EXPECT_TRUE(capture.Contains("InternetCloseHandle: m_hRequest"));
        EXPECT_TRUE(capture.Contains("InternetCloseHandle: m_hSession"));
    }
    EXPECT_EQ(m_server.RequestCount(), 0u);
}

TEST_F(CommunicateTest, NoChannel_OnlyTheLoginRecordIsCleared)
{
    UseServer("no-scheme-at-all");
    PoisonReplies();
    memset(&m_session.m_LoginReq, 0x33, sizeof(m_session.m_LoginReq));
    DebugCapture capture;
    EXPECT_EQ(m_session.Communicate(SIG_REQ_LOGIN), 0u);
    EXPECT_TRUE(AllBytesAre(&m_session.m_LoginReq, sizeof(m_session.m_LoginReq), 0));
    EXPECT_TRUE(AllBytesAre(&m_session.m_TakeOutReply, sizeof(m_session.m_TakeOutReply), 0xEE));
    EXPECT_TRUE(capture.Contains("[VLAgentClient] HttpConnectApp Failed") ||
                capture.Contains("[VLAgentClient] HttpRequestApp Failed"));
}

// ---------------------------------------------------------------------------------------------
// Web login

std::string WebReply(const std::string& result, const std::string& policies)
{
    return "<html><body>" + result + policies + "</body></html>\r\n  ";
}

TEST_F(CommunicateTest, WebLogin_ReadsThePolicyTagsAndKeepsWhatTheReplyDoesNotCarry)
{
    ASSERT_EQ(m_session.CreateSharedMemForLoginInfo(), 1);
    // What an earlier binary login left.
    PutText(m_session.m_LoginInfo.szGroupID, "old-group");
    PutText(m_session.m_LoginInfo.szDTSS, "old-dtss");
    m_session.m_LoginInfo.abAppFlags[6] = 9; // PDF
    PutText(m_session.m_LoginInfo.szAppInfoLen, "4");
    m_session.m_pAppInfo = static_cast<char*>(malloc(5));
    memcpy(m_session.m_pAppInfo, "kept", 5);

    const std::string policies =
        "<OFFLINEPOLICY>3</OFFLINEPOLICY><DOCEXCHANGEPOLICY>4</DOCEXCHANGEPOLICY>"
        "<COUNTCONTROL>1</COUNTCONTROL><TIMESYNC>257</TIMESYNC><ONLINECONTROL>2</ONLINECONTROL>"
        "<PROTECTREMOTETOOL>1</PROTECTREMOTETOOL>"
        "<COMPANY_SUPERKEY>superkey-0123456789</COMPANY_SUPERKEY><USER_POSCODE>pos-9</USER_POSCODE>"
        "<COMPANY_ID>company-name-longer-than-20</COMPANY_ID><DKMS>dkms.web</DKMS><DLS>dls.web</DLS>"
        "<XLS>1</XLS><DOC>2</DOC><PPT>0</PPT><HWP>1</HWP><GUL>3</GUL><TXT>1</TXT><KODAK>4</KODAK><DWG>5</DWG>";
    m_server.Enqueue(ScriptedReply::WithBody(WebReply("<Result>40000</Result>", policies)));

    DebugCapture capture;
    EXPECT_EQ(m_session.Communicate(SIG_REQ_WEB_LOGIN), 40000u);
    EXPECT_EQ(LastBody(), "USER_ID=user01&USER_PWD=pw01");
    EXPECT_EQ(BytesOf(m_session.m_LoginReq),
              std::string(11, '\0') + Field(kUser, 20) + Field(kPassword, 20) + std::string(10, '\0'));

    const LOGIN_INFO& info = m_session.m_LoginInfo;
    EXPECT_EQ(info.nOfflinePolicy, 3);
    EXPECT_EQ(info.nDocExchangePolicy, 4);
    EXPECT_EQ(info.nCountControl, 1);
    EXPECT_EQ(info.nTimeSync, 1) << "integer tags keep their low byte";
    EXPECT_EQ(info.nOnlineControl, 2);
    EXPECT_EQ(info.nProtectRemoteTool, 1);
    EXPECT_EQ(BytesOf(info.szSuperKey), Field("superkey-0123456", 16));
    EXPECT_EQ(BytesOf(info.szPositionID), Field("pos-9", 20));
    EXPECT_EQ(BytesOf(info.szCompanyID), Field("company-name-longer-", 20));
    EXPECT_EQ(BytesOf(info.szDKMS), Field("dkms.web", 50));
    EXPECT_EQ(BytesOf(info.szDTSS), Field("", 50)) << "a missing text tag leaves its field cleared";
    EXPECT_EQ(BytesOf(info.szDLS), Field("dls.web", 50));
    const uint8_t flags[10] = {2, 1, 0, 1, 3, 1, 9, 5, 4, 0}; // DOC XLS PPT HWP GUL TXT PDF DWG KODAK MSPAINT
    EXPECT_EQ(BytesOf(info.abAppFlags), std::string(reinterpret_cast<const char*>(flags), 10));
    EXPECT_EQ(std::string(info.szGroupID), "old-group");
    EXPECT_EQ(std::string(info.szAppInfoLen), "4");
    EXPECT_STREQ(m_session.m_pAppInfo, "kept");
    EXPECT_EQ(SharedUser(), kUser);

    EXPECT_EQ(DispatcherLines(capture.Lines()),
              (Lines{"[VLAgentClient] HttpOpenApp", "[SIG_REQ_WEB_LOGIN] start", "[CDRMLogin] Success : user01",
                     "[CDRMLogin] return- 40000"}));
}

TEST_F(CommunicateTest, WebLogin_RefusedOrUnpublishable)
{
    struct Row
    {
        const char* name;
        std::string reply;
        bool attach;
        unsigned long result;
        bool failedLine;
    };
    const Row rows[] = {
        {"refused", WebReply("<Result>45001</Result>", ""), true, 45001, true},
        {"no result", WebReply("<result>40000</result>", ""), true, 46000, true},
        {"accepted without a view", WebReply("<Result>40000</Result>", "<OFFLINEPOLICY>7</OFFLINEPOLICY>"), false,
         0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.attach) {
            ASSERT_EQ(m_session.CreateSharedMemForLoginInfo(), 1);
        }
        m_session.m_LoginInfo.nOfflinePolicy = 0;
        m_server.Enqueue(ScriptedReply::WithBody(row.reply));
        DebugCapture capture;
        EXPECT_EQ(m_session.Communicate(SIG_REQ_WEB_LOGIN), row.result);
        EXPECT_EQ(capture.Contains("[CDRMLogin] Failed Login : " + std::to_string(row.result)), row.failedLine);
        EXPECT_EQ(m_session.CheckLogin(), 0);
        EXPECT_EQ(m_session.m_LoginInfo.nOfflinePolicy, 0) << "no policy is read unless the user is published";
        m_session.DeleteSharedMemForLoginInfo();
    }
}

} // namespace
