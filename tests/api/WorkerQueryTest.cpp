// The worker queries GetACLInfo and CheckPing: the 3000 ms bound, the level choice, and that each
// call answers with its own worker's outcome only.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ApiCaller.h"
#include "HelperProcess.h"
#include "DebugCapture.h"
#include "DispatcherTestUtil.h"
#include "RegistrySandbox.h"
#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"
#include "api/LevelSearch.h"

using namespace vlagt::test;
using Lines = std::vector<std::string>;

namespace {

constexpr unsigned char kPoison = 0xA5;

struct Level
{
    int32_t level;
    std::string name;
};

// A level-list reply: status 40000, the tag, nCount (the number of entries unless given) and up to
// ten entries, zero-filled.
std::string LevelReply(const std::vector<Level>& entries, int count = -1)
{
    DOC_LEVEL_REPLY reply;
    memset(&reply, 0, sizeof(reply));
    PutText(reply.szSignal, "_%RES_LVL%_");
    reply.LevelList.nCount = static_cast<uint8_t>(count < 0 ? entries.size() : static_cast<size_t>(count));
    for (size_t i = 0; i < entries.size() && i < 10; ++i) {
        reply.LevelList.aLevels[i].nLevel = entries[i].level;
        PutText(reply.LevelList.aLevels[i].szName, entries[i].name);
    }
    return "40000" + BytesOf(reply);
}

ACL_INFO AclOf(unsigned char seed)
{
    ACL_INFO acl;
    for (size_t i = 0; i < sizeof(acl.abData); ++i)
        acl.abData[i] = static_cast<unsigned char>(seed + i);
    return acl;
}

std::string AclReply(const ACL_INFO& acl)
{
    ACL_REPLY reply;
    PutText(reply.szSignal, "_%RES_ACL%_");
    reply.AclInfo = acl;
    return "40000" + BytesOf(reply);
}

std::string AclRequest(const std::string& user, int32_t level)
{
    return "_%REQ_ACL%_" + Field(user, 20) + std::string(reinterpret_cast<const char*>(&level), 4);
}

ACL_INFO Poisoned()
{
    ACL_INFO acl;
    memset(&acl, kPoison, sizeof(acl));
    return acl;
}

bool IsPoisoned(const ACL_INFO& acl)
{
    return BytesOf(acl) == BytesOf(Poisoned());
}

// The lines that start with `prefix`.
Lines LinesOf(const DebugCapture& capture, const std::string& prefix)
{
    Lines picked;
    for (const std::string& line : capture.Lines())
        if (line.rfind(prefix, 0) == 0)
            picked.push_back(line);
    return picked;
}

struct Timed
{
    int result;
    DWORD elapsedMs;
};

Timed Time(const std::function<int()>& call)
{
    const DWORD start = GetTickCount();
    const int result = call();
    return {result, GetTickCount() - start};
}

// A worker of the kind holds its named mutex while it runs: wait until none does.
bool WaitForWorkersToEnd(const char* mutexName)
{
    for (int i = 0; i < 500; ++i) {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, mutexName);
        if (mutex == nullptr)
            return true;
        CloseHandle(mutex);
        Sleep(20);
    }
    return false;
}

bool WorkerRunning(const char* mutexName)
{
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, mutexName);
    if (mutex != nullptr)
        CloseHandle(mutex);
    return mutex != nullptr;
}

class WorkerQueryTest : public ::testing::Test
{
protected:
    void UseServer(const ScriptedHttpServer& server) { m_registry.SetString("VLDrmAgtSvr", server.Url("/vl/agent")); }

    int Acl(const std::string& user, const std::string& level, ACL_INFO* out)
    {
        std::string userText = user, levelText = level;
        return GetACLInfo(&userText[0], &levelText[0], out);
    }

    void TearDown() override
    {
        m_server.Stop();
        EXPECT_TRUE(WaitForWorkersToEnd("VLAclInfo"));
        EXPECT_TRUE(WaitForWorkersToEnd("VLPing"));
    }

    RegistrySandbox m_registry;
    DebugCapture m_capture;
    ScriptedHttpServer m_server;
};

