// Two vlpolicyd processes on one PostgreSQL store behind haproxy (its own generated configuration:
// two back ends checked on /healthz, X-Forwarded-For from the proxy, which the instances trust):
// a login through the proxy answers for its address's requests on either instance; a console
// session made through the proxy is valid on both; one instance killed with SIGKILL under 16
// clients' logins: logins through the proxy succeed again within 3 s, and no decision answered as
// made before the kill is lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "CPolicyStore.h"
#include "TestClient.h"
#include "TestStore.h"
#include "WireFormat.h"

namespace vlpolicy::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr char kHaproxy[] = "/usr/sbin/haproxy";
const std::string kForm = "Content-Type: application/x-www-form-urlencoded\r\n";

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// haproxy's port: below the range the system hands out for port 0, so that no other test's server
// or client is given it before haproxy binds it (one that is taken makes haproxy end: SetUp retries).
int ProxyPort()
{
    static std::mt19937 random{std::random_device{}()};
    return std::uniform_int_distribution<int>(20000, 31999)(random);
}

// A child process with its output in a file; killed (SIGKILL) and reaped when it goes.
class Child
{
public:
    Child(std::vector<std::string> arguments, const std::string& logFile)
    {
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { Kill(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    void Kill()
    {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    // False once the process has ended (it is reaped here).
    bool Running()
    {
        if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == m_pid)
            m_pid = -1;
        return m_pid > 0;
    }

private:
    pid_t m_pid = -1;
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The port of a server's "listening on http://127.0.0.1:PORT" line in its log, 0 before it.
int ListeningPort(const std::string& log)
{
    const std::string text = ReadAll(log);
    const std::string marker = "listening on http://127.0.0.1:";
    const size_t at = text.find(marker);
    return at == std::string::npos ? 0 : atoi(text.c_str() + at + marker.size());
}

class BalancedInstancesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/vlpolicyd-balanced-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_location = std::make_unique<TestStore>(Engine::Postgres, m_folder);
        if (!m_location->Available())
            GTEST_SKIP() << "no PostgreSQL test cluster";
        if (access(kHaproxy, X_OK) != 0)
            GTEST_SKIP() << "no haproxy";
        StoreOptions options;
        options.demo = true;
        m_store = std::make_unique<CPolicyStore>(m_location->Locator(), options);
        m_store->AddAdmin("root", "console-pass-01");

        // Each instance binds a port the system chooses and says which.
        for (int i = 0; i < 2; ++i) {
            const std::string log = m_folder + "/instance" + std::to_string(i) + ".log";
            m_instances[i] = std::make_unique<Child>(
                std::vector<std::string>{VLPOLICYD_BINARY, "serve", "--db", m_location->Locator(), "--listen",
                                         "127.0.0.1:0", "--trusted-proxy", "127.0.0.1"},
                log);
            const auto start = Clock::now();
            while ((m_ports[i] = ListeningPort(log)) == 0 && SecondsSince(start) < 30)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            ASSERT_NE(m_ports[i], 0) << "instance " << i << " did not start: " << ReadAll(log);
        }
        // haproxy's own port is chosen here; another one if it could not bind it.
        for (int attempt = 0; attempt < 3 && !FrontAnswers(); ++attempt) {
            m_haproxy.reset();
            m_nFront = ProxyPort();
            std::ofstream(m_folder + "/haproxy.cfg") << HaproxyConfig(m_nFront, m_ports[0], m_ports[1]);
            m_haproxy = std::make_unique<Child>(
                std::vector<std::string>{kHaproxy, "-db", "-f", m_folder + "/haproxy.cfg"},
                m_folder + "/haproxy.log");
            const auto start = Clock::now();
            while (m_haproxy->Running() && !FrontAnswers() && SecondsSince(start) < 30)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ASSERT_TRUE(FrontAnswers()) << "haproxy did not see both instances up; the instances said: "
                                    << ReadAll(m_folder + "/instance0.log") << " | "
                                    << ReadAll(m_folder + "/instance1.log")
                                    << " | haproxy: " << ReadAll(m_folder + "/haproxy.log");
        std::this_thread::sleep_for(std::chrono::milliseconds(600)); // a check of each back end
    }
    void TearDown() override
    {
        m_haproxy.reset();
        for (auto& instance : m_instances)
            instance.reset();
        m_store.reset();
        m_location.reset();
        std::filesystem::remove_all(m_folder);
    }

public:
    // The configuration the README starts from: two back ends, checked on /healthz every half
    // second, out after two failures; a request that cannot reach one goes to the other.
    static std::string HaproxyConfig(int front, int first, int second)
    {
        return "global\n"
               "    maxconn 512\n"
               "defaults\n"
               "    mode http\n"
               "    timeout connect 2s\n"
               "    timeout client 30s\n"
               "    timeout server 10s\n"
               "    retries 2\n"
               "    option redispatch\n"
               "    option forwardfor\n"
               "frontend agents\n"
               "    bind 127.0.0.1:" +
               std::to_string(front) +
               "\n"
               "    default_backend vlpolicyd\n"
               "backend vlpolicyd\n"
               "    balance roundrobin\n"
               "    option httpchk GET /healthz\n"
               "    http-check expect status 200\n"
               "    default-server inter 500ms fall 2 rise 2\n"
               "    server first 127.0.0.1:" +
               std::to_string(first) + " check\n    server second 127.0.0.1:" + std::to_string(second) + " check\n";
    }

protected:
    // Both back ends seen up by the proxy's checks: /healthz through the proxy on each of them
    // (round robin) answers 200.
    bool FrontAnswers()
    {
        if (m_haproxy == nullptr || !m_haproxy->Running())
            return false;
        return TestClient(m_nFront).Get("/healthz").status == 200 && TestClient(m_nFront).Get("/healthz").status == 200;
    }
    static std::string CookieOf(const HttpReply& reply)
    {
        const size_t at = reply.headers.find("vlpolicyd_admin=");
        if (at == std::string::npos)
            return std::string();
        return "Cookie: " + reply.headers.substr(at, reply.headers.find(';', at) - at) + "\r\n";
    }
    static std::string TokenOf(const std::string& page)
    {
        const std::string marker = "name=\"token\" value=\"";
        const size_t at = page.find(marker);
        return at == std::string::npos ? std::string() : page.substr(at + marker.size(), 32);
    }

    std::string m_folder;
    std::unique_ptr<TestStore> m_location;
    std::unique_ptr<CPolicyStore> m_store; // this test's own view of the store
    int m_ports[2] = {0, 0};
    int m_nFront = 0;
    std::unique_ptr<Child> m_instances[2];
    std::unique_ptr<Child> m_haproxy;
};

TEST_F(BalancedInstancesTest, ThroughTheProxy_BothInstancesShareLoginsSessionsAndDecisions)
{
    // The client's own address comes through the proxy: a login from 127.0.0.2 answers for that
    // address's requests, whichever instance each lands on (round robin: both, over two requests).
    ASSERT_EQ(TestClient(m_nFront, "127.0.0.2").Post("/agent", LoginRecord("demo01", "demo-pass-01")).body.substr(0, 5),
              "40000");
    for (int i = 0; i < 2; ++i) {
        const std::string reply =
            TestClient(m_nFront, "127.0.0.2")
                .Post("/agent", TakeOutRecord("_%REQ_OUT%_", "", "visit", "20270301", "20270310"))
                .body;
        ASSERT_EQ(reply.substr(0, 5), "40000") << i;
        EXPECT_EQ(m_store->FindTakeOut(std::string(reply.c_str() + 5 + 31))->userID, "demo01");
    }
    // Another address has no login behind it.
    EXPECT_EQ(TestClient(m_nFront, "127.0.0.3")
                  .Post("/agent", TakeOutRecord("_%REQ_OUT%_", "", "visit", "20270301", "20270310"))
                  .body.substr(0, 5),
              "42000");

    // A console session made through the proxy is valid on each instance.
    const std::string cookie = CookieOf(
        TestClient(m_nFront).Post("/admin/signin", "name=root&password=console-pass-01", kForm));
    ASSERT_FALSE(cookie.empty());
    for (int port : m_ports)
        EXPECT_EQ(TestClient(port).Get("/admin/", cookie).status, 200) << port;
}

TEST_F(BalancedInstancesTest, OneInstanceKilledUnderSixteenClients_LoginsResumeWithin3s_AndNoDecisionIsLost)
{
    // Requests to decide, one per user.
    constexpr int kRequests = 12;
    std::vector<std::string> keys;
    for (int i = 0; i < kRequests; ++i) {
        const std::string user = "u" + std::to_string(i);
        m_store->AddUser(user, "pass-" + user, m_store->DefaultCompany(), m_store->DefaultGroup(), "");
        keys.push_back(m_store->CreateTakeOut(user, "20270301", "20270302", "visit", time(nullptr)));
    }
    const std::string cookie = CookieOf(
        TestClient(m_ports[0]).Post("/admin/signin", "name=root&password=console-pass-01", kForm));
    const std::string token = TokenOf(TestClient(m_ports[0]).Get("/admin/", cookie).body);
    ASSERT_FALSE(token.empty());

    std::atomic<bool> stop{false};
    std::mutex mutex;
    Clock::time_point killedAt{};
    std::atomic<bool> killed{false};
    Clock::time_point lastFailure{};
    int failuresAfterKill = 0;
    std::atomic<int> logins{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 16; ++i)
        clients.emplace_back([&] {
            auto client = std::make_unique<TestClient>(m_nFront);
            const auto deadline = Clock::now() + std::chrono::seconds(30);
            while (!stop && Clock::now() < deadline) {
                if (client->Post("/agent", LoginRecord("demo02", "demo-pass-02")).body.substr(0, 5) == "40000") {
                    ++logins;
                    continue;
                }
                client = std::make_unique<TestClient>(m_nFront); // the proxy may have closed it
                std::lock_guard<std::mutex> lock(mutex);
                if (killed) {
                    ++failuresAfterKill;
                    lastFailure = Clock::now();
                }
            }
        });

    // Decisions through the first instance while the load runs; those answered as made must stay.
    std::vector<std::string> decided;
    for (const std::string& key : keys) {
        const HttpReply reply = TestClient(m_ports[0]).Post(
            "/admin/takeouts/decide", "key=" + key + "&decision=approve&token=" + token, kForm + cookie);
        if (reply.status == 303)
            decided.push_back(key);
        if (decided.size() == kRequests / 2)
            break;
    }
    ASSERT_EQ(decided.size(), static_cast<size_t>(kRequests / 2));
    {
        std::lock_guard<std::mutex> lock(mutex);
        m_instances[0]->Kill();
        killedAt = Clock::now();
        killed = true;
    }
    std::this_thread::sleep_for(std::chrono::seconds(4));
    const int before = logins;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    stop = true;
    for (std::thread& client : clients)
        client.join();

    EXPECT_GT(logins - before, 0) << "logins go on through the second instance";
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (failuresAfterKill > 0) {
            EXPECT_LT(std::chrono::duration<double>(lastFailure - killedAt).count(), 3.0)
                << failuresAfterKill << " failures after the kill";
        }
    }
    for (const std::string& key : decided)
        EXPECT_EQ(m_store->FindTakeOut(key)->state, TAKEOUT_APPROVED) << key;
    // The second instance answers for the decisions too.
    const std::string reference = TestClient(m_nFront).Post("/agent", KeyRecord("_%REQ_REF%_", decided.back())).body;
    ASSERT_EQ(reference.size(), 5u + 373);
    EXPECT_EQ(static_cast<unsigned char>(reference[5 + 369]), TAKEOUT_APPROVED);
}

} // namespace
} // namespace vlpolicy::test
