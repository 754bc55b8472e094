// The store's own guarantees: a new store has no account anyone knows unless the demonstration
// directory is asked for, a login attempt that cannot be written is refused (right password or
// wrong, agents and administrators, in the store and over HTTP), and the exchange log keeps its
// retention; a store copied to the other engine and back keeps everything. On every engine.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "CPolicyServer.h"
#include "CPolicyStore.h"
#include "TestClient.h"
#include "TestStore.h"
#include "store/CStoreCopy.h"
#include "WireFormat.h"

namespace vlpolicy::test {
namespace {

constexpr int64_t kNow = 1900000000; // 2030-03-17

class PolicyStoreTest : public ::testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/vlpolicyd-store-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_location = std::make_unique<TestStore>(GetParam(), m_folder);
        if (!m_location->Available())
            GTEST_SKIP() << "no PostgreSQL test cluster";
        m_path = m_location->Locator();
    }
    void TearDown() override
    {
        m_location.reset();
        std::filesystem::remove_all(m_folder);
    }

    std::string m_folder;
    std::unique_ptr<TestStore> m_location;
    std::string m_path;
};

INSTANTIATE_TEST_SUITE_P(Engines, PolicyStoreTest, kEngines, EngineName);

TEST_P(PolicyStoreTest, NewStore_HasNoKnownAccountUnlessTheDemonstrationIsAskedFor)
{
    for (const bool demo : {false, true}) {
        SCOPED_TRACE(demo ? "demo" : "plain");
        m_location->Reset();
        StoreOptions options;
        options.demo = demo;
        {
            CPolicyStore store(m_path, options);
            EXPECT_TRUE(store.Created());
            EXPECT_EQ(store.ListUsers().size(), demo ? 2u : 0u);
            EXPECT_TRUE(store.ListAdmins().empty());
            UserPolicy policy;
            EXPECT_EQ(store.Login("demo01", "demo-pass-01", kNow, policy), demo ? kStatusOk : kStatusBadLogin);
            // The first real user goes into the starting directory.
            store.AddUser("first", "first-pass", store.DefaultCompany(), store.DefaultGroup(), "");
            ASSERT_EQ(store.Login("first", "first-pass", kNow, policy), kStatusOk);
            EXPECT_EQ(policy.companyID, demo ? "DEMOCO" : "COMPANY");
            EXPECT_EQ(policy.groupID, demo ? "DEMO-STAFF" : "STAFF");
            EXPECT_EQ(policy.superKey.size(), 16u);
            EXPECT_EQ(policy.superKey == "DEMOSUPERKEY0001", demo) << "a store of its own has its own key";
        }
        // Asking for the demonstration later leaves an existing store as it is.
        options.demo = true;
        CPolicyStore again(m_path, options);
        EXPECT_FALSE(again.Created());
        EXPECT_EQ(again.UserExists("demo01"), demo);
    }
}