// Every way of not getting the ACL costs the caller the whole bound, and no more.
TEST_F(WorkerQueryTest, AclFailures_ReturnZeroAfterTheBoundWithTheirLines)
{
    struct Row
    {
        const char* name;
        std::vector<ScriptedReply> script; // no script: no server URL
        Lines linesAtReturn;
    };
    const Row rows[] = {
        {"silent server", {ScriptedReply::NoReply()}, {"[GetACLInfo] FALSE : Time Out"}},
        {"slow level list", {ScriptedReply::WithBody(LevelReply({{1, "A"}})).Delay(3500)}, {"[GetACLInfo] FALSE : Time Out"}},
        {"failing level list",
         {BinaryReply("45001")},
         {"[GetACLInfo] DocLevel : 45001", "[GetACLInfo] FALSE : Time Out"}},
        {"no server URL", {}, {"[GetACLInfo] DocLevel : 0", "[GetACLInfo] FALSE : Time Out"}},
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

        ACL_INFO out = Poisoned();
        const Timed call = Time([&] { return Acl("user01", "A", &out); });
        EXPECT_EQ(call.result, 0);
        EXPECT_GE(call.elapsedMs, 3000u);
        EXPECT_LT(call.elapsedMs, 4000u);
        EXPECT_EQ(LinesOf(m_capture, "[GetACLInfo]"), row.linesAtReturn);
        if (!row.script.empty() && row.script[0].noReply) {
            EXPECT_TRUE(WorkerRunning("VLAclInfo")) << "the hung worker holds its named mutex";
        }

        server.Stop();
        EXPECT_TRUE(WaitForWorkersToEnd("VLAclInfo"));
        EXPECT_TRUE(IsPoisoned(out));
        EXPECT_EQ(LinesOf(m_capture, "[GetACLInfo] Get ACL"), Lines{}) << "no ACL request after a failed list";
    }
}

// A worker that succeeds after its caller gave up writes nothing into the caller's buffer.
TEST_F(WorkerQueryTest, LateSuccess_LeavesTheCallersBufferUntouched)
{
    UseServer(m_server);
    m_server.Enqueue(ScriptedReply::WithBody(LevelReply({{1, "A"}})));
    m_server.Enqueue(ScriptedReply::WithBody(AclReply(AclOf(1))).Delay(3500));

    ACL_INFO out = Poisoned();
    const Timed call = Time([&] { return Acl("user01", "A", &out); });
    EXPECT_EQ(call.result, 0);
    EXPECT_GE(call.elapsedMs, 3000u);
    EXPECT_LT(call.elapsedMs, 4000u);

    ASSERT_TRUE(WaitForWorkersToEnd("VLAclInfo"));
    EXPECT_TRUE(m_capture.Contains("[GetACLInfo] Get ACL : 40000")) << "the worker did succeed, late";
    EXPECT_TRUE(IsPoisoned(out));
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
        {"exact name", {{1, "Public"}, {2, "Secret"}}, -1, "user01", "Secret", "user01", 2},
        {"case ignored", {{7, "Confidential"}}, -1, "user01", "cONFIDENTIAL", "user01", 7},
        {"last match wins", {{3, "Secret"}, {4, "SECRET"}, {5, "Other"}}, -1, "user01", "secret", "user01", 4},
        {"no match sends 0", {{3, "A"}}, -1, "user01", "B", "user01", 0},
        {"entries past nCount are not searched", {{1, "A"}, {9, "B"}}, 1, "user01", "B", "user01", 0},
        {"nCount above 10 searches the 10 entries",
         {{1, "a"}, {2, "b"}, {3, "c"}, {4, "d"}, {5, "e"}, {6, "f"}, {7, "g"}, {8, "h"}, {9, "i"}, {10, "j"}},
         200, "user01", "J", "user01", 10},
        {"long texts are cut to 20 characters", {{6, twenty}}, -1, "u123456789012345678901234", twenty + "UVWXY",
         "u1234567890123456789", 6},
    };
    UseServer(m_server);
    size_t requests = 0;
    unsigned char seed = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const ACL_INFO acl = AclOf(++seed);
        m_server.Enqueue(ScriptedReply::WithBody(LevelReply(row.entries, row.count)));
        m_server.Enqueue(ScriptedReply::WithBody(AclReply(acl)));

        ACL_INFO out = Poisoned();
        EXPECT_EQ(Acl(row.user, row.levelName, &out), 1);
        EXPECT_EQ(BytesOf(out), BytesOf(acl));
        ASSERT_EQ(m_server.RequestCount(), requests + 2);
        EXPECT_EQ(m_server.Requests()[requests].body, "_%REQ_LVL%_");
        EXPECT_EQ(m_server.Requests()[requests + 1].body, AclRequest(row.sentUser, row.sentLevel));
        requests += 2;
    }
    EXPECT_EQ(LinesOf(m_capture, "[GetACLInfo] TRUE").size(), std::size(rows));
}

