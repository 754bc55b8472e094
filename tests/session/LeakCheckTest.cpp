// Leak checks: 250 exchanges of each request type, and 250 CCF writes, on one session as a host
// process would make them, leave the process's handle count and the bytes in use on its heap as
// they were, within a small slack: 4 handles, and 16 heap bytes a round. A leak of one handle or of
// one block a round shows whatever the count; 250 rounds keep the 32-bit runs under emulation short.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>

#include "CcfSandbox.h"
#include "DispatcherTestUtil.h"
#include "ProcessCounters.h"
#include "RegistrySandbox.h"
#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"
#include "WorkerWait.h"

using namespace vlagt::test;

namespace {

constexpr int kRuns = 250;
constexpr int kWarmUp = 20;           // the library's one-time allocations happen here
constexpr size_t kHandleSlack = 4;
constexpr size_t kHeapSlack = 16 * kRuns; // the test server's and the library's caches
// The worker queries' rounds take about 30 s under qemu-user emulation, several times that on a
// loaded machine; the bound only keeps a stuck run from holding the suite.
constexpr DWORD kTimeBoundMs = 240000;

const std::string kAppList = "app.exe|app.dll|word.exe|word.dll|";

std::string LoginRecord()
{
    LOGIN_INFO info;
    memset(&info, 0, sizeof(info));
    PutText(info.szSignal, "_%RES_LIN%_");
    PutText(info.szCompanyID, "company-1");
    PutText(info.szDKMS, "dkms.example:9000");
    info.abAppFlags[APP_FLAG_DOC] = 1;
    PutText(info.szAppInfoLen, std::to_string(kAppList.size()));
    return BytesOf(info) + kAppList;
}

// The server's answer to each request type, a success every time.
std::string SuccessBody(int type)
{
    switch (type) {
    case SIG_REQ_LOGIN:
        return "40000" + LoginRecord();
    case SIG_REQ_TAKEOUT_REF: {
        TAKEOUT_INFO reply;
        memset(&reply, 0, sizeof(reply));
        PutText(reply.szStartDate, "20240101");
        PutText(reply.szEndDate, "20240131");
        reply.nStatus = STATUS_TAKEOUT_APPROVAL;
        return "40000" + BytesOf(reply);
    }
    case SIG_REQ_TAKEOUT:
    case SIG_REQ_TAKEOUT_EDIT:
    case SIG_REQ_TAKEOUT_DEL: {
        TAKEOUT_MSG reply;
        memset(&reply, 0, sizeof(reply));
        PutText(reply.szTakeOutKey, "KEY-0001");
        return "40000" + BytesOf(reply);
    }
    case SIG_REQ_ACL:
        return "40000" + std::string(sizeof(ACL_REPLY), 'a');
    case SIG_REQ_LEVEL:
        return "40000" + std::string(sizeof(DOC_LEVEL_REPLY), '\x03');
    case SIG_REQ_PING:
        return "_%RES_PNG%_";
    default: // SIG_REQ_WEB_LOGIN
        return "<Result>40000</Result><OFFLINEPOLICY>3</OFFLINEPOLICY><COMPANY_ID>company-1</COMPANY_ID>"
               "<DKMS>dkms</DKMS><DOC>1</DOC>\r\n";
    }
}

// Runs `step` kWarmUp times, then kRuns times between two readings of the counters.
void ExpectNoGrowth(const std::function<void()>& step)
{
    for (int i = 0; i < kWarmUp; ++i)
        step();
    const size_t handles = HandleCount();
    const size_t heap = HeapBytesInUse();
    const DWORD start = GetTickCount();
    int done = 0;
    for (; done < kRuns && GetTickCount() - start < kTimeBoundMs; ++done)
        step();
    ASSERT_EQ(done, kRuns) << "the run did not end within its time bound";
    EXPECT_LE(HandleCount(), handles + kHandleSlack) << "handles before: " << handles;
    EXPECT_LE(HeapBytesInUse(), heap + kHeapSlack) << "heap bytes before: " << heap;
}

class LeakCheckTest : public ::testing::TestWithParam<int>
{
protected:
    void SetUp() override
    {
        m_server.RecordRequests(false);
        std::string url = m_server.Url("/vl/agent"), user = "user01", password = "pw01";
        m_session.SetServerIP(&url[0]);
        m_session.SetUserInfo(&user[0], &password[0]);
        ASSERT_EQ(m_session.CreateSharedMemForLoginInfo(), 1);
    }
    void TearDown() override { m_session.DeleteSharedMemForLoginInfo(); }