TEST_P(PolicyStoreTest, LoginThatCannotBeWritten_IsRefusedEvenWithTheRightPassword)
{
    StoreOptions options;
    options.demo = true;
    options.busyTimeoutMs = 50; // the lock below is held far beyond it
    CPolicyStore store(m_path, options);
    store.AddAdmin("root", "console-pass-01");
    CPolicyServer server(store, "/agent", nullptr);
    const int port = server.Bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    std::thread serving([&server] { server.Serve(); });
    // Stopped and joined on every way out, a failed assertion's too.
    const std::unique_ptr<std::thread, std::function<void(std::thread*)>> joined(&serving, [&server](std::thread* t) {
        server.Stop();
        t->join();
    });
    UserPolicy policy;

    // With nothing counted yet, and with a failure counted (a right password then clears it).
    for (const bool earlierFailure : {false, true}) {
        SCOPED_TRACE(earlierFailure ? "after a failure" : "nothing counted");
        if (earlierFailure) {
            ASSERT_EQ(store.Login("demo02", "wrong", kNow, policy), kStatusBadLogin);
            ASSERT_EQ(store.AdminLogin("root", "wrong", kNow), kStatusBadLogin);
        }
        // Another process holds off every write to the accounts.
        std::unique_ptr<CStoreConnection> other = m_location->HoldWrites();
        for (const char* password : {"demo-pass-02", "wrong"})
            EXPECT_THROW(store.Login("demo02", password, kNow, policy), CStoreError) << password;
        for (const char* password : {"console-pass-01", "wrong"})
            EXPECT_THROW(store.AdminLogin("root", password, kNow), CStoreError) << password;
        // Over HTTP: the agent's login answers the store's failure, the console opens no session.
        TestClient client(port);
        EXPECT_EQ(client.Post("/agent", LoginRecord("demo02", "demo-pass-02")).body, "43000");
        const HttpReply signIn = client.Post("/admin/signin", "name=root&password=console-pass-01",
                                             "Content-Type: application/x-www-form-urlencoded\r\n");
        EXPECT_EQ(signIn.status, 401);
        EXPECT_EQ(signIn.headers.find("Set-Cookie"), std::string::npos);
        // Ended before it is closed: a closed PostgreSQL connection's locks go only once its server
        // has noticed, which a loaded machine can make later than the 50 ms above.
        other->Rollback();
        other.reset();

        // Writable again: the right passwords get in, and the refused attempts counted nothing.
        EXPECT_EQ(store.FindUser("demo02")->failedLogins, earlierFailure ? 1 : 0);
        EXPECT_EQ(store.ListAdmins()[0].failedLogins, earlierFailure ? 1 : 0);
        EXPECT_EQ(store.Login("demo02", "demo-pass-02", kNow, policy), kStatusOk);
        EXPECT_EQ(store.AdminLogin("root", "console-pass-01", kNow), kStatusOk);
        EXPECT_EQ(store.FindUser("demo02")->failedLogins, 0);
    }
}

TEST_P(PolicyStoreTest, ExchangeLog_KeepsItsRetention)
{
    // Old rows, then new ones 60 days later; what is left afterwards is always the newest rows.
    const struct
    {
        int64_t keepRows;
        int64_t keepDays;
        int oldRows;
        int newRows;
        size_t left;
    } cases[] = {
        {10, 90, 5, 20, 10},   // the row limit
        {1000, 30, 5, 3, 3},   // the age limit
        {1000, 90, 5, 3, 8},   // nothing due
        {3, 30, 5, 1, 1},      // both
        {1000, 30, 600, 2, 2}, // more than one call drops: the first new row drops 512, the next the rest
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.keepRows) + " rows, " + std::to_string(c.keepDays) + " days, " +
                     std::to_string(c.oldRows) + " old");
        m_location->Reset();
        StoreOptions options;
        options.exchangeKeepRows = c.keepRows;
        options.exchangeKeepDays = c.keepDays;
        CPolicyStore store(m_path, options);
        const int total = c.oldRows + c.newRows;
        for (int i = 0; i < total; ++i)
            store.LogExchange({i < c.oldRows ? "2030-01-01T00:00:00Z" : "2030-03-02T00:00:00Z", "127.0.0.1", "ping",
                               std::to_string(i), kStatusOk});
        const std::vector<ExchangeEntry> log = store.LastExchanges(100000);
        ASSERT_EQ(log.size(), c.left);
        EXPECT_EQ(log.front().userID, std::to_string(total - static_cast<int>(c.left)));
        EXPECT_EQ(log.back().userID, std::to_string(total - 1));
    }
}

