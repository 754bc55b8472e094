// The console's security rules over HTTP on 127.0.0.1, with the server's clock set by the test:
// redirects and refusals without a session, the cookie's attributes, the per-session token of
// every POST, idle expiry, the administrators' lock-out, and escaping of what agents sent. On
// every engine.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "CPolicyServer.h"
#include "CPolicyStore.h"
#include "TestClient.h"
#include "TestStore.h"
#include "WireFormat.h"

namespace vlpolicy::test {
namespace {

constexpr int64_t kStart = 1900000000; // 2030-03-17
constexpr char kAdminPassword[] = "console-pass-01";
const std::string kForm = "Content-Type: application/x-www-form-urlencoded\r\n";

class AdminConsoleTest : public ::testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/vlpolicyd-admin-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_location = std::make_unique<TestStore>(GetParam(), m_folder);
        if (!m_location->Available())
            GTEST_SKIP() << "no PostgreSQL test cluster";
        StoreOptions options;
        options.demo = true;
        m_store = std::make_unique<CPolicyStore>(m_location->Locator(), options);
        m_store->AddAdmin("root", kAdminPassword);
        m_server = std::make_unique<CPolicyServer>(*m_store, "/agent", nullptr);
        m_server->SetClock([this] { return m_now.load(); });
        m_nPort = m_server->Bind("127.0.0.1", 0);
        ASSERT_GT(m_nPort, 0);
        m_thread = std::thread([this] { m_server->Serve(); });
        m_key = m_store->CreateTakeOut("demo01", "20300401", "20300405", "visit", kStart);
    }
    void TearDown() override
    {
        if (m_server)
            m_server->Stop();
        if (m_thread.joinable())
            m_thread.join();
        m_server.reset();
        m_store.reset();
        m_location.reset();
        std::filesystem::remove_all(m_folder);
    }

    HttpReply SignIn(const std::string& password, const std::string& name = "root")
    {
        return TestClient(m_nPort).Post("/admin/signin", "name=" + name + "&password=" + password, kForm);
    }
    // The "Cookie:" header line that a browser would send after this sign-in reply.
    static std::string CookieOf(const HttpReply& reply)
    {
        const size_t at = reply.headers.find("vlpolicyd_admin=");
        if (at == std::string::npos)
            return std::string();
        return "Cookie: " + reply.headers.substr(at, reply.headers.find(';', at) - at) + "\r\n";
    }
    HttpReply Get(const std::string& path, const std::string& cookie)
    {
        return TestClient(m_nPort).Get(path, cookie);
    }
    HttpReply Post(const std::string& path, const std::string& body, const std::string& cookie)
    {
        return TestClient(m_nPort).Post(path, body, kForm + cookie);
    }
    // The session's token as the pages carry it.
    std::string TokenOf(const std::string& cookie)
    {
        const std::string page = Get("/admin/", cookie).body;
        const std::string marker = "name=\"token\" value=\"";
        const size_t at = page.find(marker);
        return at == std::string::npos ? std::string() : page.substr(at + marker.size(), 32);
    }
    int32_t StateOf(const std::string& key) { return m_store->FindTakeOut(key)->state; }
    static std::string Header(const HttpReply& reply, const std::string& name)
    {
        const size_t at = reply.headers.find(name + ": ");
        return at == std::string::npos ? std::string()
                                       : reply.headers.substr(at + name.size() + 2,
                                                              reply.headers.find("\r\n", at) - at - name.size() - 2);
    }

    std::string m_folder;
    std::unique_ptr<TestStore> m_location;
    std::atomic<int64_t> m_now{kStart};
    std::unique_ptr<CPolicyStore> m_store;
    std::unique_ptr<CPolicyServer> m_server;
    std::thread m_thread;
    int m_nPort = 0;
    std::string m_key;
};

INSTANTIATE_TEST_SUITE_P(Engines, AdminConsoleTest, kEngines, EngineName);

