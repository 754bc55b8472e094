// The HTTP channel, the binary signal exchange and the ping, against the scripted server.
#include <gtest/gtest.h>

#include <string.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "ChannelTestUtil.h"
#include "DebugCapture.h"
#include "ScriptedHttpServer.h"

using vlagt::test::AllClosed;
using vlagt::test::CloseLines;
using vlagt::test::CountLinesStartingWith;
using vlagt::test::DebugCapture;
using vlagt::test::HasRun;
using vlagt::test::HexOf;
using vlagt::test::Lines;
using vlagt::test::OpenChannel;
using vlagt::test::RecordedRequest;
using vlagt::test::ScriptedHttpServer;
using vlagt::test::ScriptedReply;

namespace {

std::string Zeros(size_t n)
{
    return std::string(n, '\0');
}

// A 304-byte reply record without a single zero byte, so that any read past it would show.
std::string DenseRecord(size_t length = 304)
{
    std::string record;
    for (size_t i = 0; i < length; ++i)
        record += static_cast<char>('A' + i % 26);
    return record;
}

// ---- Server URL ---------------------------------------------------------------------------------

TEST(CWinInetAppUrlTest, SplitsHostPortAndPath)
{
    struct Row
    {
        const char* url;
        const char* host;
        DWORD port;
        const char* path;
    };
    const Row rows[] = {
        {"http://policy.example/vl/agent.dll", "policy.example", 80, "/vl/agent.dll"},
        {"http://10.1.2.3:8080/vl/agent.dll?a=1&b=2", "10.1.2.3", 8080, "/vl/agent.dll"},
        {"http://policy.example:0/x", "policy.example", 80, "/x"},
        {"http://policy.example/my%20dir/a%2Bb", "policy.example", 80, "/my dir/a+b"},
        {"https://policy.example/x", "policy.example", 443, "/x"},
        {"https://policy.example:0/x", "policy.example", 443, "/x"},
        {"https://127.0.0.1:8443/vl/agent?q=1", "127.0.0.1", 8443, "/vl/agent"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        DebugCapture capture;
        CWinInetApp app;
        app.SetServerIP(row.url);
        EXPECT_STREQ(app.m_szServerIP, row.host);
        EXPECT_EQ(app.m_nServerPort, row.port);
        EXPECT_STREQ(app.m_szServerDLL, row.path);
        EXPECT_EQ(capture.Lines(),
                  Lines{"SetServerIP:  m_szServerIP = " + std::string(row.host) + ", m_nServerPort = " +
                        std::to_string(row.port) + ", m_szServerDLL =" + row.path});
    }
}

TEST(CWinInetAppUrlTest, RejectedUrlLeavesNothingToConnectTo)
{
    const std::string longHost = "http://" + std::string(128, 'h') + "/x";
    const std::string longPath = "http://host/" + std::string(130, 'p');
    const std::string rows[] = {"", "policy.example/x", "nosuch://policy.example/x", longHost, longPath};
    for (const std::string& url : rows) {
        SCOPED_TRACE(url);
        CWinInetApp app;
        // A URL parsed before must not leak into the rejected one.
        app.SetServerIP("http://stale.example:81/stale");
        app.SetServerIP(url.c_str());
        EXPECT_STREQ(app.m_szServerIP, "");
        EXPECT_STREQ(app.m_szServerDLL, "");
        EXPECT_EQ(app.m_nServerPort, 0u);
    }
}

// ---- Channel states -----------------------------------------------------------------------------

TEST(CWinInetAppChannelTest, StepsWithoutTheirHandleFailAndCloseNothing)
{
    DebugCapture capture;
    {
        CWinInetApp app;
        EXPECT_EQ(app.HttpConnectApp(), 0);
        EXPECT_EQ(app.HttpRequestApp(), 0);
        EXPECT_EQ(capture.Lines(), (Lines{"HttpConnectApp: m_hSession = 0", "HttpRequestApp  m_hConnect Error"}));
    }
    EXPECT_EQ(capture.Lines().size(), 2u) << "destroying an empty channel writes nothing";

    capture.Clear();
    CWinInetApp app;
    app.HttpOpenApp();
    ASSERT_TRUE(app.m_hSession);
    const std::string session = HexOf(app.m_hSession.Get());
    EXPECT_EQ(app.HttpRequestApp(), 0);
    EXPECT_TRUE(app.m_hSession) << "a request without connection closes nothing";
    app.WinInetAppCloseHandle();
    app.WinInetAppCloseHandle();
    EXPECT_EQ(capture.Lines(), (Lines{"HttpOpenApp: m_hSession = " + session, "HttpRequestApp  m_hConnect Error",
                                      "InternetCloseHandle: m_hSession"}));
}

TEST(CWinInetAppChannelTest, OpeningLogsEachHandleAndDiscardingReadyChannelClosesAll)
{
    ScriptedHttpServer server;
    DebugCapture capture;
    std::string session, connect, request;
    {
        CWinInetApp app;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
        session = HexOf(app.m_hSession.Get());
        connect = HexOf(app.m_hConnect.Get());
        request = HexOf(app.m_hRequest.Get());
    }
    Lines expected{"SetServerIP:  m_szServerIP = 127.0.0.1, m_nServerPort = " + std::to_string(server.Port()) +
                       ", m_szServerDLL =/vl/agent.dll",
                   "HttpOpenApp: m_hSession = " + session, "HttpConnectApp: m_hConnect = " + connect,
                   "HttpRequestApp  m_hRequest = " + request};
    expected.insert(expected.end(), CloseLines().begin(), CloseLines().end());
    EXPECT_EQ(capture.Lines(), expected);
    EXPECT_EQ(server.RequestCount(), 0u) << "no exchange, nothing sent";
}

// The request of an https URL asks the library for TLS; that of an http URL does not.
TEST(CWinInetAppChannelTest, HttpsUrlOpensASecureRequest)
{
    for (const char* scheme : {"http", "https"}) {
        SCOPED_TRACE(scheme);
        CWinInetApp app;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(app, std::string(scheme) + "://127.0.0.1:8443/vl/agent"));
        char url[256] = {};
        DWORD length = sizeof(url);
        ASSERT_TRUE(InternetQueryOptionA(app.m_hRequest.Get(), INTERNET_OPTION_URL, url, &length));
        EXPECT_EQ(std::string(url), std::string(scheme) + "://127.0.0.1:8443/vl/agent");
        app.WinInetAppCloseHandle();
    }
}

TEST(CWinInetAppChannelTest, FailedStepsLeaveNoHandleOpen)
{
    // A rejected URL leaves no host: the channel fails at the connection or, at the latest, at the
    // send, and nothing stays open.
    {
        DebugCapture capture;
        CWinInetApp app;
        app.SetServerIP("policy.example/vl/agent.dll");
        app.HttpOpenApp();
        if (app.HttpConnectApp() == 1 && app.HttpRequestApp() == 1) {
            EXPECT_EQ(app.UseHttpSendReqEx("_%REQ_LIN%_", 11, nullptr, 0), 0);
        }
        EXPECT_TRUE(AllClosed(app));
    }
    // The library refuses the request (here: a handle of the wrong kind in the connection's place).
    {
        DebugCapture capture;
        CWinInetApp app;
        app.HttpOpenApp();
        app.m_hConnect.Reset(InternetOpenA("wrong kind", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
        ASSERT_TRUE(app.m_hConnect);
        capture.Clear();
        EXPECT_EQ(app.HttpRequestApp(), 0);
        EXPECT_EQ(capture.Lines(), Lines{"HttpRequestApp  ERROR"});
        EXPECT_TRUE(AllClosed(app));
    }
    // The library refuses the connection (a request handle in the session's place).
    {
        ScriptedHttpServer server;
        CWinInetApp donor;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(donor, server.Url("/x")));
        DebugCapture capture;
        CWinInetApp app;
        app.SetServerIP(server.Url("/x").c_str());
        app.m_hSession = std::move(donor.m_hRequest);
        capture.Clear();
        EXPECT_EQ(app.HttpConnectApp(), 0);
        EXPECT_TRUE(capture.Lines().empty()) << "a refused connection writes no line";
        EXPECT_TRUE(AllClosed(app));
    }
}

// ---- Binary exchange ----------------------------------------------------------------------------

TEST(CWinInetAppBinaryTest, LoginExchangeSendsTheRecordAndDeliversTheReply)
{
    ScriptedHttpServer server;
    const std::string record = DenseRecord(304);
    server.Enqueue(ScriptedReply::WithBody("40000" + record));

    LOGIN_REQ login{};
    memcpy(login.szSignal, "_%REQ_LIN%_", 11);
    memcpy(login.szUserID, "alice", 5);
    memcpy(login.szUserPW, "s3cret", 6);
    memcpy(login.szSiteCode, "kesmor", 6);
    const std::string golden =
        std::string("_%REQ_LIN%_") + "alice" + Zeros(15) + "s3cret" + Zeros(14) + "kesmor" + Zeros(4);
    ASSERT_EQ(golden.size(), 61u);

    // The caller's area is wider than the size it passes: nothing past the size may change.
    std::vector<char> reply(85 + 16, '\xEE');
    DebugCapture capture;
    auto channel = std::make_unique<CWinInetApp>();
    CWinInetApp& app = *channel;
    ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll?session=7")));
    capture.Clear();
    ASSERT_EQ(app.UseHttpSendReqEx(&login, sizeof(login), reply.data(), 85), 40000);

    const std::vector<RecordedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/vl/agent.dll") << "the query part is never sent";
    EXPECT_EQ(requests[0].body, golden);
    EXPECT_EQ(requests[0].Header("Content-Length"), "61");
    EXPECT_EQ(requests[0].Header("User-Agent"), "HTTP_VL_CONTENT");
    EXPECT_FALSE(requests[0].HasHeader("Content-Type"));

    EXPECT_EQ(std::string(reply.data(), 85), record.substr(0, 85));
    EXPECT_EQ(std::string(reply.data() + 85, 16), std::string(16, '\xEE'));
    ASSERT_TRUE(app.m_pBuffer);
    ASSERT_EQ(app.m_dwBufferLen, 304u);
    EXPECT_EQ(std::string(app.m_pBuffer.get(), 304), record);
    EXPECT_TRUE(app.m_vecReply.empty());
    EXPECT_TRUE(AllClosed(app));

    Lines expected{"dwBytesWritten  = 61 [Bytes] by InternetWriteFile", "[InternetQueryDataAvailable] size [309]",
                   "[InternetReadFile] size [309]", "[InternetQueryDataAvailable] size [0]",
                   "[InternetReadFile] size [0]"};
    expected.insert(expected.end(), CloseLines().begin(), CloseLines().end());
    expected.push_back("[buffer] size : 304");
    expected.push_back("[buffer] [" + HexOf(app.m_pBuffer.get()) + "][" + record + "]");
    expected.push_back("HttpSendReqEx Success = 85,309,309");
    EXPECT_EQ(capture.Lines(), expected);

    capture.Clear();
    channel.reset();
    EXPECT_EQ(capture.Lines(), Lines{"[~CWinInetApp()] free m_pBuffer"});
}

TEST(CWinInetAppBinaryTest, StatusIsTakenFromTheFirstFiveBytesOnly)
{
    struct Row
    {
        std::string body;
        int result;
        const char* errorLine; // nullptr: success
        DWORD recordLength;
    };
    const Row rows[] = {
        {"45005" + DenseRecord(85), 45005, "Server Return Error[45005]\n", 0},
        {"40000", 40000, nullptr, 0},
        {"4000x" + DenseRecord(85), 4000, "Server Return Error[4000x]\n", 0},
        {" 40000" + DenseRecord(85), 4000, "Server Return Error[ 4000]\n", 0},
        {"<html><body>Internal error</body></html>", 0, "Server Return Error[<html]\n", 0},
        {"4000", 4000, "Server Return Error[4000]\n", 0},
        {"40", 40, "Server Return Error[40]\n", 0},
        {"", 0, "Server Return Error[]\n", 0},
    };
    ScriptedHttpServer server;
    for (const Row& row : rows)
        server.Enqueue(ScriptedReply::WithBody(row.body).Status(row.body.empty() ? 404 : 200, "Whatever"));

    for (const Row& row : rows) {
        SCOPED_TRACE("reply body [" + row.body + "]");
        std::vector<char> reply(85, '\xEE');
        DebugCapture capture;
        CWinInetApp app;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
        EXPECT_EQ(app.UseHttpSendReqEx("_%REQ_REF%_", 11, reply.data(), 85), row.result);
        EXPECT_EQ(std::string(reply.data(), 85), std::string(85, '\xEE')) << "the caller's buffer stays untouched";
        EXPECT_TRUE(AllClosed(app));
        EXPECT_TRUE(app.m_vecReply.empty());
        EXPECT_TRUE(HasRun(capture.Lines(), CloseLines()));
        if (row.errorLine != nullptr) {
            EXPECT_FALSE(app.m_pBuffer);
            EXPECT_EQ(app.m_dwBufferLen, 0u);
            EXPECT_EQ(CountLinesStartingWith(capture.Lines(), row.errorLine), 1u);
            EXPECT_EQ(CountLinesStartingWith(capture.Lines(), "[buffer]"), 0u);
        } else {
            EXPECT_TRUE(app.m_pBuffer);
            EXPECT_EQ(app.m_dwBufferLen, row.recordLength);
            EXPECT_EQ(CountLinesStartingWith(capture.Lines(), "Server Return Error"), 0u);
        }
    }
    EXPECT_EQ(server.RequestCount(), std::size(rows));
}

TEST(CWinInetAppBinaryTest, ReplyArrivingInSeveralReadsIsJoined)
{
    const std::string record = DenseRecord(252);
    const ScriptedReply replies[] = {
        ScriptedReply::WithBody("40000" + record).InPieces({3, 100, 60}, 30),
        ScriptedReply::Chunked("40000" + record, {5, 11, 200}).PauseBetweenPieces(30),
        ScriptedReply::CloseDelimited("40000" + record).InPieces({50}, 30),
    };
    ScriptedHttpServer server;
    for (const ScriptedReply& reply : replies)
        server.Enqueue(reply);
    for (size_t i = 0; i < std::size(replies); ++i) {
        SCOPED_TRACE(i);
        std::vector<char> reply(252, '\0');
        DebugCapture capture;
        CWinInetApp app;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
        ASSERT_EQ(app.UseHttpSendReqEx("_%REQ_LVL%_", 11, reply.data(), 252), 40000);
        EXPECT_EQ(std::string(reply.data(), 252), record);
        EXPECT_EQ(app.m_dwBufferLen, 252u);
        const Lines lines = capture.Lines();
        EXPECT_EQ(lines.back().rfind("HttpSendReqEx Success = 252,", 0), 0u);
        // How a body ended by the close is split into reads is the library's business.
        if (i < 2) {
            EXPECT_GE(CountLinesStartingWith(lines, "[InternetReadFile] size [") -
                          CountLinesStartingWith(lines, "[InternetReadFile] size [0]"),
                      2u);
            EXPECT_NE(lines.back(), "HttpSendReqEx Success = 252,257,257") << "the last read is not the whole reply";
        }
        EXPECT_EQ(lines[lines.size() - 2], "[buffer] [" + HexOf(app.m_pBuffer.get()) + "][" + record + "]")
            << "the record has no terminator: the line shows its bytes and nothing after them";
    }
}

// A body that ends before its announced length was cut off: the exchange fails and keeps nothing,
// though its first bytes read as a success.
TEST(CWinInetAppBinaryTest, ConnectionClosedMidBodyIsACutOffReply)
{
    ScriptedHttpServer server;
    const std::string record = DenseRecord(304);
    server.Enqueue(ScriptedReply::WithBody("40000" + record).InPieces({105}, 30).CloseAfter(105));
    std::vector<char> reply(304, '\xEE');
    DebugCapture capture;
    CWinInetApp app;
    ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
    EXPECT_EQ(app.UseHttpSendReqEx("_%REQ_LIN%_", 11, reply.data(), 304), 0);
    EXPECT_FALSE(app.m_pBuffer);
    EXPECT_EQ(app.m_dwBufferLen, 0u);
    EXPECT_EQ(std::string(reply.data(), 304), std::string(304, '\xEE'));
    EXPECT_TRUE(AllClosed(app));
    EXPECT_EQ(CountLinesStartingWith(capture.Lines(), "[UseHttpSendReqEx] reply cut off: 105 of the 309 bytes announced arrived"), 1u);
}

TEST(CWinInetAppBinaryTest, DelayedReplyIsAwaited)
{
    ScriptedHttpServer server;
    server.Enqueue(ScriptedReply::WithBody("40000" + DenseRecord(53)).Delay(200));
    std::vector<char> reply(53, '\0');
    CWinInetApp app;
    ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
    EXPECT_EQ(app.UseHttpSendReqEx("_%REQ_ACL%_", 11, reply.data(), 53), 40000);
    EXPECT_EQ(std::string(reply.data(), 53), DenseRecord(53));
}

// A connection that ends before any reply is a failed end of request (3) on Windows; Wine's
// WinINet completes the request with an empty reply instead, which gives status 0. Either way the
// exchange must not succeed, must store nothing and must close the channel.
void ExpectNoReplyOutcome(int result, const CWinInetApp& app, const Lines& lines)
{
    EXPECT_TRUE(result == 3 || result == 0) << result;
    EXPECT_FALSE(app.m_pBuffer);
    EXPECT_TRUE(AllClosed(app));
    EXPECT_TRUE(HasRun(lines, CloseLines()));
    if (result == 3) {
        const std::string prefix = "Error on HttpEndRequest. Error Code is [";
        ASSERT_EQ(CountLinesStartingWith(lines, prefix), 1u);
        for (const std::string& line : lines)
            if (line.rfind(prefix, 0) == 0) {
                EXPECT_GT(line.size(), prefix.size() + 1) << "the error has a text";
                EXPECT_EQ(line.back(), ']') << "the error text has no line end of its own";
            }
    } else {
        EXPECT_EQ(CountLinesStartingWith(lines, "Server Return Error[]\n"), 1u);
    }
}

TEST(CWinInetAppBinaryTest, ServerThatNeverAnswersHoldsTheExchangeUntilItGoes)
{
    auto server = std::make_unique<ScriptedHttpServer>();
    server->Enqueue(ScriptedReply::NoReply());
    DebugCapture capture;
    CWinInetApp app;
    ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server->Url("/vl/agent.dll")));
    std::future<int> exchange =
        std::async(std::launch::async, [&] { return app.UseHttpSendReqEx("_%REQ_PNG%_", 11, nullptr, 0); });
    ASSERT_TRUE(server->WaitForRequests(1, 5000));
    EXPECT_EQ(exchange.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
        << "the module sets no time-out of its own";
    server->Stop();
    ASSERT_EQ(exchange.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    ExpectNoReplyOutcome(exchange.get(), app, capture.Lines());
}

TEST(CWinInetAppBinaryTest, ConnectionClosedBeforeAnyReply)
{
    ScriptedHttpServer server;
    server.Enqueue(ScriptedReply::CloseWithoutReply());
    server.Enqueue(ScriptedReply::Raw("HTTP/1.1 200 OK\r\nContent-Le"));
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        DebugCapture capture;
        CWinInetApp app;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
        capture.Clear();
        const int result = app.UseHttpSendReqEx("_%REQ_DEL%_", 11, nullptr, 0);
        EXPECT_EQ(capture.Lines().front(), "dwBytesWritten  = 11 [Bytes] by InternetWriteFile");
        ExpectNoReplyOutcome(result, app, capture.Lines());
    }
}

TEST(CWinInetAppBinaryTest, FailedEndOfRequestGivesThree)
{
    ScriptedHttpServer server;
    server.Enqueue(ScriptedReply::CloseWithoutReply());
    DebugCapture capture;
    CWinInetApp app;
    ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
    const int result = app.UseHttpSendReqEx("_%REQ_DEL%_", 11, nullptr, 0);
    if (result == 0)
        GTEST_SKIP() << "Wine's WinINet completes a request whose connection closed before any reply "
                        "as an empty reply (status 0); a failed end of request cannot be provoked here";
    EXPECT_EQ(result, 3);
    ExpectNoReplyOutcome(result, app, capture.Lines());
}

// A refused connection is not a TLS failure: over https the lines are the same as over http.
TEST(CWinInetAppBinaryTest, UnreachablePortFailsTheSend)
{
    const std::string port = std::to_string(ScriptedHttpServer::UnusedPort());
    const struct
    {
        const char* scheme;
        bool ping;
    } rows[] = {{"http", false}, {"http", true}, {"https", false}, {"https", true}};
    for (const auto& row : rows) {
        const std::string url = std::string(row.scheme) + "://127.0.0.1:" + port + "/vl";
        const bool ping = row.ping;
        SCOPED_TRACE(url + (ping ? " ping" : " signal"));
        DebugCapture capture;
        CWinInetApp app;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(app, url));
        const std::string request = HexOf(app.m_hRequest.Get());
        capture.Clear();
        EXPECT_EQ(ping ? app.UseHttpSendReqExPING() : app.UseHttpSendReqEx("_%REQ_LIN%_", 11, nullptr, 0), 0);
        Lines expected{ping ? "Fail to HttpSendRequestEx with only HTTP. Error Code is [12029][" + request + "]\n"
                            : "Fail to HttpSendRequestEx with only HTTP. Error Code is [" + request + "][12029]\n"};
        expected.insert(expected.end(), CloseLines().begin(), CloseLines().end());
        EXPECT_EQ(capture.Lines(), expected);
        EXPECT_TRUE(AllClosed(app));
    }
}

