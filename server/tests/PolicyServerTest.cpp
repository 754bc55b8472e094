// The server over HTTP on 127.0.0.1, with records built byte by byte: every exchange's reply
// bytes, take-out from request to decision, refusals and lock-out, malformed bodies, a store
// that survives restarts, and the administrator's commands beside a server under full login load.
// On every engine.
#include <gtest/gtest.h>
#include <spawn.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "CPolicyServer.h"
#include "CPolicyStore.h"
#include "CTrustedProxies.h"
#include "PasswordHash.h"
#include "TestClient.h"
#include "TestStore.h"
#include "WireFormat.h"

namespace vlpolicy::test {
namespace {

constexpr char kPath[] = "/agent";

class PolicyServerTest : public ::testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/vlpolicyd-test-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_location = std::make_unique<TestStore>(GetParam(), m_folder);
        if (!m_location->Available())
            GTEST_SKIP() << "no PostgreSQL test cluster";
        Start();
    }
    void TearDown() override
    {
        Stop();
        m_location.reset();
        std::filesystem::remove_all(m_folder);
    }
    void Start()
    {
        StoreOptions options;
        options.demo = true;
        m_store = std::make_unique<CPolicyStore>(m_location->Locator(), options);
        m_server = std::make_unique<CPolicyServer>(*m_store, kPath, nullptr);
        m_server->SetClock([this] { return static_cast<int64_t>(time(nullptr)) + m_nClockOffset.load(); });
        m_server->SetTrustedProxies(m_proxies);
        m_nPort = m_server->Bind("127.0.0.1", 0);
        ASSERT_GT(m_nPort, 0);
        m_thread = std::thread([this] { m_server->Serve(); });
    }
    void Stop()
    {
        if (m_server)
            m_server->Stop();
        if (m_thread.joinable())
            m_thread.join();
        m_server.reset();
        m_store.reset();
    }
    void Restart()
    {
        Stop();
        Start();
    }
    // The body of a POST to the agent path from source.
    std::string Exchange(const std::string& body, const std::string& source = "127.0.0.1",
                         const std::string& headers = "")
    {
        TestClient client(m_nPort, source);
        return client.Post(kPath, body, headers).body;
    }
    std::string Login(const std::string& user, const std::string& password, const std::string& source = "127.0.0.1")
    {
        return Exchange(LoginRecord(user, password), source).substr(0, 5);
    }
    // A take-out request; returns the issued key ("" when refused).
    std::string RequestTakeOut(const std::string& owner, const std::string& start, const std::string& end,
                               const std::string& source = "127.0.0.1")
    {
        const std::string reply = Exchange(TakeOutRecord("_%REQ_OUT%_", owner, "visit", start, end), source);
        if (reply.substr(0, 5) != "40000" || reply.size() != 5 + 85)
            return "";
        return std::string(reply.c_str() + 5 + 31);
    }
    // The reference reply's status and dates: "40000 1 2024010120240102", or the refusal status.
    std::string Reference(const std::string& key)
    {
        const std::string reply = Exchange(KeyRecord("_%REQ_REF%_", key));
        if (reply.size() != 5 + 373)
            return reply;
        return reply.substr(0, 5) + " " + std::to_string(static_cast<unsigned char>(reply[5 + 369])) + " " +
               reply.substr(5 + 287, 16);
    }