TEST_P(PolicyStoreTest, CopiedToTheOtherEngineAndBack_KeepsEverything)
{
    if (TestStore::ClusterUri().empty())
        GTEST_SKIP() << "no PostgreSQL test cluster";
    const Engine other = GetParam() == Engine::Sqlite ? Engine::Postgres : Engine::Sqlite;
    TestStore middle(other, m_folder);
    const std::string backPath = m_folder + "/back";
    std::filesystem::create_directory(backPath);
    TestStore back(GetParam(), backPath);

    StoreOptions options;
    options.demo = true;
    {
        CPolicyStore store(m_path, options);
        store.AddAdmin("root", "console-pass-01");
        UserPolicy policy;
        ASSERT_EQ(store.Login("demo01", "demo-pass-01", kNow, policy), kStatusOk);
        ASSERT_EQ(store.Login("demo02", "wrong", kNow, policy), kStatusBadLogin);
        store.RememberClient("10.0.0.7", "demo01", kNow);
        const std::string key = store.CreateTakeOut("demo01", "20300401", "20300405", "visit", kNow);
        ASSERT_EQ(store.Approve(key, "", "", kNow + 60, "ok", "admin:root"), DecisionResult::Done);
        for (int i = 0; i < 3; ++i)
            store.LogExchange({CPolicyStore::FormatTime(kNow + i), "10.0.0.7", "login", "demo01", kStatusOk});
    }
    CStoreCopy::Copy(m_path, middle.Locator());
    const auto counts = CStoreCopy::Copy(middle.Locator(), back.Locator());
    for (const auto& [table, count] : counts) {
        if (table == "users" || table == "takeout_history" || table == "exchanges") {
            EXPECT_EQ(count, table == "exchanges" ? 3 : 2) << table;
        }
    }
    EXPECT_THROW(CStoreCopy::Copy(m_path, middle.Locator()), CStoreError) << "the target holds a store";

    CPolicyStore original(m_path), copy(back.Locator());
    EXPECT_FALSE(copy.Created());
    auto users = [](CPolicyStore& store) {
        std::string text;
        for (const UserEntry& user : store.ListUsers())
            text += user.userID + " " + user.groupID + " " + std::to_string(user.failedLogins) + ";";
        return text;
    };
    EXPECT_EQ(users(copy), users(original));
    EXPECT_EQ(copy.ListAdmins().size(), 1u);
    EXPECT_EQ(copy.DefaultCompany(), original.DefaultCompany());
    EXPECT_EQ(copy.DefaultGroup(), original.DefaultGroup());
    ASSERT_EQ(copy.ListTakeOuts().size(), 1u);
    EXPECT_EQ(copy.ListTakeOuts()[0].state, TAKEOUT_APPROVED);
    ASSERT_EQ(copy.TakeOutHistory().size(), 2u);
    EXPECT_EQ(copy.TakeOutHistory()[1].actor, "admin:root");
    EXPECT_EQ(copy.ClientUser("10.0.0.7"), std::optional<std::string>("demo01"));
    std::string originalAcl, copiedAcl;
    ASSERT_EQ(original.Acl("demo01", 3, originalAcl), kStatusOk);
    ASSERT_EQ(copy.Acl("demo01", 3, copiedAcl), kStatusOk);
    EXPECT_EQ(copiedAcl, originalAcl);
    UserPolicy originalPolicy, copiedPolicy;
    ASSERT_EQ(original.Login("demo01", "demo-pass-01", kNow, originalPolicy), kStatusOk);
    ASSERT_EQ(copy.Login("demo01", "demo-pass-01", kNow, copiedPolicy), kStatusOk);
    EXPECT_EQ(copiedPolicy.superKey, originalPolicy.superKey);
    EXPECT_EQ(memcmp(copiedPolicy.abAppFlags, originalPolicy.abAppFlags, sizeof(copiedPolicy.abAppFlags)), 0);
    EXPECT_EQ(copiedPolicy.abAppFlags[APP_FLAG_COUNT - 1], APP_FLAG_COUNT) << "the flags came through as bytes";
    EXPECT_EQ(copy.AdminLogin("root", "console-pass-01", kNow), kStatusOk);
    // The log goes on after the copied rows.
    copy.LogExchange({CPolicyStore::FormatTime(kNow + 9), "10.0.0.7", "ping", "", kStatusOk});
    const std::vector<ExchangeEntry> log = copy.LastExchanges(10);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log.back().kind, "ping");
}

} // namespace
} // namespace vlpolicy::test
