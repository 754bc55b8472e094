// The fault matrix: every request type of CDRMLogin::Communicate against every way a server can
// misbehave, on the scripted server. Each case asserts the result, the transport's debug line for
// the fault, that the channel closed all three handles, and that a success keeps only bytes the
// server sent; a reply that outgrows its bound also ends each call within 10 s and keeps the
// memory in use bounded. The types of one case run side by side, one thread and one server each.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CcfSandbox.h"
#include "DebugCapture.h"
#include "DispatcherTestUtil.h"
#include "ProcessCounters.h"
#include "RegistrySandbox.h"
#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"
#include "transport/ReplyCloser.h"
#include "transport/ReplyParse.h"

using namespace vlagt::test;
using Lines = std::vector<std::string>;

namespace {

const int kTypes[] = {SIG_REQ_LOGIN,        SIG_REQ_TAKEOUT,     SIG_REQ_TAKEOUT_REF, SIG_REQ_TAKEOUT_EDIT,
                      SIG_REQ_TAKEOUT_DEL,  SIG_REQ_ACL,         SIG_REQ_LEVEL,       SIG_REQ_PING,
                      SIG_REQ_WEB_LOGIN};

enum class Kind
{
    Binary,
    Ping,
    Web
};

Kind KindOf(int type)
{
    return type == SIG_REQ_PING ? Kind::Ping : type == SIG_REQ_WEB_LOGIN ? Kind::Web : Kind::Binary;
}

// A reply record of `length` bytes without a zero byte, so that a read past it would show.
std::string Pattern(size_t length)
{
    std::string bytes;
    for (size_t i = 0; i < length; ++i)
        bytes += static_cast<char>('a' + i % 26);
    return bytes;
}

// A successful reply body of the type's kind, padded (or cut) to `length` bytes.
std::string GoodBody(int type, size_t length)
{
    std::string body;
    switch (KindOf(type)) {
    case Kind::Binary:
        body = "40000" + Pattern(length);
        break;
    case Kind::Ping:
        while (body.size() < length)
            body += "_%RES_PNG%_";
        break;
    case Kind::Web:
        body = "<Result>40000</Result>" + Pattern(length);
        break;
    }
    body.resize(length);
    return body;
}

// What one exchange gave.
struct Outcome
{
    int type = 0;
    unsigned long result = 0;
    DWORD ms = 0; // how long the call took
    Lines lines;
    LOGIN_INFO loginInfo{};
    ACL_INFO acl{};
};

struct FaultCase
{
    const char* name;
    // The reply the server plays for the type; unused when `refused`.
    ScriptedReply (*reply)(int type);
    // Results allowed, by kind of exchange.
    std::set<unsigned long> binary, ping, web;
    // A line the transport must write for the fault, by kind (empty: none required).
    const char* binaryLine = "";
    const char* pingLine = "";
    const char* webLine = "";
    bool refused = false;  // nothing listens on the port
    bool silent = false;   // the server never answers; it is stopped once every request arrived
    bool pastTheBound = false; // the reply outgrows the bound: each call ends within 10 s, memory bounded
};

const std::set<unsigned long> kFailed = {0, 2, 3};
const char kBinaryTooLong[] = "[UseHttpSendReqEx] reply longer than 16777216 bytes";
const char kWebTooLong[] = "[UseHttpSendReqExWEB] reply longer than 1048576 bytes";
const char kPingWrong[] = "Server PING Return Error[";
const DWORD kCallBoundMs = 10000;
const char kCutOff[] = "InternetReadFile Read Exception [";

// A reply that announces 400 body bytes (by its Content-Length or its one chunk) and is reset after
// `sent` of them. 198 bytes are 18 whole pongs, so that only the cut tells the ping it failed.
ScriptedReply ResetAfter(int type, size_t sent, ScriptedReply::Framing framing)
{
    ScriptedReply reply = ScriptedReply::WithBody(GoodBody(type, 400)).CloseAfter(sent).WithReset();
    reply.framing = framing;
    return reply;
}

// The reply bound of the type's kind; the ping stops at its first wrong answer.
size_t BoundOf(int type)
{
    switch (KindOf(type)) {
    case Kind::Binary:
        return vlagt::kMaxBinaryReply;
    case Kind::Web:
        return vlagt::kMaxWebReply;
    case Kind::Ping:
        break;
    }
    return 0;
}

// Two replies (status and a pong) and then filler without end, in the given framing.
ScriptedReply EndlessReply(int type, ScriptedReply::Framing framing)
{
    return ScriptedReply::Endless(GoodBody(type, 22), framing);
}

const FaultCase kCases[] = {
    {"RefusedConnection", nullptr, {0}, {0}, {0},
     "Fail to HttpSendRequestEx with only HTTP. Error Code is [", "Fail to HttpSendRequestEx with only HTTP. Error Code is [",
     "[UseHttpSendReqEx] ERROR_HTTPSENDREQUEST", true},
    {"NoAnswerUntilTheServerGoes", [](int) { return ScriptedReply::NoReply(); }, kFailed, kFailed, {0, 46000}, "", "",
     "", false, true},
    {"OneBytePerSecond",
     [](int type) { return ScriptedReply::WithBody(GoodBody(type, 64)).InPieces({1, 1, 1}, 1000); },
     // The ping compares whole reads of 11 bytes: a pong that trickles in is not recognised.
     {40000}, {0, 40000}, {40000}},
    {"ResetMidBody",
     [](int type) { return ScriptedReply::WithBody(GoodBody(type, 400)).InPieces({60}, 50).CloseAfter(60).WithReset(); },
     {0}, {0}, {0}, kCutOff, "", kCutOff},
    // A reply cut off before its announced end is no reply, whatever its first bytes say.
    {"ResetAfterTheStatusDigits",
     [](int type) { return ResetAfter(type, 5, ScriptedReply::Framing::ContentLength); }, {0}, {0}, {0}, kCutOff, "",
     kCutOff},
    {"ResetHalfwayThroughTheRecord",
     [](int type) { return ResetAfter(type, 198, ScriptedReply::Framing::ContentLength); }, {0}, {0}, {0}, kCutOff,
     kCutOff, kCutOff},
    // Chunked, the cut shows only in the chunk framing, which WinINet keeps to itself: a library
    // that reports it fails the exchange (0); Wine's reads the cut as the end of the body, so
    // the bytes that arrived are taken (the checks below: nothing but those bytes).
    {"ChunkedResetAfterTheStatusDigits",
     [](int type) { return ResetAfter(type, 5, ScriptedReply::Framing::Chunked); }, {0, 40000}, {0}, {0, 46000}},
    {"ChunkedResetHalfwayThroughTheRecord",
     [](int type) { return ResetAfter(type, 198, ScriptedReply::Framing::Chunked); }, {0, 40000}, {0, 40000}, {0, 40000}},
    {"ResetDuringThePostBody", [](int) { return ScriptedReply::ResetInRequestBody(); }, kFailed, kFailed, {0, 46000}},
    {"InvalidStatusLineAndHeaders",
     [](int) { return ScriptedReply::Raw("HTTP/1.1 abc\r\nNo header here\r\n: \r\n\r\nxyz"); }, kFailed, kFailed,
     {0, 46000}},
    {"NotHttpAtAll", [](int) { return ScriptedReply::Raw("SSH-2.0-whatever\r\n"); }, kFailed, kFailed, {0, 46000}},
    {"ChunkedWithBadChunkSizes",
     [](int) {
         return ScriptedReply::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nZZ\r\nabc\r\n-5\r\nxyz\r\n0\r\n\r\n");
     },
     kFailed, kFailed, {0, 46000}},
    {"ChunkLargerThanItsData",
     [](int type) {
         return ScriptedReply::Raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFF\r\n" + GoodBody(type, 100));
     },
     {0, 3, 40000}, {0, 3, 40000}, {0, 46000, 40000}},
    // The ping reads 11 bytes at a time and stops at the first that is not the pong: its 10 MB are
    // one pong and then other bytes (10 MB of pongs would be a million reads).
    {"TenMegabyteBody",
     [](int type) {
         std::string body = GoodBody(type, 10u * 1000u * 1000u);
         if (KindOf(type) == Kind::Ping)
             body.replace(11, std::string::npos, Pattern(body.size() - 11));
         return ScriptedReply::WithBody(std::move(body));
     },
     {40000}, {0}, {0}, "", "Server PING Return Error[", kWebTooLong},
    {"EndlessBody", [](int type) { return EndlessReply(type, ScriptedReply::Framing::CloseDelimited); },
     {0}, {0}, {0}, kBinaryTooLong, kPingWrong, kWebTooLong, false, false, true},
    {"EndlessChunkedBody", [](int type) { return EndlessReply(type, ScriptedReply::Framing::Chunked); },
     {0}, {0}, {0}, kBinaryTooLong, kPingWrong, kWebTooLong, false, false, true},
    {"EndlessBodyWithContentLengthPastTheBound",
     [](int type) { return EndlessReply(type, ScriptedReply::Framing::ContentLength); },
     {0}, {0}, {0}, kBinaryTooLong, kPingWrong, kWebTooLong, false, false, true},
    // The server sends 1 MiB past the bound and then nothing more, holding the connection.
    {"ChunkedBodyStallingPastTheBound",
     [](int type) {
         return EndlessReply(type, ScriptedReply::Framing::Chunked).StallAfter(BoundOf(type) + 1024u * 1024u);
     },
     {0}, {0}, {0}, kBinaryTooLong, kPingWrong, kWebTooLong, false, false, true},
    {"ContentLengthLargerThanTheBody",
     [](int type) { return ScriptedReply::WithBody(GoodBody(type, 300)).CloseAfter(120); },
     {0}, {0}, {0}, kCutOff, "", kCutOff},
    {"ReplyOfFiveBytes", [](int type) { return ScriptedReply::WithBody(GoodBody(type, 5)); }, {40000}, {0}, {46000},
     "", "Server PING Return Error[", "[GetReturnCode] tag [<Result>] [</Result>]"},
    {"ReplyOf304Bytes", [](int type) { return ScriptedReply::WithBody(GoodBody(type, 304)); }, {40000}, {40000},
     {40000}},
    {"ReplyOf305Bytes", [](int type) { return ScriptedReply::WithBody(GoodBody(type, 305)); }, {40000}, {40000},
     {40000}},
};

// The case's name, not its bytes, in the test's output.
void PrintTo(const FaultCase& fault, std::ostream* out)
{
    *out << fault.name;
}

class FaultMatrixTest : public ::testing::TestWithParam<FaultCase>
{
protected:
    void SetUp() override
    {
        m_handlesBefore = HandleCount();
        m_heapBefore = HeapBytesInUse();
        m_peakHeap = m_heapBefore;
    }