TEST_P(AdminConsoleTest, WithoutASession_PagesRedirectAndPostsChangeNothing)
{
    UserPolicy policy;
    for (int i = 0; i < CPolicyStore::kLockThreshold; ++i)
        m_store->Login("demo02", "wrong", kStart, policy);
    const std::string bogus = "Cookie: vlpolicyd_admin=00000000000000000000000000000000\r\n";
    for (const std::string& cookie : {std::string(), bogus}) {
        for (const char* path : {"/admin/", "/admin/takeouts", "/admin/users", "/admin/log", "/admin/elsewhere"}) {
            SCOPED_TRACE(std::string(path) + (cookie.empty() ? " without a cookie" : " with an unknown session"));
            const HttpReply reply = Get(path, cookie);
            EXPECT_EQ(reply.status, 303);
            EXPECT_EQ(Header(reply, "Location"), "/admin/signin");
        }
        EXPECT_EQ(Post("/admin/takeouts/decide", "key=" + m_key + "&decision=approve&token=x", cookie).status, 403);
        EXPECT_EQ(Post("/admin/users/unlock", "user=demo02&token=x", cookie).status, 403);
    }
    EXPECT_EQ(StateOf(m_key), TAKEOUT_REQUESTED);
    EXPECT_GT(m_store->FindUser("demo02")->lockedUntil, kStart);
}

TEST_P(AdminConsoleTest, SignIn_SetsACookieForTheConsoleOnly_AndSignOutEndsIt)
{
    const HttpReply forged = TestClient(m_nPort).Post("/admin/signin", std::string("name=root&password=") + kAdminPassword,
                                                      kForm + "Origin: http://elsewhere.example\r\n");
    EXPECT_EQ(forged.status, 403);
    EXPECT_TRUE(CookieOf(forged).empty());
    const HttpReply reply = SignIn(kAdminPassword);
    EXPECT_EQ(reply.status, 303);
    EXPECT_EQ(Header(reply, "Location"), "/admin/");
    const std::string setCookie = Header(reply, "Set-Cookie");
    EXPECT_NE(setCookie.find("; Path=/admin; HttpOnly; SameSite=Strict"), std::string::npos) << setCookie;
    EXPECT_EQ(setCookie.find("Secure"), std::string::npos) << "no Secure over plain HTTP, or no browser keeps it";
    const std::string cookie = CookieOf(reply);
    const HttpReply page = Get("/admin/", cookie);
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(Header(page, "Content-Security-Policy").find("default-src 'none'"), std::string::npos);

    EXPECT_EQ(Post("/admin/signout", "token=wrong", cookie).status, 403);
    EXPECT_EQ(Get("/admin/", cookie).status, 200);
    const HttpReply out = Post("/admin/signout", "token=" + TokenOf(cookie), cookie);
    EXPECT_EQ(out.status, 303);
    EXPECT_NE(Header(out, "Set-Cookie").find("Max-Age=0"), std::string::npos);
    EXPECT_EQ(Get("/admin/", cookie).status, 303);
}