// The search itself, on lists that cannot come from the wire.
TEST(LevelSearchTest, OnlyTheListsOwnEntriesAndTheGivenComparison)
{
#pragma pack(push, 1)
    struct ListAndMore
    {
        DOC_LEVEL_LIST list;
        DOC_LEVEL beyond; // what follows the list in memory must never be read as an entry
    } memory;
#pragma pack(pop)
    memset(&memory, 0, sizeof(memory));
    memory.list.nCount = 11;
    memory.beyond.nLevel = 99;
    memcpy(memory.beyond.szName, "X", 1);
    auto caseSensitive = [](const char* left, const char* right) { return strcmp(left, right); };

    EXPECT_EQ(vlagt::FindDocLevel(memory.list, "X", caseSensitive, -1), -1);
    memory.list.aLevels[9].nLevel = 5;
    memcpy(memory.list.aLevels[9].szName, "Mixed", 5);
    EXPECT_EQ(vlagt::FindDocLevel(memory.list, "Mixed", caseSensitive, -1), 5);
    EXPECT_EQ(vlagt::FindDocLevel(memory.list, "mixed", caseSensitive, -1), -1) << "the comparison is the caller's";
    EXPECT_EQ(vlagt::FindDocLevel(memory.list, nullptr, caseSensitive, -1), 0) << "null is the empty name";
}

// Two calls in flight at once: the stalled one is not ended by the other's success, and each
// output holds its own worker's ACL or nothing.
TEST_F(WorkerQueryTest, ConcurrentCalls_EachGetsItsOwnWorkersResult)
{
    ScriptedHttpServer stalled;
    stalled.Enqueue(ScriptedReply::WithBody(LevelReply({{1, "A"}})));
    stalled.Enqueue(ScriptedReply::NoReply());
    UseServer(stalled);
    ACL_INFO stalledOut = Poisoned();
    Timed stalledCall = {};
    std::thread first([&] { stalledCall = Time([&] { return Acl("user01", "A", &stalledOut); }); });
    // Its worker has read the URL once its first request arrived; the next call gets another server.
    ASSERT_TRUE(stalled.WaitForRequests(1, 3000));

    const ACL_INFO acl = AclOf(7);
    m_server.Enqueue(ScriptedReply::WithBody(LevelReply({{2, "B"}})));
    m_server.Enqueue(ScriptedReply::WithBody(AclReply(acl)).Delay(500));
    UseServer(m_server);
    ACL_INFO answeredOut = Poisoned();
    const int answered = Acl("user02", "B", &answeredOut);
    first.join();

    EXPECT_EQ(answered, 1);
    EXPECT_EQ(BytesOf(answeredOut), BytesOf(acl));
    EXPECT_EQ(stalledCall.result, 0) << "another call's success must not end this wait";
    EXPECT_GE(stalledCall.elapsedMs, 3000u);
    EXPECT_TRUE(IsPoisoned(stalledOut));
    stalled.Stop();
}

TEST_F(WorkerQueryTest, SuccessThenFailure_TheSecondCallReturnsZero)
{
    UseServer(m_server);
    m_server.Enqueue(ScriptedReply::WithBody(LevelReply({{1, "A"}})));
    m_server.Enqueue(ScriptedReply::WithBody(AclReply(AclOf(3))));
    m_server.Enqueue(BinaryReply("45001"));

    ACL_INFO out = Poisoned();
    EXPECT_EQ(Acl("user01", "A", &out), 1);
    out = Poisoned();
    const Timed second = Time([&] { return Acl("user01", "A", &out); });
    EXPECT_EQ(second.result, 0) << "the first call's success must not answer the second";
    EXPECT_GE(second.elapsedMs, 3000u);
    EXPECT_TRUE(IsPoisoned(out));
    EXPECT_EQ(LinesOf(m_capture, "[GetACLInfo]"),
              (Lines{"[GetACLInfo] DocLevel : 40000", "[GetACLInfo] Get ACL : 40000", "[GetACLInfo] TRUE",
                     "[GetACLInfo] DocLevel : 45001", "[GetACLInfo] FALSE : Time Out"}));
}