    // Once the test's own records are gone: nothing of the replies stays behind.
    void TearDown() override
    {
        if (GetParam().pastTheBound) {
            EXPECT_LT(HeapBytesInUse(), m_heapBefore + 256u * 1024u);
        }
    }

    // Runs every request type once, side by side, against its own server playing the case.
    std::vector<Outcome> RunAllTypes(const FaultCase& fault)
    {
        const size_t count = std::size(kTypes);
        std::vector<std::unique_ptr<ScriptedHttpServer>> servers;
        std::vector<std::string> urls;
        for (size_t i = 0; i < count; ++i) {
            servers.push_back(std::make_unique<ScriptedHttpServer>());
            if (fault.refused) {
                urls.push_back("http://127.0.0.1:" + std::to_string(ScriptedHttpServer::UnusedPort()) + "/vl/agent");
            } else {
                servers.back()->Enqueue(fault.reply(kTypes[i]));
                urls.push_back(servers.back()->Url("/vl/agent"));
            }
        }
        std::vector<Outcome> outcomes(count);
        std::vector<DWORD> threadIds(count, 0);
        std::vector<std::thread> threads;
        DebugCapture capture;
        volatile LONG running = 0;
        auto start = [&](size_t i) {
            InterlockedIncrement(&running);
            threads.emplace_back([&, i] {
                threadIds[i] = GetCurrentThreadId();
                CDRMLogin session;
                std::string url = urls[i], user = "user01", password = "pw01";
                session.SetServerIP(&url[0]);
                session.SetUserInfo(&user[0], &password[0]);
                session.CreateSharedMemForLoginInfo();
                outcomes[i].type = kTypes[i];
                const DWORD startTick = GetTickCount();
                outcomes[i].result = session.Communicate(kTypes[i]);
                outcomes[i].ms = GetTickCount() - startTick;
                InterlockedDecrement(&running);
                outcomes[i].loginInfo = session.m_LoginInfo;
                outcomes[i].acl = session.m_AclInfo;
                session.DeleteSharedMemForLoginInfo();
            });
        };
        if (fault.pastTheBound) {
            // One type at a time, so that each call's time is its own; the C library's heap is
            // sampled while it runs, and its server goes once it returned (ending the close).
            for (size_t i = 0; i < count; ++i) {
                start(i);
                while (InterlockedCompareExchange(&running, 0, 0) > 0) {
                    m_peakHeap = std::max(m_peakHeap, HeapBytesInUse());
                    Sleep(100);
                }
                threads.back().join();
                servers[i]->Stop();
            }
        } else {
            for (size_t i = 0; i < count; ++i)
                start(i);
        }
        if (fault.silent) {
            for (auto& server : servers)
                EXPECT_TRUE(server->WaitForRequests(1, 10000));
            Sleep(100);
            for (auto& server : servers)
                server->Stop(); // the exchanges end when the server goes
        }
        for (std::thread& thread : threads)
            if (thread.joinable())
                thread.join();
        for (size_t i = 0; i < count; ++i)
            outcomes[i].lines = capture.LinesOf(threadIds[i]);
        return outcomes; // the servers go now, and with them what the closing threads still read
    }

