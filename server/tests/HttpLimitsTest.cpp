// The bounds every request is held to before routing, over HTTP on 127.0.0.1: each abusive form
// (no length, chunked, over the limit, coded, endless head, header flood, smuggled length, slow
// sender) gets its refusal and a closed connection while the process's memory stays bounded and
// a login from another address succeeds; a peer holds at most its share of the workers; a burst
// of fresh connections fits the listen backlog; an unexpected error never shows its text.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "CPolicyServer.h"
#include "CPolicyStore.h"
#include "TestClient.h"
#include "WireFormat.h"

namespace vlpolicy::test {
namespace {

constexpr size_t kStreamBytes = 16 * 1024 * 1024;

// One raw connection; every wait is bounded.
class RawPeer
{
public:
    RawPeer(int port, const std::string& source = "127.0.0.1", bool wait = true)
    {
        m_socket = socket(AF_INET, SOCK_STREAM | (wait ? 0 : SOCK_NONBLOCK), 0);
        timeval timeout{5, 0};
        setsockopt(m_socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
        sockaddr_in local{}, remote{};
        local.sin_family = remote.sin_family = AF_INET;
        inet_pton(AF_INET, source.c_str(), &local.sin_addr);
        inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
        remote.sin_port = htons(static_cast<uint16_t>(port));
        bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof(local));
        connect(m_socket, reinterpret_cast<sockaddr*>(&remote), sizeof(remote));
    }
    ~RawPeer() { close(m_socket); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    // Waits until a non-blocking connect has completed.
    bool Connected(int timeoutMs)
    {
        pollfd entry{m_socket, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof(error);
        return poll(&entry, 1, timeoutMs) == 1 && getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
               error == 0;
    }
    bool SendAll(const std::string& data)
    {
        for (size_t sent = 0; sent < data.size();) {
            const ssize_t n = send(m_socket, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0 && !(n < 0 && errno == EAGAIN && Wait(POLLOUT, 5000)))
                return false;
            sent += n > 0 ? static_cast<size_t>(n) : 0;
        }
        return true;
    }
    // Sends up to total bytes in chunks; stops at the first failure.
    void Stream(size_t total)
    {
        const std::string chunk(64 * 1024, 'x');
        for (size_t sent = 0; sent < total && SendAll(chunk); sent += chunk.size()) {
        }
    }
    // The status of the next reply (0: none within timeoutMs); its body in body.
    int Reply(int timeoutMs = 5000, std::string* body = nullptr)
    {
        for (;;) {
            const size_t end = m_received.find("\r\n\r\n");
            if (end != std::string::npos) {
                const int status = atoi(m_received.c_str() + 9);
                size_t length = 0;
                const size_t at = m_received.find("Content-Length: ");
                if (at != std::string::npos && at < end)
                    length = static_cast<size_t>(atol(m_received.c_str() + at + 16));
                if (m_received.size() >= end + 4 + length) {
                    if (body != nullptr)
                        *body = m_received.substr(end + 4, length);
                    m_received.erase(0, end + 4 + length);
                    return status;
                }
            }
            if (!Receive(timeoutMs))
                return 0;
        }
    }
    // True when the server closes the connection within timeoutMs.
    bool Closed(int timeoutMs = 5000)
    {
        for (int i = 0; i < 1000; ++i)
            if (!Receive(timeoutMs))
                return m_bClosed;
        return false;
    }

private:
    bool Wait(short events, int timeoutMs)
    {
        pollfd entry{m_socket, events, 0};
        return poll(&entry, 1, timeoutMs) == 1;
    }
    bool Receive(int timeoutMs)
    {
        if (!Wait(POLLIN, timeoutMs))
            return false;
        char buffer[16 * 1024];
        const ssize_t n = recv(m_socket, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (n <= 0) {
            m_bClosed = n == 0 || errno == ECONNRESET;
            return false;
        }
        m_received.append(buffer, static_cast<size_t>(n));
        return true;
    }

    int m_socket;
    std::string m_received;
    bool m_bClosed = false;
};

long PeakMemoryKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 7, "VmHWM:\t") == 0)
            return atol(line.c_str() + 7);
    return -1;
}

std::string Post(const std::string& path, const std::string& body)
{
    return "POST " + path + " HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class HttpLimitsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/vlpolicyd-limits-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_limits.requestMs = 1000;
        m_limits.workers = 8;
        m_limits.peerConnections = 4;
        StoreOptions options;
        options.demo = true;
        m_store = std::make_unique<CPolicyStore>(m_folder + "/policy.db", options);
        m_pLog = tmpfile();
    }
    void Start(bool serve = true)
    {
        m_server = std::make_unique<CPolicyServer>(*m_store, "/agent", m_pLog, "", "", m_limits);
        m_nPort = m_server->Bind("127.0.0.1", 0);
        ASSERT_GT(m_nPort, 0);
        if (serve)
            Serve();
    }
    void Serve()
    {
        m_thread = std::thread([this] { m_server->Serve(); });
    }
    void TearDown() override
    {
        if (m_server)
            m_server->Stop();
        if (m_thread.joinable())
            m_thread.join();
        m_server.reset();
        m_store.reset();
        fclose(m_pLog);
        std::filesystem::remove_all(m_folder);
    }
    std::string Log()
    {
        fflush(m_pLog);
        rewind(m_pLog);
        std::string text;
        char buffer[4096];
        size_t size;
        while ((size = fread(buffer, 1, sizeof(buffer), m_pLog)) > 0)
            text.append(buffer, size);
        return text;
    }
    std::string LoginFrom(const std::string& source)
    {
        return TestClient(m_nPort, source).Post("/agent", LoginRecord("demo01", "demo-pass-01")).body.substr(0, 5);
    }

