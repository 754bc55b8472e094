// The worker queries GetACLInfo and CheckPing: the 3000 ms bound, the level choice, and that each
// call answers with its own worker's outcome only.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "ApiCaller.h"
#include "DebugCapture.h"
#include "DispatcherTestUtil.h"
#include "RegistrySandbox.h"
#include "VLAgtClient.h"
#include "WorkerWait.h"

using namespace vlagt::test;
using Lines = std::vector<std::string>;

namespace {

struct Level
{
    int32_t level;
    std::string name;
};

// A level-list reply with these entries; nCount is their number unless given.
ScriptedReply LevelReply(const std::vector<Level>& entries, int count = -1)
{
    DOC_LEVEL_REPLY reply = {};
    reply.LevelList.nCount = static_cast<uint8_t>(count < 0 ? static_cast<int>(entries.size()) : count);
    for (size_t i = 0; i < entries.size(); ++i) {
        reply.LevelList.aLevels[i].nLevel = entries[i].level;
        PutText(reply.LevelList.aLevels[i].szName, entries[i].name);
    }
    return BinaryReply("40000", BytesOf(reply));
}

ACL_INFO AclOf(int seed)
{
    ACL_INFO acl;
    memset(&acl, seed, sizeof(acl));
    return acl;
}

ScriptedReply AclReply(const ACL_INFO& acl)
{
    return BinaryReply("40000", std::string(11, 'T') + BytesOf(acl));
}

std::string AclRequest(const std::string& user, int32_t level)
{
    return "_%REQ_ACL%_" + Field(user, 20) + BytesOf(level);
}

const ACL_INFO kPoison = AclOf(0xA5);

class WorkerQueryTest : public ::testing::Test
{
protected:
    void UseServer(const ScriptedHttpServer& server) { m_registry.SetString("VLDrmAgtSvr", server.Url("/vl")); }

    // One call; its result and how long it took.
    static std::pair<int, DWORD> Acl(std::string user, std::string level, ACL_INFO* out)
    {
        const DWORD start = GetTickCount();
        const int result = GetACLInfo(&user[0], &level[0], out);
        return {result, GetTickCount() - start};
    }

    Lines LinesOf(const std::string& prefix) const
    {
        Lines picked;
        for (const std::string& line : m_capture.Lines())
            if (line.rfind(prefix, 0) == 0)
                picked.push_back(line);
        return picked;
    }

    void TearDown() override
    {
        m_server.Stop();
        EXPECT_TRUE(WaitForWorkersToEnd("VLAclInfo") && WaitForWorkersToEnd("VLPing"));
    }