TEST_F(WorkerQueryTest, Ping_AnsweredAtOnceOtherwiseZeroAfterTheBound)
{
    struct Row
    {
        const char* name;
        std::vector<ScriptedReply> script; // no script: no server URL
        int result;
        Lines lines;
    };
    const Row rows[] = {
        {"answered", {ScriptedReply::WithBody("_%RES_PNG%_")}, 1, {"[CheckPing] TRUE"}},
        {"wrong answer",
         {ScriptedReply::WithBody("_%RES_LIN%_")},
         0,
         {"[CheckPing] Communicate ERROR [0]", "[CheckPing] FALSE : Time Out"}},
        {"silent server", {ScriptedReply::NoReply()}, 0, {"[CheckPing] FALSE : Time Out"}},
        {"no server URL", {}, 0, {"[CheckPing] FALSE : Time Out"}},
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

        const Timed call = Time([] { return CheckPing(); });
        EXPECT_EQ(call.result, row.result);
        if (row.result == 0) {
            EXPECT_GE(call.elapsedMs, 3000u);
            EXPECT_LT(call.elapsedMs, 4000u);
        }
        EXPECT_EQ(LinesOf(m_capture, "[CheckPing]"), row.lines);
        if (!row.script.empty() && row.script[0].noReply) {
            EXPECT_TRUE(WorkerRunning("VLPing"));
        }
        EXPECT_EQ(server.RequestCount(), row.script.size());
        server.Stop();
        EXPECT_TRUE(WaitForWorkersToEnd("VLPing"));
    }
}

// A program that knows the module only by name gets the same answers.
TEST_F(WorkerQueryTest, ByName_AclAndPingFromAnotherProcess)
{
    UseServer(m_server);
    m_server.Enqueue(ScriptedReply::WithBody(LevelReply({{4, "Top"}})));
    m_server.Enqueue(ScriptedReply::WithBody(AclReply(AclOf(0x10))));
    m_server.Enqueue(ScriptedReply::WithBody("_%RES_PNG%_"));
    ApiCaller caller("acl:user01:top ping");
    ASSERT_EQ(caller.Wait(20000), 0);
    std::string hex;
    for (unsigned char byte : AclOf(0x10).abData) {
        char digits[3];
        snprintf(digits, sizeof(digits), "%02x", byte);
        hex += digits;
    }
    EXPECT_EQ(caller.Results(), (Lines{"acl 1 " + hex, "ping 1"}));
    ASSERT_EQ(m_server.RequestCount(), 3u);
    EXPECT_EQ(m_server.Requests()[1].body, AclRequest("user01", 4));
}

// A caller may unload the module after a call timed out: the worker still running holds the module
// until it ends, so its code stays mapped while it finishes.
TEST_F(WorkerQueryTest, UnloadAfterATimeOut_TheWorkerFinishesSafely)
{
    UseServer(m_server);
    m_server.Enqueue(ScriptedReply::WithBody(LevelReply({{1, "A"}})));
    m_server.Enqueue(ScriptedReply::NoReply());
    NamedEvent ready(UniqueName("vlready")), release(UniqueName("vlrelease"));
    ApiCaller caller("acl:user01:A unload hold:" + ready.Name() + ":" + release.Name());
    ASSERT_TRUE(ready.Wait(20000));
    std::string untouched;
    for (int i = 0; i < 42; ++i)
        untouched += "a5";
    EXPECT_EQ(caller.Results(), Lines{"acl 0 " + untouched});
    ASSERT_TRUE(WorkerRunning("VLAclInfo")) << "the worker still waits for the ACL reply";

    m_server.Stop(); // the worker's exchange fails now, in a module its caller has let go of
    EXPECT_TRUE(WaitForWorkersToEnd("VLAclInfo"));
    release.Set();
    EXPECT_EQ(caller.Wait(20000), 0) << "the process must outlive its worker";
}

} // namespace