// ---- Ping ---------------------------------------------------------------------------------------

TEST(CWinInetAppPingTest, OnlyThePongAnswers)
{
    struct Row
    {
        std::string body;
        int result;
        const char* errorLine;
    };
    const Row rows[] = {
        {"_%RES_PNG%_", 1, nullptr},
        {"_%RES_PNG%__%RES_PNG%_", 1, nullptr},
        {"", 0, nullptr},
        {"_%RES_LIN%_", 0, "Server PING Return Error[_%RES_LIN%_]\n"},
        {"abc", 0, "Server PING Return Error[abc]\n"},
        {"0123456789ABCDEFGHIJ", 0, "Server PING Return Error[0123456789A]\n"},
        {"_%RES_PNG%_junk", 0, "Server PING Return Error[junkS_PNG%_]\n"},
    };
    ScriptedHttpServer server;
    for (const Row& row : rows)
        server.Enqueue(ScriptedReply::WithBody(row.body));
    for (const Row& row : rows) {
        SCOPED_TRACE("reply body [" + row.body + "]");
        DebugCapture capture;
        CWinInetApp app;
        ASSERT_NO_FATAL_FAILURE(OpenChannel(app, server.Url("/vl/agent.dll")));
        capture.Clear();
        EXPECT_EQ(app.UseHttpSendReqExPING(), row.result);
        Lines expected{"dwBytesWritten  = 11 [Bytes] by InternetWriteFile"};
        if (row.errorLine != nullptr)
            expected.push_back(row.errorLine);
        expected.insert(expected.end(), CloseLines().begin(), CloseLines().end());
        EXPECT_EQ(capture.Lines(), expected);
    }
    const std::vector<RecordedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), std::size(rows));
    EXPECT_EQ(requests[0].body, "_%REQ_PNG%_");
    EXPECT_EQ(requests[0].Header("Content-Length"), "11");
    EXPECT_EQ(requests[0].method, "POST");
}

} // namespace