    std::string m_folder;
    HttpLimits m_limits;
    FILE* m_pLog = nullptr;
    std::unique_ptr<CPolicyStore> m_store;
    std::unique_ptr<CPolicyServer> m_server;
    std::thread m_thread;
    int m_nPort = 0;
};

TEST_F(HttpLimitsTest, AbusiveRequests_AreRefusedBeforeRouting_WhileALoginSucceeds)
{
    Start();
    std::string headerFlood = "GET /agent HTTP/1.1\r\nHost: h\r\n";
    for (int i = 0; i < 4000; ++i)
        headerFlood += "X-" + std::to_string(i) + ": " + std::string(8 * 1024, 'v') + "\r\n";
    const struct
    {
        const char* name;
        std::string head;
        size_t streamed; // bytes sent after the head, as a body or as more head
        int status;
    } cases[] = {
        {"no length, unknown path", "POST /nowhere HTTP/1.1\r\nHost: h\r\n\r\n", kStreamBytes, 411},
        {"no length, agent path", "POST /agent HTTP/1.1\r\nHost: h\r\n\r\n", kStreamBytes, 411},
        {"no length, sign-in", "POST /admin/signin HTTP/1.1\r\nHost: h\r\nContent-Type: "
                               "application/x-www-form-urlencoded\r\n\r\n", kStreamBytes, 411},
        {"chunked", "POST /agent HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n1000000\r\n", kStreamBytes, 411},
        {"chunked and a length", "POST /agent HTTP/1.1\r\nHost: h\r\nContent-Length: 3\r\n"
                                 "Transfer-Encoding: chunked\r\n\r\n", kStreamBytes, 411},
        {"over the limit", "POST /agent HTTP/1.1\r\nHost: h\r\nContent-Length: 16777216\r\n\r\n", kStreamBytes, 413},
        {"huge length", "POST /agent HTTP/1.1\r\nHost: h\r\nContent-Length: 99999999999999999999999\r\n\r\n", 0, 413},
        {"compressed", "POST /agent HTTP/1.1\r\nHost: h\r\nContent-Length: 20\r\nContent-Encoding: gzip\r\n\r\n", 20, 415},
        {"header flood", headerFlood, 0, 431},
        {"endless request line", "GET /" + std::string(64 * 1024, 'a'), kStreamBytes, 431},
        {"endless header line", "GET /agent HTTP/1.1\r\nX: ", kStreamBytes, 431},
        {"length behind a bare LF", "POST /agent HTTP/1.1\r\nX: a\nContent-Length: 11\r\n\r\n_%REQ_PNG%_", 0, 400},
        {"two lengths", "POST /agent HTTP/1.1\r\nContent-Length: 11\r\nContent-Length: 12\r\n\r\n_%REQ_PNG%_", 0, 400},
        {"space before colon", "POST /agent HTTP/1.1\r\nContent-Length : 11\r\n\r\n_%REQ_PNG%_", 0, 400},
    };
    const long before = PeakMemoryKiB();
    std::vector<std::thread> abusers;
    std::vector<int> statuses(std::size(cases), -1);
    std::vector<bool> closed(std::size(cases), false);
    for (size_t i = 0; i < std::size(cases); ++i)
        abusers.emplace_back([&, i] {
            RawPeer peer(m_nPort);
            std::thread sender([&] {
                if (peer.SendAll(cases[i].head))
                    peer.Stream(cases[i].streamed);
            });
            statuses[i] = peer.Reply();
            closed[i] = peer.Closed();
            sender.join();
        });
    // Meanwhile an agent from another address logs in.
    EXPECT_EQ(LoginFrom("127.0.0.2"), "40000");
    for (std::thread& abuser : abusers)
        abuser.join();
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(statuses[i], cases[i].status);
        EXPECT_TRUE(closed[i]);
    }
    // Over 16 MiB each went to the server four times over; it kept none of it.
    EXPECT_LT(PeakMemoryKiB() - before, 32 * 1024);
    EXPECT_EQ(LoginFrom("127.0.0.1"), "40000");
    EXPECT_NE(Log().find("127.0.0.1 http-refused - 411"), std::string::npos);
}