    // Runs the real vlpolicyd binary on this store with input on its standard input: exit code,
    // output (stdout and stderr) and wall time. In a session of its own, as from an administrator's
    // terminal: the scheduler then shares the cores between the command and this process's clients
    // as between two sessions.
    struct CommandRun
    {
        int exitCode = -1;
        std::string output;
        double seconds = 0;
    };
    CommandRun RunCommand(std::vector<std::string> arguments, const std::string& input = "")
    {
        CommandRun run;
        const auto start = std::chrono::steady_clock::now();
        arguments.insert(arguments.begin(), VLPOLICYD_BINARY);
        arguments.insert(arguments.end(), {"--db", m_location->Locator()});
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        int output[2];
        if (pipe(output) != 0)
            return run;
        int inputPipe[2];
        if (pipe(inputPipe) != 0) {
            close(output[0]);
            close(output[1]);
            return run;
        }
        // A few bytes: the pipe's buffer holds them before the child reads.
        const bool written = write(inputPipe[1], input.data(), input.size()) == static_cast<ssize_t>(input.size());
        close(inputPipe[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, inputPipe[0], 0);
        posix_spawn_file_actions_adddup2(&actions, output[1], 1);
        posix_spawn_file_actions_adddup2(&actions, output[1], 2);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        pid_t child = -1;
        const int spawned = posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        close(output[1]);
        close(inputPipe[0]);
        if (!written)
            run.output = "the command's input could not be written\n";
        char buffer[4096];
        ssize_t size;
        while ((size = read(output[0], buffer, sizeof(buffer))) > 0)
            run.output.append(buffer, static_cast<size_t>(size));
        close(output[0]);
        int status = 0;
        if (spawned == 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
            run.exitCode = WEXITSTATUS(status);
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return run;
    }

    std::string m_folder;
    std::unique_ptr<TestStore> m_location;
    std::unique_ptr<CPolicyStore> m_store;
    std::unique_ptr<CPolicyServer> m_server;
    std::thread m_thread;
    int m_nPort = 0;
    std::atomic<int64_t> m_nClockOffset{0}; // seconds added to the server's clock
    CTrustedProxies m_proxies;              // taken at the next Start
};

INSTANTIATE_TEST_SUITE_P(Engines, PolicyServerTest, kEngines, EngineName);

TEST_P(PolicyServerTest, Login_RepliesTheUsersPolicyRecordAndApplicationList)
{
    const std::string reply = Exchange(LoginRecord("demo01", "demo-pass-01"));
    const std::string apps = "WINWORD.EXE|vlhook_word.dll|EXCEL.EXE|vlhook_excel.dll|"
                             "POWERPNT.EXE|vlhook_ppt.dll|NOTEPAD.EXE|vlhook_text.dll|";
    ASSERT_EQ(reply.size(), 5 + 304 + apps.size());
    const std::string info = reply.substr(5, 304);
    EXPECT_EQ(reply.substr(0, 5), "40000");
    EXPECT_EQ(info.substr(0, 11), "_%RES_LIN%_");
    EXPECT_EQ(info.substr(11, 4), std::string(4, '\0'));
    EXPECT_EQ(info.substr(15, 50), Field("DEMO-MANAGERS", 50));
    EXPECT_EQ(info.substr(65, 20), Field("P01", 20));
    EXPECT_EQ(info.substr(85, 20), Field("DEMOCO", 20));
    EXPECT_EQ(info.substr(105, 16), "DEMOSUPERKEY0001");
    EXPECT_EQ(info.substr(121, 9), std::string("\x01\x02\x03\x00\x00\x04\x00\x05\x06", 9));
    EXPECT_EQ(info.substr(130, 50), Field("dkms.demo.invalid:7001", 50));
    EXPECT_EQ(info.substr(180, 50), Field("dtss.demo.invalid:7002", 50));
    EXPECT_EQ(info.substr(230, 50), Field("dls.demo.invalid:7003", 50));
    EXPECT_EQ(info.substr(280, 10), "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a");
    EXPECT_EQ(info.substr(290, 14), Field(std::to_string(apps.size()), 14));
    EXPECT_EQ(reply.substr(5 + 304), apps);
}

TEST_P(PolicyServerTest, PingLevelsAndAcl_ReplyTheirExactBytes)
{
    EXPECT_EQ(Exchange("_%REQ_PNG%_"), "_%RES_PNG%_");

    std::string levels = "40000_%RES_LVL%_";
    levels += '\x04';
    for (const auto& [level, name] : {std::pair{1, "Public"}, {2, "Internal"}, {3, "Confidential"}, {4, "Secret"}})
        levels += Le32(level) + Field(name, 20);
    levels += std::string(6 * 24, '\0');
    EXPECT_EQ(Exchange("_%REQ_LVL%_"), levels);

    // Two users of one machine: both answered (the ACL request names its user).
    ASSERT_EQ(Login("demo01", "demo-pass-01"), "40000");
    ASSERT_EQ(Login("demo02", "demo-pass-02"), "40000");
    EXPECT_EQ(Exchange(AclRecord("demo01", 3)), "40000_%RES_ACL%_" + Field("demo01:3:RWP", 42));
    EXPECT_EQ(Exchange(AclRecord("demo02", 4)), "40000_%RES_ACL%_" + Field("demo02:4:-", 42));
    EXPECT_EQ(Exchange(AclRecord("demo02", 0)), "45005");
    EXPECT_EQ(Exchange(AclRecord("nobody", 1)), "41001");
}

TEST_P(PolicyServerTest, TakeOut_FromRequestThroughEveryDecision_SurvivesRestarts)
{
    ASSERT_EQ(Login("demo01", "demo-pass-01"), "40000");
    const std::string reply = Exchange(TakeOutRecord("_%REQ_OUT%_", "", "to the fair", "20270301", "20270310"));
    ASSERT_EQ(reply.size(), 5u + 85u);
    EXPECT_EQ(reply.substr(0, 16), "40000_%RES_OUT%_");
    const std::string key(reply.c_str() + 5 + 31);
    EXPECT_EQ(key.size(), 32u);
    EXPECT_EQ(key.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(reply.substr(5 + 81), Le32(0));
    EXPECT_EQ(Reference(key), "40000 0 2027030120270310");

    Restart();
    const std::vector<TakeOutRequest> list = m_store->ListTakeOuts();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].userID, "demo01"); // the client's last login owns the request
    EXPECT_EQ(list[0].reason, "to the fair");
    EXPECT_EQ(m_store->Approve(key, "20270302", "20270309", time(nullptr)), DecisionResult::Done);
    Restart();
    EXPECT_EQ(Reference(key), "40000 1 2027030220270309");

    // An edit makes the request pending again with the new dates.
    EXPECT_EQ(Exchange(TakeOutRecord("_%REQ_EDT%_", "demo01", "longer", "20270301", "20270320")).substr(0, 5), "40000");
    EXPECT_EQ(Reference(key), "40000 0 2027030120270320");
    EXPECT_EQ(m_store->Refuse(key, time(nullptr)), DecisionResult::Done);
    EXPECT_EQ(Reference(key), "40000 3 2027030120270320");
    EXPECT_EQ(m_store->Approve(key, "", "", time(nullptr)), DecisionResult::NotOpen);

    // A new request cancels the one in force.
    const std::string second = RequestTakeOut("demo01", "20270401", "20270402");
    const std::string third = RequestTakeOut("demo01", "20270501", "20270502");
    EXPECT_EQ(Reference(second), "40000 4 2027040120270402");
    EXPECT_EQ(m_store->Cancel(third, time(nullptr)), DecisionResult::Done);
    EXPECT_EQ(Reference(third), "40000 4 2027050120270502");
    EXPECT_EQ(Exchange(TakeOutRecord("_%REQ_EDT%_", "demo01", "", "20270501", "20270502")), "45005");

    // Deletion answers with the key and status 2; the key is unknown from then on.
    const std::string deleted = Exchange(KeyRecord("_%REQ_DEL%_", third));
    EXPECT_EQ(deleted, "40000_%RES_OUT%_" + std::string(20, '\0') + Field(third, 50) + Le32(2));
    Restart();
    EXPECT_EQ(Reference(third), "45005");
    EXPECT_EQ(Exchange(KeyRecord("_%REQ_DEL%_", third)), "45005");
    EXPECT_EQ(Reference("not-a-key"), "45005");
}

TEST_P(PolicyServerTest, StopRightAfterStart_EndsServe)
{
    // Stop may come before the serving thread has entered its accept loop; each round must end.
    // The HTTP server's own race: the engine plays no part, and fifty PostgreSQL connections
    // would only take time.
    if (GetParam() != Engine::Sqlite)
        GTEST_SKIP() << "engine-independent";
    for (int round = 0; round < 50; ++round)
        Restart();
    EXPECT_EQ(Exchange("_%REQ_PNG%_"), "_%RES_PNG%_");
}

TEST_P(PolicyServerTest, TakeOutOwner_IsTheNamedUserElseTheAddressesLastLogin)
{
    ASSERT_EQ(Login("demo02", "demo-pass-02", "127.0.0.2"), "40000");
    ASSERT_EQ(Login("demo01", "demo-pass-01", "127.0.0.3"), "40000");
    ASSERT_EQ(Login("demo02", "demo-pass-02", "127.0.0.3"), "40000");
    ASSERT_FALSE(RequestTakeOut("", "20270101", "20270102", "127.0.0.2").empty());
    ASSERT_FALSE(RequestTakeOut("demo02", "20270201", "20270202", "127.0.0.3").empty());
    ASSERT_FALSE(RequestTakeOut("demo01", "20270301", "20270302", "127.0.0.3").empty()); // not the last login
    const std::vector<TakeOutRequest> list = m_store->ListTakeOuts();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].userID, "demo02");
    EXPECT_EQ(list[0].state, TAKEOUT_CANCELLED); // demo02's second request replaced it
    EXPECT_EQ(list[1].userID, "demo02");
    EXPECT_EQ(list[2].userID, "demo01");

    EXPECT_EQ(Exchange(TakeOutRecord("_%REQ_OUT%_", "", "", "20270101", "20270102"), "127.0.0.9"), "42000");
    EXPECT_EQ(Exchange(TakeOutRecord("_%REQ_OUT%_", "ghost", "", "20270101", "20270102")), "41001");
}

