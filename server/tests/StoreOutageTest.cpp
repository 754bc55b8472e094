// PostgreSQL stopped under load and started again, in a cluster of this test's own (the shared
// one goes on serving the other tests): every exchange meanwhile is answered with the store's
// failure within 5 s, never left hanging; /healthz says 503 and the console says the store is
// unreachable; once PostgreSQL is back, logins succeed again without restarting the server.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "CPolicyServer.h"
#include "CPolicyStore.h"
#include "TestClient.h"

namespace vlpolicy::test {
namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class StoreOutageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/vlpolicyd-outage-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_cluster = folder;
        ASSERT_EQ(Cluster("start"), 0);
        struct stat info;
        if (stat((m_cluster + "/.s.PGSQL.5432").c_str(), &info) != 0)
            GTEST_SKIP() << "no PostgreSQL server binaries";
        StoreOptions options;
        options.demo = true;
        m_store = std::make_unique<CPolicyStore>("postgresql:///vlpolicy?host=" + m_cluster + "&user=vlpolicy",
                                                 options);
        m_store->AddAdmin("root", "console-pass-01");
        m_server = std::make_unique<CPolicyServer>(*m_store, "/agent", nullptr);
        m_nPort = m_server->Bind("127.0.0.1", 0);
        ASSERT_GT(m_nPort, 0);
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
        Cluster("stop");
    }
    int Cluster(const char* action)
    {
        const std::string command = std::string("sh " VLPOLICYD_PG_CLUSTER_SCRIPT " ") + action + " " + m_cluster +
                                    " >/dev/null";
        return system(command.c_str());
    }
    std::string Login(const std::string& user, const std::string& password)
    {
        return TestClient(m_nPort).Post("/agent", LoginRecord(user, password)).body.substr(0, 5);
    }

    std::string m_cluster;
    std::unique_ptr<CPolicyStore> m_store;
    std::unique_ptr<CPolicyServer> m_server;
    std::thread m_thread;
    int m_nPort = 0;
};

TEST_F(StoreOutageTest, PostgresStoppedUnderLoad_ExchangesFailFast_AndLoginsResumeWhenItIsBack)
{
    ASSERT_EQ(Login("demo01", "demo-pass-01"), "40000");

    // Four clients log in without pause for the whole test; each exchange's time is kept.
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0}, unanswered{0};
    std::atomic<int64_t> slowestMs{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 4; ++i)
        clients.emplace_back([&] {
            const auto deadline = Clock::now() + std::chrono::seconds(40);
            while (!stop && Clock::now() < deadline) {
                const auto start = Clock::now();
                const std::string status = Login("demo02", "demo-pass-02");
                const int64_t ms = static_cast<int64_t>(SecondsSince(start) * 1000);
                int64_t seen = slowestMs;
                while (ms > seen && !slowestMs.compare_exchange_weak(seen, ms)) {
                }
                ++(status.size() == 5 ? answered : unanswered);
            }
        });

    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(Cluster("pause"), 0);
    const auto stopped = Clock::now();
    // While it is down: refusals, each within 5 s; health 503; the console names the store.
    int refused = 0;
    while (SecondsSince(stopped) < 3) {
        const auto start = Clock::now();
        const std::string status = Login("demo01", "demo-pass-01");
        EXPECT_LT(SecondsSince(start), 5.0);
        if (status == "43000")
            ++refused;
        else
            ADD_FAILURE() << "answered " << status << " while the store was down";
    }
    EXPECT_GT(refused, 0);
    const auto start = Clock::now();
    const HttpReply health = TestClient(m_nPort).Get("/healthz");
    EXPECT_EQ(health.status, 503);
    EXPECT_LT(SecondsSince(start), 5.0);
    const HttpReply signIn = TestClient(m_nPort).Post("/admin/signin", "name=root&password=console-pass-01",
                                                      "Content-Type: application/x-www-form-urlencoded\r\n");
    EXPECT_EQ(signIn.status, 401);
    EXPECT_NE(signIn.body.find("the store is unreachable"), std::string::npos) << signIn.body;

    // Back: within a few seconds logins succeed again, with the same server.
    ASSERT_EQ(Cluster("resume"), 0);
    const auto resumed = Clock::now();
    std::string status;
    while (SecondsSince(resumed) < 10 && (status = Login("demo01", "demo-pass-01")) != "40000")
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(status, "40000");
    EXPECT_LT(SecondsSince(resumed), 5.0);
    EXPECT_EQ(TestClient(m_nPort).Get("/healthz").status, 200);

    stop = true;
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(unanswered, 0);
    EXPECT_GT(answered, 0);
    EXPECT_LT(slowestMs, 5000);
    const std::string metrics = TestClient(m_nPort).Get("/metrics").body;
    EXPECT_EQ(metrics.find("vlpolicyd_store_reconnects_total 0\n"), std::string::npos) << metrics;
    EXPECT_EQ(metrics.find("vlpolicyd_store_errors_total 0\n"), std::string::npos) << metrics;
}

} // namespace
} // namespace vlpolicy::test