TEST_F(HttpLimitsTest, SlowSenders_AreAnswered408AndDropped)
{
    Start();
    const struct
    {
        const char* name;
        std::string start;
    } cases[] = {
        {"head", "POST /agent HTTP/1.1\r\nHost: h\r\nX-Slow: "},
        {"body", "POST /agent HTTP/1.1\r\nHost: h\r\nContent-Length: 1000\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawPeer peer(m_nPort);
        ASSERT_TRUE(peer.SendAll(c.start));
        int status = 0;
        // One byte every 100 ms: far slower than the request's time allows.
        for (int i = 0; i < 100 && status == 0; ++i)
            if (peer.SendAll("x"))
                status = peer.Reply(100);
        EXPECT_EQ(status, 408);
        EXPECT_TRUE(peer.Closed());
    }
}

TEST_F(HttpLimitsTest, WellFormedRequests_AreServedAsBefore)
{
    Start();
    RawPeer peer(m_nPort);
    std::string body;
    // A blank line before a request, two requests in one send, then one that waits for 100 Continue.
    ASSERT_TRUE(peer.SendAll("\r\n" + Post("/agent", "_%REQ_PNG%_") + Post("/agent", "_%REQ_PNG%_")));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(peer.Reply(5000, &body), 200);
        EXPECT_EQ(body, "_%RES_PNG%_");
    }
    ASSERT_TRUE(peer.SendAll("POST /agent HTTP/1.1\r\nHost: h\r\nContent-Length: 11\r\nExpect: 100-continue\r\n\r\n"));
    EXPECT_EQ(peer.Reply(), 100);
    ASSERT_TRUE(peer.SendAll("_%REQ_PNG%_"));
    EXPECT_EQ(peer.Reply(5000, &body), 200);
    EXPECT_EQ(body, "_%RES_PNG%_");
}