TEST_P(AdminConsoleTest, Posts_WithoutTheSessionsOwnTokenChangeNothing)
{
    const std::string cookie = CookieOf(SignIn(kAdminPassword));
    const std::string other = CookieOf(SignIn(kAdminPassword));
    const std::string token = TokenOf(cookie);
    ASSERT_EQ(token.size(), 32u);
    std::string nearMiss = token;
    nearMiss.back() = nearMiss.back() == '0' ? '1' : '0';
    const struct
    {
        const char* name;
        std::string tokenField;
    } cases[] = {
        {"no token", ""},
        {"an empty token", "&token="},
        {"a token one character off", "&token=" + nearMiss},
        {"another session's token", "&token=" + TokenOf(other)},
        {"the token cut short", "&token=" + token.substr(0, 16)},
        {"the token, from a page of another site", "&token=" + token},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string origin = c.tokenField == "&token=" + token ? "Origin: http://elsewhere.example\r\n" : "";
        EXPECT_EQ(Post("/admin/takeouts/decide", "key=" + m_key + "&decision=refuse" + c.tokenField, cookie + origin)
                      .status,
                  403);
        EXPECT_EQ(StateOf(m_key), TAKEOUT_REQUESTED);
    }
    const HttpReply done =
        Post("/admin/takeouts/decide", "key=" + m_key + "&decision=approve&comment=ok&token=" + token, cookie);
    EXPECT_EQ(done.status, 303);
    EXPECT_EQ(Header(done, "Location"), "/admin/?done=approved&item=" + m_key);
    // The decision is the store's, as the command line makes it: the agent's reference reads it.
    const std::string reference = TestClient(m_nPort).Post("/agent", KeyRecord("_%REQ_REF%_", m_key)).body;
    ASSERT_EQ(reference.size(), 5u + 373);
    EXPECT_EQ(reference.substr(5 + 287, 16), "2030040120300405");
    EXPECT_EQ(reference[5 + 369], TAKEOUT_APPROVED);
    EXPECT_EQ(m_store->TakeOutHistory().back().actor, "admin:root");
    EXPECT_EQ(m_store->TakeOutHistory().back().text, "ok");
}

TEST_P(AdminConsoleTest, Session_EndsAfterThirtyIdleMinutes)
{
    const std::string cookie = CookieOf(SignIn(kAdminPassword));
    // Each use starts the idle time again.
    for (int step = 0; step < 3; ++step) {
        m_now += CAdminSessions::kIdleSeconds;
        EXPECT_EQ(Get("/admin/users", cookie).status, 200) << "step " << step;
    }
    m_now += CAdminSessions::kIdleSeconds + 1;
    EXPECT_EQ(Get("/admin/users", cookie).status, 303);
    m_now -= 10; // an ended session stays ended
    EXPECT_EQ(Get("/admin/users", cookie).status, 303);

    // A removed administrator's session ends with the account.
    const std::string again = CookieOf(SignIn(kAdminPassword));
    EXPECT_EQ(Get("/admin/", again).status, 200);
    ASSERT_TRUE(m_store->RemoveAdmin("root"));
    EXPECT_EQ(Get("/admin/", again).status, 303);
}

TEST_P(AdminConsoleTest, AdminAccount_LocksAfterRepeatedFailures)
{
    for (int i = 0; i < CPolicyStore::kLockThreshold; ++i) {
        const HttpReply refused = SignIn("wrong-password");
        EXPECT_EQ(refused.status, 401);
        EXPECT_NE(refused.body.find("unknown administrator or wrong password"), std::string::npos);
        EXPECT_TRUE(CookieOf(refused).empty());
    }
    const HttpReply locked = SignIn(kAdminPassword);
    EXPECT_EQ(locked.status, 401);
    EXPECT_NE(locked.body.find("locked after too many failed sign-ins until " +
                               CPolicyStore::FormatTime(kStart + CPolicyStore::kLockSeconds)),
              std::string::npos);
    EXPECT_EQ(SignIn(kAdminPassword, "nobody").status, 401);
    EXPECT_EQ(m_store->LastExchanges(1)[0].kind, "admin-signin");
    m_now += CPolicyStore::kLockSeconds + 1;
    EXPECT_EQ(SignIn(kAdminPassword).status, 303);
    // Agent users and administrators are apart: an agent's password opens no console.
    EXPECT_EQ(SignIn("demo-pass-01", "demo01").status, 401);
}