// A record names its user; only an address that user logged in from (lately) is answered for
// them, and an unknown user is refused the same way as a known one.
TEST_P(PolicyServerTest, RecordsNamingAUser_AnsweredOnlyWhereThatUserLoggedIn)
{
    ASSERT_EQ(Login("demo01", "demo-pass-01", "127.0.0.3"), "40000");
    const std::string key = RequestTakeOut("demo01", "20270301", "20270305", "127.0.0.3");
    ASSERT_FALSE(key.empty());
    ASSERT_EQ(m_store->Approve(key, "", "", time(nullptr)), DecisionResult::Done);
    ASSERT_EQ(Login("demo02", "demo-pass-02", "127.0.0.2"), "40000");
    EXPECT_EQ(Login("demo01", "wrong-password", "127.0.0.4"), "41001"); // a failed login grants nothing

    for (const char* source : {"127.0.0.2", "127.0.0.4", "127.0.0.9"}) {
        for (const char* user : {"demo01", "ghost"}) {
            SCOPED_TRACE(std::string(source) + " " + user);
            EXPECT_EQ(Exchange(TakeOutRecord("_%REQ_OUT%_", user, "", "20270101", "20270102"), source), "41001");
            EXPECT_EQ(Exchange(TakeOutRecord("_%REQ_EDT%_", user, "", "20270101", "20270102"), source), "41001");
            EXPECT_EQ(Exchange(AclRecord(user, 3), source), "41001");
        }
    }
    EXPECT_EQ(Reference(key), "40000 1 2027030120270305"); // demo01's approved request is untouched
    EXPECT_EQ(Exchange(AclRecord("demo01", 3), "127.0.0.3").substr(0, 5), "40000");

    // The login answers for a bounded time; a new login renews it.
    m_nClockOffset = CAgentService::kDefaultLoginMemorySeconds + 60;
    EXPECT_EQ(Exchange(AclRecord("demo01", 3), "127.0.0.3"), "41001");
    EXPECT_EQ(Exchange(TakeOutRecord("_%REQ_OUT%_", "", "", "20270101", "20270102"), "127.0.0.2"), "42000");
    ASSERT_EQ(Login("demo01", "demo-pass-01", "127.0.0.3"), "40000");
    EXPECT_EQ(Exchange(AclRecord("demo01", 3), "127.0.0.3").substr(0, 5), "40000");

    // A removed user is forgotten with the account.
    ASSERT_TRUE(m_store->RemoveUser("demo01"));
    EXPECT_FALSE(m_store->LoggedInFrom("127.0.0.3", "demo01", 0));
}

