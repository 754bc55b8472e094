// Replies that grow without end, or past their bound, against the scripted server: the exchange
// fails, says why in one line and keeps nothing.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "ChannelTestUtil.h"
#include "DebugCapture.h"
#include "ProcessCounters.h"
#include "ScriptedHttpServer.h"
#include "transport/ReplyParse.h"

using vlagt::test::AllClosed;
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

Outcome Exchange(ScriptedHttpServer& server, bool web, const char* tooLongLine)
{
    DebugCapture capture;
    CWinInetApp app;
    OpenChannel(app, server.Url("/vl/agent.dll"));
    Outcome outcome{};
    if (web) {
        const LOGIN_REQ login = SomeWebLogin();
        outcome.result = app.UseHttpSendReqExWEB(&login);
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
        bool web;
        Framing framing;
    };
    const Row rows[] = {
        // Under Wine, once a chunked reply was cut off, the library reads the next endless
        // chunked reply of the process many times slower (a minute for 16 MiB): one chunked row.
        {"web, chunked", true, Framing::Chunked},
        {"web, ended by close", true, Framing::CloseDelimited},
        {"binary, ended by close", false, Framing::CloseDelimited},
    };
    const size_t before = HeapBytesInUse();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedHttpServer server;
        server.Enqueue(ScriptedReply::Endless(row.web ? "<Result>40000</Result>" : "40000", row.framing));
        const Outcome outcome = Exchange(server, row.web, row.web ? kWebTooLong : kBinaryTooLong);
        EXPECT_EQ(outcome.result, 0);
        EXPECT_EQ(outcome.tooLongLines, 1u);
        EXPECT_TRUE(outcome.keptNothing);
        EXPECT_TRUE(outcome.closed);
    }
    // Nothing of the replies stays behind in the process.
    EXPECT_LT(HeapBytesInUse(), before + 64u * 1024u);
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
