// Two instances of the server on one store, as behind a load balancer: what one decides, the other
// sees. Wrong passwords spread over both at the same moment lock the account at exactly the
// threshold; a take-out asked through one and decided through the other; a console session made
// on one is valid, and ended, on both. On every engine (two processes share a SQLite file too).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "CPolicyServer.h"
#include "CPolicyStore.h"
#include "TestClient.h"
#include "TestStore.h"
#include "WireFormat.h"

namespace vlpolicy::test {
namespace {

const std::string kForm = "Content-Type: application/x-www-form-urlencoded\r\n";

// One instance: its own store object (its own connections) and its own listener.
struct Instance
{
    std::unique_ptr<CPolicyStore> store;
    std::unique_ptr<CPolicyServer> server;
    std::thread thread;
    int port = 0;
};

class SharedStoreTest : public ::testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/vlpolicyd-shared-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_location = std::make_unique<TestStore>(GetParam(), m_folder);
        if (!m_location->Available())
            GTEST_SKIP() << "no PostgreSQL test cluster";
        StoreOptions options;
        options.demo = true;
        for (Instance& instance : m_instances) {
            instance.store = std::make_unique<CPolicyStore>(m_location->Locator(), options);
            instance.server = std::make_unique<CPolicyServer>(*instance.store, "/agent", nullptr);
            instance.port = instance.server->Bind("127.0.0.1", 0);
            ASSERT_GT(instance.port, 0);
            instance.thread = std::thread([&instance] { instance.server->Serve(); });
        }
        m_instances[0].store->AddAdmin("root", "console-pass-01");
    }
    void TearDown() override
    {
        for (Instance& instance : m_instances) {
            if (instance.server)
                instance.server->Stop();
            if (instance.thread.joinable())
                instance.thread.join();
            instance.server.reset();
            instance.store.reset();
        }
        m_location.reset();
        std::filesystem::remove_all(m_folder);
    }
    std::string Exchange(int instance, const std::string& body, const std::string& source = "127.0.0.1")
    {
        return TestClient(m_instances[instance].port, source).Post("/agent", body).body;
    }
    static std::string CookieOf(const HttpReply& reply)
    {
        const size_t at = reply.headers.find("vlpolicyd_admin=");
        if (at == std::string::npos)
            return std::string();
        return "Cookie: " + reply.headers.substr(at, reply.headers.find(';', at) - at) + "\r\n";
    }

    std::string m_folder;
    std::unique_ptr<TestStore> m_location;
    Instance m_instances[2];
};

INSTANTIATE_TEST_SUITE_P(Engines, SharedStoreTest, kEngines, EngineName);

TEST_P(SharedStoreTest, WrongPasswordsAtTheSameTimeOnBothInstances_LockAtExactlyTheThreshold)
{
    constexpr int kAttempts = 16;
    std::atomic<int> ready{0}, badLogin{0}, locked{0}, other{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kAttempts; ++i)
        threads.emplace_back([&, i] {
            TestClient client(m_instances[i % 2].port);
            ++ready;
            while (ready < kAttempts)
                std::this_thread::yield();
            const std::string status = client.Post("/agent", LoginRecord("demo02", "wrong")).body.substr(0, 5);
            ++(status == "41001" ? badLogin : status == "41002" ? locked : other);
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(badLogin, CPolicyStore::kLockThreshold);
    EXPECT_EQ(locked, kAttempts - CPolicyStore::kLockThreshold);
    EXPECT_EQ(other, 0);
    // Locked for both, right password or not.
    for (int instance : {0, 1})
        EXPECT_EQ(Exchange(instance, LoginRecord("demo02", "demo-pass-02")).substr(0, 5), "41002") << instance;
}

TEST_P(SharedStoreTest, ATakeOutAskedThroughOne_IsOwnedAndDecidedThroughTheOther)
{
    // The login through the first instance answers for the address's requests on the second.
    ASSERT_EQ(Exchange(0, LoginRecord("demo01", "demo-pass-01"), "127.0.0.2").substr(0, 5), "40000");
    const std::string reply = Exchange(1, TakeOutRecord("_%REQ_OUT%_", "", "visit", "20270301", "20270310"), "127.0.0.2");
    ASSERT_EQ(reply.substr(0, 5), "40000");
    const std::string key(reply.c_str() + 5 + 31);
    ASSERT_EQ(m_instances[0].store->FindTakeOut(key)->userID, "demo01");

    ASSERT_EQ(m_instances[1].store->Approve(key, "", "", time(nullptr)), DecisionResult::Done);
    for (int instance : {0, 1}) {
        const std::string reference = Exchange(instance, KeyRecord("_%REQ_REF%_", key));
        ASSERT_EQ(reference.size(), 5u + 373) << instance;
        EXPECT_EQ(static_cast<unsigned char>(reference[5 + 369]), TAKEOUT_APPROVED) << instance;
    }
}

TEST_P(SharedStoreTest, AConsoleSessionMadeOnOne_IsValidAndEndedOnBoth)
{
    const HttpReply signIn =
        TestClient(m_instances[0].port).Post("/admin/signin", "name=root&password=console-pass-01", kForm);
    const std::string cookie = CookieOf(signIn);
    ASSERT_FALSE(cookie.empty()) << signIn.headers;
    const std::string page = TestClient(m_instances[1].port).Get("/admin/", cookie).body;
    const std::string marker = "name=\"token\" value=\"";
    const size_t at = page.find(marker);
    ASSERT_NE(at, std::string::npos) << "the second instance knows the session";
    EXPECT_EQ(TestClient(m_instances[0].port).Get("/admin/", cookie).status, 200);

    // Signed out through the second: ended on the first as well.
    const std::string token = page.substr(at + marker.size(), 32);
    EXPECT_EQ(TestClient(m_instances[1].port).Post("/admin/signout", "token=" + token, kForm + cookie).status, 303);
    for (int instance : {0, 1})
        EXPECT_EQ(TestClient(m_instances[instance].port).Get("/admin/", cookie).status, 303) << instance;
}

} // namespace
} // namespace vlpolicy::test