// Behind a load balancer the client is the address it forwards, believed only from the balancer.
TEST_P(PolicyServerTest, ForwardedClient_TakenOnlyFromTrustedProxies)
{
    m_proxies = CTrustedProxies({"127.0.0.5", "127.0.1.0/24"});
    Restart();
    const std::string from = "X-Forwarded-For: 198.51.100.7\r\n";
    ASSERT_EQ(Exchange(LoginRecord("demo01", "demo-pass-01"), "127.0.0.5", "X-Forwarded-For: 203.0.113.9\r\n")
                  .substr(0, 5),
              "40000");
    EXPECT_TRUE(m_store->LoggedInFrom("203.0.113.9", "demo01", 0));
    // The same client through another balancer, and with a hop of the balancers' own on the way.
    EXPECT_EQ(Exchange(AclRecord("demo01", 3), "127.0.1.8", "X-Forwarded-For: 203.0.113.9, 127.0.0.5\r\n")
                  .substr(0, 5),
              "40000");
    EXPECT_EQ(Exchange(AclRecord("demo01", 3), "127.0.0.5", from), "41001"); // another client behind it
    // From any other peer the header is the client's own word: ignored.
    EXPECT_EQ(Exchange(AclRecord("demo01", 3), "127.0.0.6", "X-Forwarded-For: 203.0.113.9\r\n"), "41001");
    EXPECT_EQ(Exchange(AclRecord("demo01", 3), "127.0.0.5"), "41001"); // the balancer itself
}

TEST(TrustedProxiesTest, ClientOf_WalksTheForwardedChainFromTheRight)
{
    const CTrustedProxies proxies({"10.0.0.1", "10.1.0.0/16", "2001:db8::/32"});
    const struct
    {
        const char* peer;
        const char* forwardedFor;
        const char* client;
    } cases[] = {
        {"192.0.2.1", "203.0.113.9", "192.0.2.1"},          // not a proxy: its own address
        {"10.0.0.1", "", "10.0.0.1"},                       // a proxy without the header
        {"10.0.0.1", "203.0.113.9", "203.0.113.9"},
        {"10.1.2.3", "198.51.100.1, 203.0.113.9", "203.0.113.9"}, // the client's own entry is not believed
        {"10.0.0.1", "203.0.113.9,10.1.9.9", "203.0.113.9"},
        {"10.0.0.1", "10.1.0.1, 10.0.0.1", "10.1.0.1"},     // all proxies: the leftmost
        {"10.0.0.1", "not-an-address, 203.0.113.9", "203.0.113.9"},
        {"10.0.0.1", "203.0.113.9, junk", "10.0.0.1"},      // the last hop that can be vouched for
        {"10.0.0.1", "203.0.113.9:4711", "203.0.113.9"},
        {"10.0.0.1", "[2001:db9::1]:443", "2001:db9::1"},
        {"2001:db8:1::5", "::ffff:203.0.113.9", "203.0.113.9"},
        {"::ffff:10.0.0.1", "203.0.113.9", "203.0.113.9"},  // a mapped IPv4 peer
        {"10.2.0.1", "203.0.113.9", "10.2.0.1"},            // outside 10.1/16
    };
    for (const auto& c : cases)
        EXPECT_EQ(proxies.ClientOf(c.peer, c.forwardedFor), c.client) << c.peer << " / " << c.forwardedFor;
    for (const char* bad : {"", "10.0.0.1/33", "2001:db8::/129", "host.example", "10.0.0.1/", "[::1]"})
        EXPECT_THROW(CTrustedProxies({bad}), std::invalid_argument) << bad;
}