TEST_P(AdminConsoleTest, ValuesFromAgents_ShowAsTextOnEveryPage)
{
    const std::string hostile = "<script>alert(1)</script>\"'&";
    const std::string escaped = "&lt;script&gt;alert(1)&lt;/script&gt;&quot;&#39;&amp;";
    m_store->CreateTakeOut("demo02", "20300501", "20300502", hostile, kStart);
    // A login attempt names the user in the exchange log, as the agent sent it.
    TestClient(m_nPort).Post("/agent", LoginRecord("<img src=x>", "pw"));
    const std::string cookie = CookieOf(SignIn(kAdminPassword));
    for (const char* path : {"/admin/", "/admin/takeouts", "/admin/log"}) {
        SCOPED_TRACE(path);
        const std::string page = Get(path, cookie).body;
        EXPECT_EQ(page.find("<script"), std::string::npos);
        EXPECT_EQ(page.find("<img"), std::string::npos);
        if (std::string(path) != "/admin/log") {
            EXPECT_NE(page.find(escaped), std::string::npos);
        }
    }
    EXPECT_NE(Get("/admin/log", cookie).body.find("&lt;img src=x&gt;"), std::string::npos);
    EXPECT_EQ(HtmlEscape("a<b>&\"'c"), "a&lt;b&gt;&amp;&quot;&#39;c");
}

TEST_P(AdminConsoleTest, LoginPage_SaysTheOutcomeBeforeTheAgentsRecord)
{
    const std::string form = "Content-Type: application/x-www-form-urlencoded\r\n";
    TestClient client(m_nPort);
    const struct
    {
        std::string body;
        std::string words;
        std::string result;
    } cases[] = {
        {"USER_ID=demo01&USER_PWD=demo-pass-01", "Logged in as demo01 (company DEMOCO", "<Result>40000</Result>"},
        {"USER_ID=%3Cb%3E&USER_PWD=x", "unknown user or wrong password.", "<Result>41001</Result>"},
        {"USER_ID=demo01", "needs a user ID and a password", "<Result>42000</Result>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        const std::string page = client.Post("/agent", c.body, form).body;
        const size_t words = page.find(c.words), result = page.find(c.result);
        EXPECT_NE(words, std::string::npos);
        ASSERT_NE(result, std::string::npos);
        EXPECT_LT(words, result);
        EXPECT_EQ(page.find("<b>"), std::string::npos);
    }
    for (int i = 0; i < CPolicyStore::kLockThreshold; ++i)
        client.Post("/agent", "USER_ID=demo02&USER_PWD=x", form);
    EXPECT_NE(client.Post("/agent", "USER_ID=demo02&USER_PWD=demo-pass-02", form)
                  .body.find("locked after too many failed logins until " +
                             CPolicyStore::FormatTime(kStart + CPolicyStore::kLockSeconds)),
              std::string::npos);
    const HttpReply loginForm = client.Get("/login");
    for (const char* part : {"<label for=\"user-id\">", "id=\"user-id\" name=\"USER_ID\"", "action=\"/agent\""})
        EXPECT_NE(loginForm.body.find(part), std::string::npos) << part;
    EXPECT_FALSE(CPolicyServer::IsValidPath("/login"));
    EXPECT_FALSE(CPolicyServer::IsValidPath("/admin/agent"));
}

TEST(AdminStoreTest, AStoreMadeBeforeTheConsole_GetsItsAdministratorsTableAndLoginCounts)
{
    char folder[] = "/tmp/vlpolicyd-admin-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/policy.db";
    {
        StoreOptions options;
        options.demo = true;
        CPolicyStore created(path, options);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "DROP TABLE admins; ALTER TABLE users DROP COLUMN logins", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    {
        CPolicyStore store(path);
        EXPECT_TRUE(store.ListAdmins().empty());
        store.AddAdmin("root", kAdminPassword);
        EXPECT_EQ(store.AdminLogin("root", kAdminPassword, kStart), kStatusOk);
        EXPECT_TRUE(store.UserExists("demo01")) << "the directory is kept";
        UserPolicy policy;
        EXPECT_EQ(store.Login("demo01", "demo-pass-01", kStart, policy), kStatusOk) << "the count of logins is added";
    }
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace vlpolicy::test