    RegistrySandbox m_registry;
    DebugCapture m_capture;
    ScriptedHttpServer m_server;
};

// Every way of not getting an answer costs the whole bound and no more; a worker that succeeds
// after its caller gave up leaves the caller's buffer as it was.
TEST_F(WorkerQueryTest, NoAnswer_ZeroBetween3000And4000MsWithTheLines)
{
    struct Row
    {
        const char* name;
        bool ping;
        std::vector<ScriptedReply> script; // empty: no server URL
        Lines lines;                       // the query's own lines once its worker ended
    };
    const Row rows[] = {
        {"silent server", false, {ScriptedReply::NoReply()}, {"[GetACLInfo] FALSE : Time Out", "[GetACLInfo] DocLevel : 0"}},
        {"failing level list", false, {BinaryReply("45001")}, {"[GetACLInfo] DocLevel : 45001", "[GetACLInfo] FALSE : Time Out"}},
        {"no server URL", false, {}, {"[GetACLInfo] DocLevel : 0", "[GetACLInfo] FALSE : Time Out"}},
        {"ACL after the bound", false, {LevelReply({{1, "A"}}), AclReply(AclOf(1)).Delay(3300)},
         {"[GetACLInfo] DocLevel : 40000", "[GetACLInfo] FALSE : Time Out", "[GetACLInfo] Get ACL : 40000"}},
        {"ping, wrong answer", true, {ScriptedReply::WithBody("_%RES_LIN%_")},
         {"[CheckPing] Communicate ERROR [0]", "[CheckPing] FALSE : Time Out"}},
        {"ping, silent server", true, {ScriptedReply::NoReply()}, {"[CheckPing] FALSE : Time Out", "[CheckPing] Communicate ERROR [0]"}},
        {"ping, no server URL", true, {}, {"[CheckPing] FALSE : Time Out"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedHttpServer server;
        m_registry.DeleteValue("VLDrmAgtSvr");
        if (!row.script.empty())
            UseServer(server);
        for (const ScriptedReply& reply : row.script)
            server.Enqueue(reply);
        m_capture.Clear();

        ACL_INFO out = kPoison;
        const DWORD start = GetTickCount();
        EXPECT_EQ(row.ping ? CheckPing() : Acl("user01", "A", &out).first, 0);
        const DWORD elapsed = GetTickCount() - start;
        EXPECT_TRUE(elapsed >= 3000 && elapsed < 4000) << elapsed << " ms";
        const char* mutex = row.ping ? "VLPing" : "VLAclInfo";
        if (!row.script.empty() && row.script[0].noReply) {
            HANDLE held = OpenMutexA(SYNCHRONIZE, FALSE, mutex);
            EXPECT_NE(held, nullptr) << "the hung worker holds its named mutex";
            CloseHandle(held);
        } else {
            EXPECT_TRUE(WaitForWorkersToEnd(mutex)); // a late worker finishes its exchanges
        }
        server.Stop();
        EXPECT_TRUE(WaitForWorkersToEnd(mutex));
        EXPECT_EQ(LinesOf(row.ping ? "[CheckPing]" : "[GetACLInfo]"), row.lines);
        EXPECT_EQ(BytesOf(out), BytesOf(kPoison));
    }
}

TEST_F(WorkerQueryTest, PingAnswered_OneAtOnce)
{
    UseServer(m_server);
    m_server.Enqueue(ScriptedReply::WithBody("_%RES_PNG%_"));
    EXPECT_EQ(CheckPing(), 1);
    EXPECT_EQ(LinesOf("[CheckPing]"), Lines{"[CheckPing] TRUE"});
}

// Which level the name selects, seen in the ACL request the server receives.
TEST_F(WorkerQueryTest, LevelChoice_TheAclRequestCarriesTheSelectedLevel)
{
    const std::string twenty = "ABCDEFGHIJKLMNOPQRST";
    struct Row
    {
        const char* name;
        std::vector<Level> entries;
        int count;
        std::string user, levelName, sentUser;
        int32_t sentLevel;
    };
    const Row rows[] = {
        {"case ignored", {{1, "Public"}, {7, "Confidential"}}, -1, "user01", "cONFIDENTIAL", "user01", 7},
        {"last match wins", {{3, "Secret"}, {4, "SECRET"}, {5, "Other"}}, -1, "user01", "secret", "user01", 4},
        {"no match sends 0", {{3, "A"}}, -1, "user01", "B", "user01", 0},
        {"entries past nCount are not searched", {{1, "A"}, {9, "B"}}, 1, "user01", "B", "user01", 0},
        {"nCount above 10: the 10 entries", {{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}, {5, "e"}, {6, "f"}, {7, "g"},
         {8, "h"}, {9, "i"}, {10, "j"}}, 200, "user01", "J", "user01", 10},
        {"texts cut to 20 characters", {{6, twenty}}, -1, "u123456789012345678901234", twenty + "UVWXY",
         "u1234567890123456789", 6},
    };
    UseServer(m_server);
    int seed = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ACL_INFO acl = AclOf(++seed);
        m_server.Enqueue(LevelReply(row.entries, row.count));
        m_server.Enqueue(AclReply(acl));
        ACL_INFO out = kPoison;
        EXPECT_EQ(Acl(row.user, row.levelName, &out).first, 1);
        EXPECT_EQ(BytesOf(out), BytesOf(acl));
        EXPECT_EQ(m_server.Requests().back().body, AclRequest(row.sentUser, row.sentLevel));
    }
}

// Two calls in flight: the stalled one is not ended by the other's success, and each output holds
// its own worker's ACL or nothing; then a failing call right after a success returns 0.
TEST_F(WorkerQueryTest, Isolation_EachCallAnswersWithItsOwnWorkersOutcome)
{
    ScriptedHttpServer stalled;
    stalled.Enqueue(LevelReply({{1, "A"}}));
    stalled.Enqueue(ScriptedReply::NoReply());
    UseServer(stalled);
    ACL_INFO stalledOut = kPoison;
    std::pair<int, DWORD> stalledCall;
    std::thread first([&] { stalledCall = Acl("user01", "A", &stalledOut); });
    ASSERT_TRUE(stalled.WaitForRequests(1, 3000)); // its worker has read the URL: switch servers
    m_server.Enqueue(LevelReply({{2, "B"}}));
    m_server.Enqueue(AclReply(AclOf(7)).Delay(500));
    UseServer(m_server);
    ACL_INFO out = kPoison;
    EXPECT_EQ(Acl("user02", "B", &out).first, 1);
    first.join();
    EXPECT_EQ(BytesOf(out), BytesOf(AclOf(7)));
    EXPECT_EQ(stalledCall.first, 0) << "another call's success must not end this wait";
    EXPECT_GE(stalledCall.second, 3000u);
    EXPECT_EQ(BytesOf(stalledOut), BytesOf(kPoison));
    stalled.Stop();

    m_server.Enqueue(BinaryReply("45001"));
    out = kPoison;
    EXPECT_EQ(Acl("user02", "B", &out).first, 0) << "the earlier success must not answer this call";
    EXPECT_EQ(BytesOf(out), BytesOf(kPoison));
}

// A program that knows the module only by name gets the same answers, and may unload the module
// while a worker of a timed-out call still runs: the worker holds the module until it ends.
TEST_F(WorkerQueryTest, ByName_AnswersAndUnloadingBesideARunningWorker)
{
    UseServer(m_server);
    for (ScriptedReply reply : {LevelReply({{4, "Top"}}), AclReply(AclOf(0x10)),
                                ScriptedReply::WithBody("_%RES_PNG%_"), LevelReply({{4, "Top"}}), ScriptedReply::NoReply()})
        m_server.Enqueue(reply);
    NamedEvent ready(UniqueName("vlready")), release(UniqueName("vlrelease"));
    ApiCaller caller("acl:user01:top ping acl:user01:top unload hold:" + ready.Name() + ":" + release.Name());
    ASSERT_TRUE(ready.Wait(20000));
    std::string answered, untouched;
    for (int i = 0; i < 42; ++i) {
        answered += "10";
        untouched += "a5";
    }
    EXPECT_EQ(caller.Results(), (Lines{"acl 1 " + answered, "ping 1", "acl 0 " + untouched}));
    EXPECT_EQ(m_server.Requests()[1].body, AclRequest("user01", 4));

    m_server.Stop(); // the worker's exchange fails now, in a module its caller let go of
    EXPECT_TRUE(WaitForWorkersToEnd("VLAclInfo"));
    release.Set();
    EXPECT_EQ(caller.Wait(20000), 0) << "the process must outlive its worker";
}

} // namespace