TEST_P(PolicyServerTest, FailedLogins_LockTheAccountUntilUnlocked)
{
    EXPECT_EQ(Login("nobody", "demo-pass-01"), "41001");
    for (int i = 0; i < CPolicyStore::kLockThreshold; ++i)
        EXPECT_EQ(Login("demo02", "wrong"), "41001") << "attempt " << i;
    EXPECT_EQ(Login("demo02", "demo-pass-02"), "41002");
    EXPECT_EQ(Login("demo01", "demo-pass-01"), "40000"); // others are not affected

    UserPolicy policy;
    const int64_t now = time(nullptr);
    EXPECT_EQ(m_store->Login("demo02", "demo-pass-02", now + CPolicyStore::kLockSeconds - 5, policy), 41002);
    EXPECT_EQ(m_store->Login("demo02", "demo-pass-02", now + CPolicyStore::kLockSeconds + 5, policy), 40000);

    // A success resets the count: four failures and a success do not lock.
    for (int i = 0; i < CPolicyStore::kLockThreshold - 1; ++i)
        EXPECT_EQ(Login("demo02", "wrong"), "41001");
    EXPECT_EQ(Login("demo02", "demo-pass-02"), "40000");
    EXPECT_EQ(Login("demo02", "wrong"), "41001");
    EXPECT_EQ(Login("demo02", "demo-pass-02"), "40000");

    for (int i = 0; i < CPolicyStore::kLockThreshold; ++i)
        Login("demo02", "wrong");
    EXPECT_EQ(Login("demo02", "demo-pass-02"), "41002");
    EXPECT_TRUE(m_store->UnlockUser("demo02"));
    EXPECT_EQ(Login("demo02", "demo-pass-02"), "40000");
}

TEST_P(PolicyServerTest, MalformedBodies_AreAnswered42000AndTheConnectionLives)
{
    // Bodies over 64 KiB and without a length are refused before routing (HttpLimitsTest).
    TestClient client(m_nPort);
    const struct
    {
        const char* name;
        std::string request;
    } cases[] = {
        {"empty", "POST /agent HTTP/1.1\r\nHost: h\r\nContent-Length: 0\r\n\r\n"},
        {"unknown tag", "POST /agent HTTP/1.1\r\nHost: h\r\nContent-Length: 11\r\n\r\n_%REQ_ZZZ%_"},
        {"wrong length", "POST /agent HTTP/1.1\r\nHost: h\r\nContent-Length: 12\r\n\r\n_%REQ_PNG%_!"},
        {"wrong site code",
         "POST /agent HTTP/1.1\r\nHost: h\r\nContent-Length: 61\r\n\r\n" + LoginRecord("demo01", "demo-pass-01", "kesmox")},
        {"multipart", "POST /agent HTTP/1.1\r\nHost: h\r\nContent-Type: multipart/form-data; boundary=b\r\n"
                      "Content-Length: 47\r\n\r\n--b\r\nContent-Disposition: form-data\r\n\r\nx\r\n--b--"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HttpReply reply = client.Send(c.request);
        EXPECT_EQ(reply.body, "42000");
    }
    EXPECT_EQ(client.Post(kPath, "_%REQ_PNG%_").body, "_%RES_PNG%_");
    EXPECT_EQ(client.Connections(), 1); // one keep-alive connection served every request
}

TEST_P(PolicyServerTest, WebLogin_AnswersTheTaggedPage)
{
    TestClient client(m_nPort);
    const std::string form = "Content-Type: application/x-www-form-urlencoded\r\n";
    const std::string page = client.Post(kPath, "USER_ID=demo02&USER_PWD=demo%2Dpass-02", form).body;
    for (const char* element :
         {"<Result>40000</Result>", "<OFFLINEPOLICY>1</OFFLINEPOLICY>", "<DOCEXCHANGEPOLICY>3</DOCEXCHANGEPOLICY>",
          "<COUNTCONTROL>4</COUNTCONTROL>", "<TIMESYNC>5</TIMESYNC>", "<ONLINECONTROL>2</ONLINECONTROL>",
          "<PROTECTREMOTETOOL>6</PROTECTREMOTETOOL>", "<COMPANY_SUPERKEY>DEMOSUPERKEY0001</COMPANY_SUPERKEY>",
          "<USER_POSCODE>P02</USER_POSCODE>", "<COMPANY_ID>DEMOCO</COMPANY_ID>", "<DKMS>dkms.demo.invalid:7001</DKMS>",
          "<DTSS>dtss.demo.invalid:7002</DTSS>", "<DLS>dls.demo.invalid:7003</DLS>", "<XLS>2</XLS>", "<DOC>1</DOC>",
          "<PPT>3</PPT>", "<HWP>4</HWP>", "<GUL>5</GUL>", "<TXT>6</TXT>", "<KODAK>9</KODAK>", "<DWG>8</DWG>",
          "<MSPAINT>10</MSPAINT>"}) {
        SCOPED_TRACE(element);
        EXPECT_NE(page.find(element), std::string::npos);
    }
    EXPECT_EQ(page.find("demo-pass"), std::string::npos);

    const std::string refused = client.Post(kPath, "USER_ID=demo02&USER_PWD=nope", form).body;
    EXPECT_NE(refused.find("<Result>41001</Result>"), std::string::npos);
    EXPECT_EQ(refused.find("<DKMS>"), std::string::npos);
    EXPECT_NE(client.Post(kPath, "USER_ID=demo02", form).body.find("<Result>42000</Result>"), std::string::npos);
    EXPECT_NE(client.Post(kPath, "USER_ID=%G0&USER_PWD=x", form).body.find("<Result>42000</Result>"),
              std::string::npos);
    // A signal record stays a signal record whatever its content type says.
    EXPECT_EQ(client.Post(kPath, "_%REQ_PNG%_", form).body, "_%RES_PNG%_");

    // Web logins count towards the same lock-out.
    for (int i = 0; i < CPolicyStore::kLockThreshold; ++i)
        client.Post(kPath, "USER_ID=demo02&USER_PWD=nope", form);
    EXPECT_EQ(Login("demo02", "demo-pass-02"), "41002");
}

TEST_P(PolicyServerTest, OtherRequests_GetTextOr404)
{
    TestClient client(m_nPort);
    const HttpReply about = client.Get(kPath);
    EXPECT_EQ(about.status, 200);
    EXPECT_NE(about.body.find("vlpolicyd"), std::string::npos);
    const HttpReply form = client.Get("/login");
    EXPECT_EQ(form.status, 200);
    EXPECT_NE(form.body.find("action=\"/agent\""), std::string::npos);
    EXPECT_NE(form.body.find("name=\"USER_PWD\""), std::string::npos);
    EXPECT_EQ(client.Post("/other", "_%REQ_PNG%_").status, 404);
    EXPECT_EQ(client.Get("/agent/x").status, 404);
    EXPECT_EQ(client.Send("PUT /agent HTTP/1.1\r\nHost: h\r\nContent-Length: 0\r\n\r\n").status, 404);
}

TEST_P(PolicyServerTest, Exchanges_AreLoggedWithoutPasswords)
{
    Login("demo01", "demo-pass-01");
    Login("demo01", "secret-typo");
    Exchange("junk");
    const std::vector<ExchangeEntry> log = m_store->LastExchanges(2);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].kind, "login");
    EXPECT_EQ(log[0].userID, "demo01");
    EXPECT_EQ(log[0].status, 41001);
    EXPECT_EQ(log[1].kind, "malformed");
    EXPECT_EQ(log[1].status, 42000);
    EXPECT_EQ(log[1].client, "127.0.0.1");
}

