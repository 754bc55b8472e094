// Replies that grow without end, or past their bound, against the scripted server: the exchange
// fails, says why in one line and keeps nothing.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ApiCaller.h"
#include "ChannelTestUtil.h"
#include "CcfSandbox.h"
#include "DebugCapture.h"
#include "HelperProcess.h"
#include "ProcessCounters.h"
#include "RegistrySandbox.h"
#include "ScriptedHttpServer.h"
#include "transport/ReplyCloser.h"
#include "transport/ReplyParse.h"

using vlagt::test::AllClosed;
using vlagt::test::ApiCaller;
using vlagt::test::CcfSandbox;
using vlagt::test::NamedEvent;
using vlagt::test::RegistrySandbox;
using vlagt::test::UniqueName;
using vlagt::test::CloseLines;
using vlagt::test::CountLinesStartingWith;
using vlagt::test::DebugCapture;
using vlagt::test::HasRun;
using vlagt::test::OpenChannel;
using vlagt::test::ScriptedHttpServer;
using vlagt::test::ScriptedReply;

namespace {

using Framing = ScriptedReply::Framing;

const char kBinaryTooLong[] = "[UseHttpSendReqEx] reply longer than 16777216 bytes: not read further, nothing kept";
const char kWebTooLong[] = "[UseHttpSendReqExWEB] reply longer than 1048576 bytes: not read further, nothing kept";
const char kPingTooLong[] = "[UseHttpSendReqExPING] reply longer than 65536 bytes: not read further";
using Lines = std::vector<std::string>;

// Waits until no closing thread of a cut-off reply runs any more.
bool WaitForClosesToEnd(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (vlagt::CutOffClosesRunning() > 0) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

using vlagt::test::HeapBytesInUse;

LOGIN_REQ SomeWebLogin()
{
    LOGIN_REQ login{};
    memcpy(login.szUserID, "alice", 5);
    memcpy(login.szUserPW, "pw", 2);
    return login;
}

// One exchange of either kind on a fresh channel; the failure lines and the outcome checked alike.
struct Outcome
{
    int result;
    size_t tooLongLines;
    bool keptNothing;
    bool closed;
};

enum class Call
{
    Binary,
    Web,
    Ping
};

Outcome Exchange(ScriptedHttpServer& server, Call call, const char* tooLongLine)
{
    DebugCapture capture;
    CWinInetApp app;
    OpenChannel(app, server.Url("/vl/agent.dll"));
    Outcome outcome{};
    if (call == Call::Web) {
        const LOGIN_REQ login = SomeWebLogin();
        outcome.result = app.UseHttpSendReqExWEB(&login);
    } else if (call == Call::Ping) {
        outcome.result = app.UseHttpSendReqExPING();
    } else {
        outcome.result = app.UseHttpSendReqEx("_%REQ_LIN%_", 11, nullptr, 0);
    }
    outcome.tooLongLines = CountLinesStartingWith(capture.Lines(), tooLongLine);
    outcome.keptNothing = !app.m_pBuffer && app.m_dwBufferLen == 0 && app.m_vecReply.capacity() == 0;
    outcome.closed = AllClosed(app) && HasRun(capture.Lines(), CloseLines());
    return outcome;
}

TEST(ReplyBoundTest, EndlessReplyFailsAtTheBoundAndKeepsNothing)
{
    struct Row
    {
        const char* name;
        Call call;
        Framing framing;
    };
    const Row rows[] = {
        {"web, chunked", Call::Web, Framing::Chunked},
        {"web, ended by close", Call::Web, Framing::CloseDelimited},
        {"binary, chunked", Call::Binary, Framing::Chunked},
        {"binary, ended by close", Call::Binary, Framing::CloseDelimited},
        {"binary, Content-Length past the bound", Call::Binary, Framing::ContentLength},
        // Pongs without end: the ping stops at its own bound.
        {"ping, chunked", Call::Ping, Framing::Chunked},
    };
    const size_t before = HeapBytesInUse();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedHttpServer server;
        const char* prefix = row.call == Call::Web ? "<Result>40000</Result>" : row.call == Call::Ping ? "" : "40000";
        ScriptedReply reply = ScriptedReply::Endless(prefix, row.framing);
        if (row.call == Call::Ping)
            reply.filler = "_%RES_PNG%_";
        server.Enqueue(reply);
        const char* line = row.call == Call::Web ? kWebTooLong : row.call == Call::Ping ? kPingTooLong : kBinaryTooLong;
        const DWORD start = GetTickCount();
        const Outcome outcome = Exchange(server, row.call, line);
        EXPECT_LT(GetTickCount() - start, 10000u) << "the call must end soon after the bound";
        EXPECT_EQ(outcome.result, 0);
        EXPECT_EQ(outcome.tooLongLines, 1u);
        EXPECT_TRUE(outcome.keptNothing);
        EXPECT_TRUE(outcome.closed);
        server.Stop(); // the close of the cut-off reply ends with the server
        EXPECT_TRUE(WaitForClosesToEnd(30000));
    }
    // Nothing of the replies stays behind in the process.
    EXPECT_LT(HeapBytesInUse(), before + 64u * 1024u);
}

// A caller may unload the module while the close of a cut-off reply still runs: the closing thread
// keeps the module until the close has ended and then lets it go; a process may also end meanwhile.
TEST(ReplyBoundTest, ModuleUnloadsBesideTheCloseOfACutOffReply)
{
    RegistrySandbox registry;
    CcfSandbox ccf;
    {
        ScriptedHttpServer server;
        server.Enqueue(ScriptedReply::Endless("40000", Framing::Chunked));
        NamedEvent ready(UniqueName("vlready")), release(UniqueName("vlrelease"));
        ApiCaller caller("url:" + server.Url("/vl/agent.dll") + " login:user01:pw01 unload loaded hold:" +
                         ready.Name() + ":" + release.Name() + " waitunload:30000");
        ASSERT_TRUE(ready.Wait(60000));
        EXPECT_EQ(caller.Results(), (Lines{"login 0", "loaded 1"})) << "the closing thread holds the module";
        server.Stop(); // the close ends, and the module leaves the process
        release.Set();
        EXPECT_EQ(caller.Wait(60000), 0);
        EXPECT_EQ(caller.Results(), (Lines{"login 0", "loaded 1", "waitunload 1"}));
    }
    {
        ScriptedHttpServer server;
        server.Enqueue(ScriptedReply::Endless("40000", Framing::Chunked));
        ApiCaller caller("url:" + server.Url("/vl/agent.dll") + " login:user01:pw01 unload loaded");
        EXPECT_EQ(caller.Wait(60000), 0) << "the process ends cleanly while the close still runs";
        EXPECT_EQ(caller.Results(), (Lines{"login 0", "loaded 1"}));
    }
}

// An agent that polls a server answering every exchange without end: at most kMaxCutOffCloses
// closes run (each holds a thread, a socket and a module reference); the exchanges past them are
// refused before anything is sent. Once the server stops, the closes end and the module unloads.
TEST(ReplyBoundTest, ClosesOfCutOffRepliesAreCapped)
{
    RegistrySandbox registry;
    CcfSandbox ccf;
    constexpr int kExchanges = 200;
    ScriptedHttpServer server;
    server.RecordRequests(false);
    server.SetDefaultReply(ScriptedReply::Endless("40000", Framing::Chunked));
    NamedEvent ready(UniqueName("vlready")), release(UniqueName("vlrelease"));
    ApiCaller caller("url:" + server.Url("/vl/agent.dll") + " threads repeat:" + std::to_string(kExchanges) +
                     " login:user01:pw01 threads unload loaded hold:" + ready.Name() + ":" + release.Name() +
                     " waitunload:60000");
    const bool held = ready.Wait(240000);
    EXPECT_TRUE(held);
    EXPECT_EQ(server.RequestCount(), static_cast<size_t>(vlagt::kMaxCutOffCloses))
        << "past the cap nothing is sent";
    server.Stop(); // the closes end, and the module leaves the process
    release.Set();
    EXPECT_EQ(caller.Wait(90000), 0);
    const Lines after = caller.Results();
    ASSERT_EQ(after.size(), static_cast<size_t>(kExchanges) + 4);
    EXPECT_EQ(std::count(after.begin() + 1, after.begin() + 1 + kExchanges, std::string("login 0")), kExchanges);
    const int before = atoi(after.front().c_str() + 8);
    const int during = atoi(after[kExchanges + 1].c_str() + 8);
    EXPECT_GT(before, 0);
    EXPECT_LE(during, before + vlagt::kMaxCutOffCloses) << after[kExchanges + 1];
    EXPECT_EQ(after[kExchanges + 2], "loaded 1") << "the closing threads hold the module";
    EXPECT_EQ(after.back(), "waitunload 1");
}

TEST(ReplyBoundTest, RepliesUpToTheBoundAreRead)
{
    struct Row
    {
        const char* name;
        bool web;
        size_t length; // whole body, status included
        int result;
    };
    const Row rows[] = {
        {"binary of 10 MB", false, 10u * 1000u * 1000u, 40000},
        {"binary of exactly 16 MiB", false, vlagt::kMaxBinaryReply, 40000},
        {"binary one byte past 16 MiB", false, vlagt::kMaxBinaryReply + 1, 0},
        {"web of exactly 1 MiB", true, vlagt::kMaxWebReply, 40000},
        {"web one byte past 1 MiB", true, vlagt::kMaxWebReply + 1, 0},
        {"web of 10 MB", true, 10u * 1000u * 1000u, 0},
    };
    ScriptedHttpServer server;
    for (const Row& row : rows) {
        std::string body = row.web ? "<Result>40000</Result>" : "40000";
        body.resize(row.length, 'y');
        server.Enqueue(ScriptedReply::WithBody(std::move(body)));
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DebugCapture capture;
        CWinInetApp app;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
        int result;
        if (row.web) {
            const LOGIN_REQ login = SomeWebLogin();
            result = app.UseHttpSendReqExWEB(&login);
        } else {
            result = app.UseHttpSendReqEx("_%REQ_LIN%_", 11, nullptr, 0);
        }
        EXPECT_EQ(result, row.result);
        EXPECT_TRUE(AllClosed(app));
        const size_t tooLong = CountLinesStartingWith(capture.Lines(), row.web ? kWebTooLong : kBinaryTooLong);
        EXPECT_EQ(tooLong, row.result == 0 ? 1u : 0u);
        if (row.result == 0) {
            EXPECT_FALSE(app.m_pBuffer);
        } else if (!row.web) {
            EXPECT_EQ(app.m_dwBufferLen, row.length - 5);
        } else {
            EXPECT_EQ(app.m_dwBufferLen, 9999u) << "a web reply keeps its first 9,999 bytes";
        }
    }
}

} // namespace