    // Waits until no closing thread of a cut-off reply runs any more.
    static bool WaitForClosesToEnd(DWORD timeoutMs)
    {
        const DWORD start = GetTickCount();
        while (vlagt::CutOffClosesRunning() > 0) {
            if (GetTickCount() - start > timeoutMs)
                return false;
            Sleep(20);
        }
        return true;
    }

    RegistrySandbox m_registry;
    CcfSandbox m_ccf;
    size_t m_handlesBefore = 0;
    size_t m_heapBefore = 0;
    size_t m_peakHeap = 0;
};

bool HasLineStartingWith(const Lines& lines, const std::string& prefix)
{
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

TEST_P(FaultMatrixTest, EveryRequestType)
{
    const FaultCase& fault = GetParam();
    const std::vector<Outcome> outcomes = RunAllTypes(fault);
    for (const Outcome& outcome : outcomes) {
        SCOPED_TRACE("request type " + std::to_string(outcome.type));
        const Kind kind = KindOf(outcome.type);
        const std::set<unsigned long>& allowed =
            kind == Kind::Binary ? fault.binary : kind == Kind::Ping ? fault.ping : fault.web;
        EXPECT_TRUE(allowed.count(outcome.result)) << "result " << outcome.result;

        const std::string line = kind == Kind::Binary ? fault.binaryLine : kind == Kind::Ping ? fault.pingLine : fault.webLine;
        if (!line.empty()) {
            EXPECT_TRUE(HasLineStartingWith(outcome.lines, line)) << "no line \"" << line << "\"";
        }
        for (const char* close : {"InternetCloseHandle: m_hRequest", "InternetCloseHandle: m_hConnect",
                                  "InternetCloseHandle: m_hSession"})
            EXPECT_TRUE(HasLineStartingWith(outcome.lines, close)) << close;
        if (fault.pastTheBound) {
            EXPECT_LT(outcome.ms, kCallBoundMs) << "the call must end soon after the bound";
        }

        // A success keeps only what the server sent: the record is the pattern from its start.
        if (outcome.result == 40000 && outcome.type == SIG_REQ_LOGIN) {
            const std::string info(reinterpret_cast<const char*>(&outcome.loginInfo), sizeof(LOGIN_INFO));
            const std::string sent = Pattern(sizeof(LOGIN_INFO));
            for (size_t i = 0; i < info.size(); ++i)
                if (info[i] != '\0') {
                    ASSERT_EQ(info[i], sent[i]) << "byte " << i << " of the login reply";
                }
        }
        if (outcome.result == 40000 && outcome.type == SIG_REQ_ACL) {
            const std::string acl(reinterpret_cast<const char*>(&outcome.acl), sizeof(ACL_INFO));
            const std::string sent = Pattern(sizeof(ACL_REPLY)).substr(11);
            for (size_t i = 0; i < acl.size(); ++i)
                if (acl[i] != '\0') {
                    ASSERT_EQ(acl[i], sent[i]) << "byte " << i << " of the ACL data";
                }
        }
    }
    // Every close ends once the servers are gone, and then nothing of the channels stays open.
    EXPECT_TRUE(WaitForClosesToEnd(30000));
    EXPECT_LE(HandleCount(), m_handlesBefore + 8);
    if (fault.pastTheBound) {
        // One reply at most its bound (twice while its block grows), beside the captured lines.
        EXPECT_LT(m_peakHeap - m_heapBefore, 2 * vlagt::kMaxBinaryReply + 8u * 1024u * 1024u);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrixTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

} // namespace