    RegistrySandbox m_registry;
    CcfSandbox m_ccf;
    ScriptedHttpServer m_server;
    CDRMLogin m_session;
};

TEST_P(LeakCheckTest, ExchangesLeaveHandlesAndHeapAsTheyWere)
{
    const int type = GetParam();
    m_server.SetDefaultReply(ScriptedReply::WithBody(SuccessBody(type)));
    int failures = 0;
    ExpectNoGrowth([&] {
        if (m_session.Communicate(type) != 40000)
            ++failures;
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(m_server.RequestCount(), static_cast<size_t>(kWarmUp + kRuns));
}

INSTANTIATE_TEST_SUITE_P(RequestTypes, LeakCheckTest,
                         ::testing::Values(SIG_REQ_LOGIN, SIG_REQ_TAKEOUT, SIG_REQ_TAKEOUT_REF, SIG_REQ_TAKEOUT_EDIT,
                                           SIG_REQ_TAKEOUT_DEL, SIG_REQ_ACL, SIG_REQ_LEVEL, SIG_REQ_PING,
                                           SIG_REQ_WEB_LOGIN),
                         [](const ::testing::TestParamInfo<int>& info) { return "Type" + std::to_string(info.param); });

TEST_F(LeakCheckTest, CcfWritesLeaveHandlesAndHeapAsTheyWere)
{
    m_server.SetDefaultReply(ScriptedReply::WithBody(SuccessBody(SIG_REQ_LOGIN)));
    ASSERT_EQ(m_session.Communicate(SIG_REQ_LOGIN), 40000u);
    ExpectNoGrowth([&] {
        m_session.FillCCFInfo();
        m_session.CreateCCF();
    });
    EXPECT_EQ(m_ccf.Value("CompanyID"), "company-1");
}

TEST_F(LeakCheckTest, AclQueriesAndPingsLeaveHandlesAndHeapAsTheyWere)
{
    // The workers read the server's URL from the registry; the server answers each query by kind.
    m_registry.SetString("VLDrmAgtSvr", m_server.Url("/vl/agent"));
    m_server.SetResponder([](const RecordedRequest& request) {
        if (request.body.rfind("_%REQ_LVL%_", 0) == 0)
            return ScriptedReply::WithBody(SuccessBody(SIG_REQ_LEVEL));
        if (request.body.rfind("_%REQ_ACL%_", 0) == 0)
            return ScriptedReply::WithBody(SuccessBody(SIG_REQ_ACL));
        return ScriptedReply::WithBody(SuccessBody(SIG_REQ_PING));
    });
    struct Query
    {
        const char* name;
        const char* mutex;
        std::function<int()> call;
    };
    const Query queries[] = {
        {"GetACLInfo", "VLAclInfo",
         [] {
             char user[] = "user01", level[] = "internal";
             ACL_INFO acl;
             return GetACLInfo(user, level, &acl);
         }},
        {"CheckPing", "VLPing", [] { return CheckPing(); }},
    };
    for (const Query& query : queries) {
        SCOPED_TRACE(query.name);
        int failures = 0;
        ExpectNoGrowth([&] {
            if (query.call() != 1)
                ++failures;
            // Each worker reports before it ends: let it end before the next reading.
            WaitForWorkersToEnd(query.mutex);
        });
        EXPECT_EQ(failures, 0);
    }
}

} // namespace