// A hash of the earlier scheme as it was stored: PBKDF2-HMAC-SHA256, 60 000 rounds.
std::string LegacyHash(const std::string& password)
{
    const unsigned char salt[4] = {0x5a, 0x17, 0x00, 0xc3};
    unsigned char hash[32];
    PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, sizeof(salt), 60000, EVP_sha256(),
                      sizeof(hash), hash);
    std::string text = "pbkdf2-sha256$60000$5a1700c3$";
    for (unsigned char byte : hash) {
        static const char kDigits[] = "0123456789abcdef";
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

TEST(PasswordHashTest, Argon2idForNewHashes_EarlierHashesStillVerify)
{
    const std::string fresh = HashPassword("s3cret");
    EXPECT_EQ(fresh.rfind("$argon2id$v=19$m=19456,t=2,p=1$", 0), 0u) << fresh;
    EXPECT_NE(HashPassword("s3cret"), fresh); // a salt of its own
    EXPECT_TRUE(VerifyPassword("s3cret", fresh));
    EXPECT_FALSE(VerifyPassword("s3cret!", fresh));
    EXPECT_FALSE(NeedsRehash(fresh));

    const std::string legacy = LegacyHash("s3cret");
    EXPECT_TRUE(VerifyPassword("s3cret", legacy));
    EXPECT_FALSE(VerifyPassword("s3crex", legacy));
    EXPECT_TRUE(NeedsRehash(legacy));

    // Malformed texts, and costs beyond any this server writes, never match (and are not computed).
    const std::string tail = fresh.substr(fresh.find("$", 30));
    for (const std::string& bad : {std::string("$argon2id$v=19$m=4194304,t=2,p=1") + tail,
                                   std::string("$argon2id$v=19$m=19456,t=999,p=1") + tail,
                                   std::string("$argon2i$v=19$m=19456,t=2,p=1") + tail, fresh.substr(0, 40),
                                   std::string("pbkdf2-sha256$99999999$00$00"), std::string(""), std::string("$")})
        EXPECT_FALSE(VerifyPassword("s3cret", bad)) << bad;
}

TEST_P(PolicyServerTest, EarlierHash_ReplacedAtTheNextSuccessfulLogin)
{
    auto storedHash = [this](const std::string& table, const std::string& column, const std::string& id) {
        const std::unique_ptr<CStoreConnection> db = m_location->Connect();
        const std::unique_ptr<CStoreStatement> row =
            db->Prepare(("SELECT password_hash FROM " + table + " WHERE " + column + " = ?1").c_str());
        row->BindText(1, id);
        return row->Step() ? row->Text(0) : std::string();
    };
    m_store->AddAdmin("root", "admin-password-1");
    {
        const std::unique_ptr<CStoreConnection> db = m_location->Connect();
        for (const auto& [sql, id, password] :
             {std::tuple<const char*, const char*, const char*>{"UPDATE users SET password_hash = ?1 WHERE user_id = ?2",
                                                                "demo01", "demo-pass-01"},
              {"UPDATE users SET password_hash = ?1 WHERE user_id = ?2", "demo02", "demo-pass-02"},
              {"UPDATE admins SET password_hash = ?1 WHERE name = ?2", "root", "admin-password-1"}}) {
            const std::unique_ptr<CStoreStatement> update = db->Prepare(sql);
            update->BindText(1, LegacyHash(password));
            update->BindText(2, id);
            update->Step();
            EXPECT_EQ(db->Changes(), 1) << id;
        }
    }
    const std::string legacy02 = storedHash("users", "user_id", "demo02");

    EXPECT_EQ(Login("demo02", "wrong-password"), "41001"); // a failure replaces nothing
    EXPECT_EQ(storedHash("users", "user_id", "demo02"), legacy02);
    EXPECT_EQ(Login("demo01", "demo-pass-01"), "40000");
    const std::string upgraded = storedHash("users", "user_id", "demo01");
    EXPECT_FALSE(NeedsRehash(upgraded)) << upgraded;
    EXPECT_TRUE(VerifyPassword("demo-pass-01", upgraded));
    EXPECT_EQ(Login("demo01", "demo-pass-01"), "40000");
    EXPECT_EQ(Login("demo01", "demo-pass-02"), "41001");
    EXPECT_EQ(m_store->AdminLogin("root", "admin-password-1", time(nullptr)), kStatusOk);
    EXPECT_FALSE(NeedsRehash(storedHash("admins", "name", "root")));
}

TEST_P(PolicyServerTest, AdminCommands_SucceedBesideSixteenClientsLoggingIn)
{
    // Open take-out requests for the decisions, one owner each (a new request cancels the owner's last).
    const int64_t now = time(nullptr);
    std::vector<std::string> keys;
    for (int i = 0; i < 15; ++i)
        keys.push_back(m_store->CreateTakeOut("owner" + std::to_string(i), "20270101", "20270102", "load", now));

    std::atomic<bool> done{false};
    std::atomic<int> logins{0}, refused{0};
    std::mutex refusalMutex;
    std::string firstRefusal;
    std::vector<std::thread> clients;
    for (int c = 0; c < 16; ++c)
        clients.emplace_back([&] {
            TestClient client(m_nPort);
            while (!done) {
                const std::string reply = client.Post(kPath, LoginRecord("demo01", "demo-pass-01")).body;
                if (reply.compare(0, 5, "40000") == 0) {
                    ++logins;
                    continue;
                }
                ++refused;
                std::lock_guard<std::mutex> lock(refusalMutex);
                if (firstRefusal.empty())
                    firstRefusal = "reply \"" + reply.substr(0, 5) + "\" (" + std::to_string(reply.size()) + " bytes)";
            }
        });
    for (int waited = 0; waited < 1000 && logins < 16; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    // Every user, takeout and log command, ten a round, five rounds.
    for (int round = 0; round < 5; ++round) {
        const std::string user = "admin" + std::to_string(round);
        const std::vector<std::string> commands[] = {
            {"user", "add", user},
            {"user", "list"},
            {"user", "unlock", user},
            {"user", "remove", user},
            {"takeout", "list"},
            {"takeout", "approve", keys[static_cast<size_t>(round * 3)]},
            {"takeout", "refuse", keys[static_cast<size_t>(round * 3 + 1)]},
            {"takeout", "cancel", keys[static_cast<size_t>(round * 3 + 2)]},
            {"log", "--last", "20"},
            {"user", "unlock", "demo02"},
        };
        for (const std::vector<std::string>& command : commands) {
            SCOPED_TRACE(command[0] + " " + command[1]);
            const CommandRun run = RunCommand(command, "pw-" + user + "\n");
            EXPECT_EQ(run.exitCode, 0) << run.output;
            EXPECT_LT(run.seconds, 2.0);
        }
    }
    done = true;
    for (std::thread& client : clients)
        client.join();
    EXPECT_GE(logins, 16);
    EXPECT_EQ(refused, 0) << "the first: " << firstRefusal;
    const int32_t decided[] = {TAKEOUT_APPROVED, TAKEOUT_REFUSED, TAKEOUT_CANCELLED};
    for (size_t i = 0; i < keys.size(); ++i) {
        const std::optional<TakeOutRequest> request = m_store->FindTakeOut(keys[i]);
        ASSERT_TRUE(request.has_value());
        EXPECT_EQ(request->state, decided[i % 3]);
    }
}

TEST_P(PolicyServerTest, FailuresAtTheSameTime_EachCountOnce)
{
    const struct
    {
        int failures;
        int answered41001;
        int failedLogins; // the count afterwards
        bool locked;
    } cases[] = {
        {CPolicyStore::kLockThreshold - 1, CPolicyStore::kLockThreshold - 1, CPolicyStore::kLockThreshold - 1, false},
        {16, CPolicyStore::kLockThreshold, 0, true}, // the logins that end after the lock-out are answered 41002
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failures);
        ASSERT_TRUE(m_store->UnlockUser("demo02"));
        const int64_t now = time(nullptr);
        std::atomic<int> ready{0}, badLogin{0}, locked{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < c.failures; ++i)
            threads.emplace_back([&] {
                ++ready;
                while (ready < c.failures)
                    std::this_thread::yield();
                UserPolicy policy;
                const int status = m_store->Login("demo02", "wrong", now, policy);
                ++(status == kStatusBadLogin ? badLogin : locked);
            });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(badLogin, c.answered41001);
        EXPECT_EQ(locked, c.failures - c.answered41001);
        for (const UserEntry& user : m_store->ListUsers())
            if (user.userID == "demo02") {
                EXPECT_EQ(user.failedLogins, c.failedLogins);
                EXPECT_EQ(user.lockedUntil > now, c.locked);
            }
        UserPolicy policy;
        EXPECT_EQ(m_store->Login("demo02", "demo-pass-02", now, policy), c.locked ? kStatusLocked : kStatusOk);
    }
}

TEST_P(PolicyServerTest, StoreInWalMode_IsOpenedAndReadWhileAWriteIsOpen)
{
    const std::unique_ptr<CStoreConnection> writer = m_location->Connect();
    writer->Begin();
    writer->Execute("UPDATE users SET position = 'P09' WHERE user_id = 'demo02'");
    // Another connection's write transaction is open. Opening takes no write lock and reads never
    // wait for it: either would fail after the 5 s busy timeout.
    const auto start = std::chrono::steady_clock::now();
    const CommandRun run = RunCommand({"user", "list"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("demo02\tDEMOCO\tDEMO-STAFF\tP02\t"), std::string::npos) << run.output;
    std::string data;
    EXPECT_EQ(m_store->Acl("demo02", 1, data), kStatusOk);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
    writer->Commit();
}

TEST_P(PolicyServerTest, HealthAndMetrics_CountWhatHappened_AndShowNothingSecret)
{
    const HttpReply health = TestClient(m_nPort).Get("/healthz");
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.body, "ok\n");

    ASSERT_EQ(Login("demo01", "demo-pass-01"), "40000");
    for (int i = 0; i < CPolicyStore::kLockThreshold; ++i)
        ASSERT_EQ(Login("demo02", "wrong-pass"), "41001");
    ASSERT_EQ(Login("demo02", "demo-pass-02"), "41002");
    ASSERT_EQ(Exchange("_%REQ_PNG%_"), "_%RES_PNG%_");
    const HttpReply metrics = TestClient(m_nPort).Get("/metrics");
    EXPECT_EQ(metrics.status, 200);
    for (const char* line : {
             "vlpolicyd_exchanges_total{kind=\"login\",outcome=\"40000\"} 1\n",
             "vlpolicyd_exchanges_total{kind=\"login\",outcome=\"41001\"} 5\n",
             "vlpolicyd_exchanges_total{kind=\"login\",outcome=\"41002\"} 1\n",
             "vlpolicyd_exchanges_total{kind=\"ping\",outcome=\"40000\"} 1\n",
             "vlpolicyd_login_seconds_bucket{le=\"+Inf\"} 7\n",
             "vlpolicyd_login_seconds_count 7\n",
             "vlpolicyd_password_checks_total 7\n",
             "vlpolicyd_lockouts_total{account=\"user\"} 1\n",
             "vlpolicyd_lockouts_total{account=\"admin\"} 0\n",
             "vlpolicyd_store_errors_total 0\n",
             "vlpolicyd_store_up 1\n",
         })
        EXPECT_NE(metrics.body.find(line), std::string::npos) << line << metrics.body;
    for (const char* secret : {"demo01", "demo02", "demo-pass", "wrong-pass", "DEMOSUPERKEY0001", "DEMOCO"})
        EXPECT_EQ(metrics.body.find(secret), std::string::npos) << secret;
}

} // namespace
} // namespace vlpolicy::test