TEST_F(HttpLimitsTest, APeer_HoldsAtMostItsShareOfTheWorkers_AndItsOtherConnectionsWait)
{
    // Idle connections would hold their workers far longer than a client waits for a reply.
    m_limits.firstRequestMs = m_limits.keepAliveMs = 60000;
    Start();
    std::vector<std::unique_ptr<RawPeer>> idle;
    for (size_t i = 0; i < 3 * m_limits.peerConnections; ++i)
        idle.push_back(std::make_unique<RawPeer>(m_nPort));
    // Every worker could be held by now; only the peer's share is.
    EXPECT_EQ(LoginFrom("127.0.0.2"), "40000");
    EXPECT_EQ(LoginFrom("127.0.0.3"), "40000");
    // Each of the peer's connections is served in turn: once answered, an idle one gives way to
    // one that waits.
    for (auto& peer : idle)
        ASSERT_TRUE(peer->SendAll(Post("/agent", "_%REQ_PNG%_")));
    size_t answered = 0;
    for (auto& peer : idle) {
        std::string body;
        answered += peer->Reply(10000, &body) == 200 && body == "_%RES_PNG%_";
    }
    EXPECT_EQ(answered, idle.size());
}

TEST_F(HttpLimitsTest, ABurstOf200FreshConnections_EachGetsItsReply)
{
    m_limits = HttpLimits(); // the server's own
    Start(false);
    EXPECT_GE(m_server->ListenBacklog(), 200);
    // Every connection is made while nobody accepts: the backlog alone must hold them all.
    std::vector<std::unique_ptr<RawPeer>> burst;
    for (int i = 0; i < 200; ++i)
        burst.push_back(std::make_unique<RawPeer>(m_nPort, "127.0.0.1", false));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int connected = 0;
    for (auto& peer : burst) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        connected += peer->Connected(static_cast<int>(std::max<long long>(left.count(), 0)));
    }
    ASSERT_EQ(connected, 200);
    Serve();
    for (auto& peer : burst)
        ASSERT_TRUE(peer->SendAll(Post("/agent", "_%REQ_PNG%_")));
    int answered = 0;
    for (auto& peer : burst) {
        std::string body;
        answered += peer->Reply(10000, &body) == 200 && body == "_%RES_PNG%_";
        peer.reset(); // gives its place to the next
    }
    EXPECT_EQ(answered, 200);
}

TEST_F(HttpLimitsTest, AConfiguredBacklog_IsTheOneListenedWith)
{
    m_limits.listenBacklog = 300;
    Start(false);
    int system = 0;
    std::ifstream("/proc/sys/net/core/somaxconn") >> system;
    EXPECT_EQ(m_server->ListenBacklog(), std::min(300, system));
}

TEST_F(HttpLimitsTest, UnexpectedStoreErrors_AnswerWithoutTheirText_AndGoToTheLog)
{
    m_store->AddAdmin("root", "console-pass-01");
    Start();
    const HttpReply signedIn = TestClient(m_nPort).Post(
        "/admin/signin", "name=root&password=console-pass-01", "Content-Type: application/x-www-form-urlencoded\r\n");
    const size_t at = signedIn.headers.find("vlpolicyd_admin=");
    ASSERT_NE(at, std::string::npos);
    const std::string cookie = "Cookie: " + signedIn.headers.substr(at, signedIn.headers.find(';', at) - at) + "\r\n";

    // The tables go away under the running server.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((m_folder + "/policy.db").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "ALTER TABLE admins RENAME TO admins_gone; ALTER TABLE users RENAME TO users_gone",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);

    const HttpReply page = TestClient(m_nPort).Get("/admin/signin", cookie);
    EXPECT_EQ(page.status, 500);
    const HttpReply login = TestClient(m_nPort).Post("/agent", LoginRecord("demo01", "demo-pass-01"));
    EXPECT_EQ(login.body, EncodeStatus(kStatusStoreFailed));
    for (const HttpReply* reply : {&page, &login}) {
        EXPECT_EQ(reply->headers.find("EXCEPTION_WHAT"), std::string::npos);
        EXPECT_EQ((reply->headers + reply->body).find("no such table"), std::string::npos);
    }
    const std::string log = Log();
    EXPECT_NE(log.find("error GET /admin/signin: "), std::string::npos) << log;
    EXPECT_NE(log.find("error POST /agent: "), std::string::npos) << log;
    EXPECT_NE(log.find("no such table"), std::string::npos) << log;
}

} // namespace
} // namespace vlpolicy::test
