#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ApiCaller.h"
#include "CcfSandbox.h"
#include "DispatcherTestUtil.h"
#include "HelperProcess.h"
#include "RegistrySandbox.h"
#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"

using namespace vlagt::test;
using Lines = std::vector<std::string>;

namespace {

std::string LoginReply(const std::string& status)
{
    LOGIN_INFO info;
    memset(&info, 0, sizeof(info));
    PutText(info.szSignal, "_%RES_LIN%_");
    PutText(info.szAppInfoLen, "0");
    return status + BytesOf(info);
}

std::string LoginRequestBytes(const std::string& user, const std::string& password)
{
    return "_%REQ_LIN%_" + Field(user, 20) + Field(password, 20) + "kesmor" + std::string(4, '\0');
}

class ExportsTest : public ::testing::Test
{
protected:
    std::string UrlStep() const { return "url:" + m_server.Url("/vl/agent"); }

    RegistrySandbox m_registry;
    CcfSandbox m_ccf;
    ScriptedHttpServer m_server;
};

TEST_F(ExportsTest, LoginByNameReachesTheServerAndIsSeenByEveryProcess)
{
    m_server.Enqueue(ScriptedReply::WithBody(LoginReply("40000")));
    NamedEvent ready(UniqueName("vlready")), release(UniqueName("vlrelease"));
    ApiCaller first(UrlStep() + " login:user01:pw01 hold:" + ready.Name() + ":" + release.Name());
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(ready.Wait(20000));
    EXPECT_EQ(first.Results(), Lines{"login 40000"});
    ASSERT_EQ(m_server.RequestCount(), 1u);
    EXPECT_EQ(m_server.Requests()[0].body, LoginRequestBytes("user01", "pw01"));

    // This process sees the user in the shared record.
    CDRMLogin reader;
    ASSERT_EQ(reader.CreateSharedMemForLoginInfo(), 1);
    EXPECT_EQ(reader.CheckLogin(), 1);
    EXPECT_EQ(std::string(reader.m_pSharedInfo->szUserID, strnlen(reader.m_pSharedInfo->szUserID, 20)), "user01");

    // A second login in another process of the logon is refused without a request.
    ApiCaller second(UrlStep() + " login:user02:pw02");
    ASSERT_EQ(second.Wait(20000), 0);
    EXPECT_EQ(second.Results(), Lines{"login 0"});
    EXPECT_EQ(m_server.RequestCount(), 1u);

    release.Set();
    EXPECT_EQ(first.Wait(20000), 0);
    reader.DeleteSharedMemForLoginInfo();
}

TEST_F(ExportsTest, RefusedLoginLeavesTheRecordEmptySoARetrySendsAgain)
{
    m_server.Enqueue(ScriptedReply::WithBody(LoginReply("45003")));
    m_server.Enqueue(ScriptedReply::WithBody(LoginReply("40000")));
    ApiCaller caller(UrlStep() + " login:user01:wrong login:user01:right login:user01:again");
    ASSERT_EQ(caller.Wait(20000), 0);
    EXPECT_EQ(caller.Results(), (Lines{"login 45003", "login 40000", "login 0"}));
    ASSERT_EQ(m_server.RequestCount(), 2u);
    EXPECT_EQ(m_server.Requests()[1].body, LoginRequestBytes("user01", "right"));
}

TEST_F(ExportsTest, TakeOutBeforeLoginSendsTheStoredZerosAfterLoginTheCallersBlocks)
{
    TAKEOUT_MSG reply;
    memset(&reply, 0, sizeof(reply));
    PutText(reply.szTakeOutKey, "KEY-1");
    m_server.Enqueue(ScriptedReply::WithBody("40000" + BytesOf(reply)));
    m_server.Enqueue(ScriptedReply::WithBody(LoginReply("40000")));
    m_server.Enqueue(ScriptedReply::WithBody("40000" + BytesOf(reply)));

    ApiCaller caller(UrlStep() + " takeout:20261201:20261231:trip:1 settakeoutinfo login:user01:pw01" +
                     " takeout:20261201:20261231:trip:1 recovery");
    ASSERT_EQ(caller.Wait(20000), 0);
    EXPECT_EQ(caller.Results(), (Lines{"takeout 40000", "login 40000", "takeout 40000", "recovery 1"}));
    ASSERT_EQ(m_server.RequestCount(), 3u);

    TAKEOUT_INFO zeros;
    memset(&zeros, 0, sizeof(zeros));
    memcpy(zeros.szSignal, "_%REQ_OUT%_", 11);
    EXPECT_EQ(m_server.Requests()[0].body, BytesOf(zeros)) << "no user yet: the caller's record is dropped";

    TAKEOUT_INFO expected = zeros;
    PutText(expected.szText, "trip");
    memcpy(expected.szStartDate, "20261201", 8);
    memcpy(expected.szEndDate, "20261231", 8);
    expected.nStatus = 1;
    EXPECT_EQ(m_server.Requests()[2].body, BytesOf(expected));
}

TEST_F(ExportsTest, RecoveryAndSetTakeOutInfoChangeNothing)
{
    ApiCaller caller("recovery settakeoutinfo recovery");
    ASSERT_EQ(caller.Wait(20000), 0);
    EXPECT_EQ(caller.Results(), (Lines{"recovery 1", "recovery 1"}));
    EXPECT_EQ(m_server.RequestCount(), 0u);
}

// The exports serialise on the process-wide session: two threads logging in at once send one
// request, and exactly one of them succeeds.
TEST_F(ExportsTest, ConcurrentLoginsInOneProcessSendOneRequest)
{
    m_server.Enqueue(ScriptedReply::WithBody(LoginReply("40000")).Delay(300));
    m_server.Enqueue(ScriptedReply::WithBody(LoginReply("40000")));
    std::string url = m_server.Url("/vl/agent");
    SetServerIP(&url[0]);

    unsigned long results[2] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&results, i] {
            std::string user = "user0" + std::to_string(i), password = "pw";
            results[i] = DRMAgentLogin(&user[0], &password[0]);
        });
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(m_server.RequestCount(), 1u);
    EXPECT_EQ(results[0] + results[1], 40000u) << results[0] << " and " << results[1];

    CDRMLogin reader;
    ASSERT_EQ(reader.CreateSharedMemForLoginInfo(), 1);
    const std::string published(reader.m_pSharedInfo->szUserID, strnlen(reader.m_pSharedInfo->szUserID, 20));
    EXPECT_EQ(published, results[0] == 40000u ? "user00" : "user01");
    reader.DeleteSharedMemForLoginInfo();
}

} // namespace
