// Runs only inside the network namespace that proxy-test.sh sets up (tinyproxy on a non-loopback
// address, the policy server beside it); skipped anywhere else.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <string>

#include "DbwinListener.h"
#include "DispatcherTestUtil.h"
#include "HelperProcess.h"
#include "RegistrySandbox.h"
#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"

using namespace vlagt::test;

namespace {

std::string Env(const char* name)
{
    const char* value = getenv(name);
    return value != nullptr ? value : "";
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++count;
    return count;
}

// The proxy's log once it holds `want` lines with `what`, or after 10 s as it then is: Wine's WinINet
// may end its part of a tunnel before tinyproxy, slow on a loaded machine, has logged the CONNECT.
std::string ProxyLogWith(const std::string& what, size_t want)
{
    std::string log = ReadAll(Env("VLAGT_PROXY_LOG"));
    for (DWORD start = GetTickCount(); Count(log, what) < want && GetTickCount() - start < 10000;) {
        Sleep(100);
        log = ReadAll(Env("VLAGT_PROXY_LOG"));
    }
    return log;
}

std::string LoginReply()
{
    LOGIN_INFO info;
    memset(&info, 0, sizeof(info));
    PutText(info.szSignal, "_%RES_LIN%_");
    PutText(info.szAppInfoLen, "0");
    return "40000" + BytesOf(info);
}

class ProxyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (Env("VLAGT_PROXY").empty())
            GTEST_SKIP() << "needs the network namespace of proxy-test.sh";
    }
};

} // namespace

// WinINet follows the Internet settings: with the proxy switched on, the login reaches the server
// through tinyproxy (which logs the request and adds its Via header) and the module's load line says
// so; switched off, it goes direct.
TEST_F(ProxyTest, LoginFollowsTheInternetSettingsProxy)
{
    struct Case
    {
        DWORD proxyEnable;
        bool throughProxy;
    };
    const Case cases[] = {{1, true}, {0, false}, {1, true}};

    RegistrySandbox settings(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");
    ScriptedHttpServer server(Env("VLAGT_NETNS_ADDRESS"));
    const std::string url = server.Url("/vl/agent");
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);

    for (const Case& c : cases) {
        SCOPED_TRACE("ProxyEnable " + std::to_string(c.proxyEnable));
        settings.SetDword("ProxyEnable", c.proxyEnable);
        settings.SetString("ProxyServer", Env("VLAGT_PROXY"));
        server.Enqueue(ScriptedReply::WithBody(LoginReply()));
        const size_t requestsBefore = server.RequestCount();
        const size_t proxiedBefore = Count(ReadAll(Env("VLAGT_PROXY_LOG")), "POST " + url);

        const std::string result = std::string(folder) + UniqueName("proxy") + ".txt";
        DbwinListener debug;
        HelperProcess caller("\"" + result + "\" url:" + url + " login:proxy01:secret", "vlapicaller.exe");
        ASSERT_TRUE(caller.Started());
        EXPECT_EQ(caller.Wait(30000), 0);
        EXPECT_EQ(ReadAll(result).substr(0, 11), "login 40000");
        DeleteFileA(result.c_str());

        ASSERT_EQ(server.RequestCount(), requestsBefore + 1);
        const RecordedRequest request = server.Requests().back();
        EXPECT_EQ(request.body.substr(0, 11), "_%REQ_LIN%_");
        EXPECT_EQ(request.Header("Via").find("tinyproxy") != std::string::npos, c.throughProxy)
            << "Via: " << request.Header("Via");
        EXPECT_EQ(Count(ReadAll(Env("VLAGT_PROXY_LOG")), "POST " + url), proxiedBefore + (c.throughProxy ? 1 : 0));
        const auto lines = debug.LinesOf(caller.ProcessId());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], c.throughProxy ? "CheckUseProxy TRUE. \n" : "CheckUseProxy FALSE. \n");
    }
}

// Over https WinINet asks the proxy for a CONNECT tunnel and speaks TLS inside it: the web login
// (one send, headers and form together) goes through, tinyproxy logs the tunnel and never a
// request of its own. The binary login (headers, then the record) meets a fault of Wine's WinINet:
// through a proxy it ends the send after the proxy's CONNECT answer without starting TLS, so the
// record would cross the tunnel in clear. The module sees that the request is not on a TLS
// connection and refuses before the record goes out: the server sees no exchange of it.
TEST_F(ProxyTest, HttpsGoesThroughAConnectTunnelOrNotAtAll)
{
    const std::string url = Env("VLAGT_TLS_URL");
    if (url.empty())
        GTEST_SKIP() << "needs vlpolicyd (VLAGT_VLPOLICYD) to serve HTTPS in the namespace";
    RegistrySandbox settings(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");
    settings.SetDword("ProxyEnable", 1);
    settings.SetString("ProxyServer", Env("VLAGT_PROXY"));
    const std::string hostPort = url.substr(8, url.find('/', 8) - 8);

    for (const char* kind : {"web", "login"}) {
        SCOPED_TRACE(kind);
        const bool web = strcmp(kind, "web") == 0;
        const size_t tunnelsBefore = Count(ReadAll(Env("VLAGT_PROXY_LOG")), "CONNECT " + hostPort);
        DbwinListener debug;
        HelperProcess probe("exchange " + url + " demo01 demo-pass-01 " + kind, "vlserverprobe.exe");
        ASSERT_TRUE(probe.Started());
        EXPECT_EQ(probe.Wait(90000), 0);
        std::string shown;
        for (const std::string& line : debug.LinesOf(probe.ProcessId()))
            shown += line + "\n";
        const std::string log = ProxyLogWith("CONNECT " + hostPort, tunnelsBefore + 1);
        EXPECT_EQ(Count(log, "CONNECT " + hostPort), tunnelsBefore + 1) << log;
        EXPECT_EQ(Count(log, "POST " + url), 0u);
        EXPECT_EQ(log.find("demo-pass-01"), std::string::npos);
        const std::string served = ReadAll(Env("VLAGT_TLS_SERVER_LOG"));
        if (web) {
            EXPECT_NE(shown.find("g_retVal [40000]"), std::string::npos) << shown;
            EXPECT_NE(served.find(" web-login demo01 40000"), std::string::npos) << served;
        } else {
            EXPECT_NE(shown.find("[TLS] exchange refused: the request is not on a TLS connection"), std::string::npos)
                << shown;
            EXPECT_EQ(served.find(" login demo01"), std::string::npos) << served;
        }
    }
}

// The web login is one send (headers and form together): under Wine it goes out only once TLS runs
// inside the CONNECT tunnel, also in a process whose binary exchanges were just refused on the same
// server (their connection reached the proxy and never started TLS, and must not be reused). The
// listener speaks only TLS, so every web login it records came inside TLS; one sent in clear would
// fail the handshake and show as a failed login.
TEST_F(ProxyTest, WebLoginGoesOutOnlyInsideTls)
{
    const std::string url = Env("VLAGT_TLS_URL");
    if (url.empty())
        GTEST_SKIP() << "needs vlpolicyd (VLAGT_VLPOLICYD) to serve HTTPS in the namespace";
    RegistrySandbox settings(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings");
    settings.SetDword("ProxyEnable", 1);
    settings.SetString("ProxyServer", Env("VLAGT_PROXY"));

    for (const char* kinds : {"login,web", "ping,web,login,web"}) {
        SCOPED_TRACE(kinds);
        const size_t webs = Count(kinds, "web");
        const size_t servedBefore = Count(ReadAll(Env("VLAGT_TLS_SERVER_LOG")), " web-login demo01 40000");
        DbwinListener debug;
        HelperProcess probe(std::string("exchange ") + url + " demo01 demo-pass-01 " + kinds, "vlserverprobe.exe");
        ASSERT_TRUE(probe.Started());
        EXPECT_EQ(probe.Wait(120000), 0);
        std::string shown;
        for (const std::string& line : debug.LinesOf(probe.ProcessId()))
            shown += line + "\n";
        EXPECT_EQ(Count(shown, "g_retVal [40000]"), webs) << shown;
        // The first exchange of the process finds no TLS and is refused. A binary exchange after a web
        // login may be refused too, or (64-bit Wine) go out on the web login's tunnel, inside TLS:
        // either way nothing of it reaches the proxy in clear (the proxy log below).
        const size_t refused = Count(shown, "[TLS] exchange refused: the request is not on a TLS connection");
        EXPECT_GE(refused, 1u) << shown;
        EXPECT_LE(refused, Count(kinds, ",") + 1 - webs) << shown;
        EXPECT_EQ(Count(shown, "[TLS] exchange refused: the form"), 0u) << shown;
        const std::string log = ReadAll(Env("VLAGT_PROXY_LOG"));
        EXPECT_EQ(Count(log, "POST " + url), 0u);
        EXPECT_EQ(log.find("demo-pass-01"), std::string::npos);
        std::string served = ReadAll(Env("VLAGT_TLS_SERVER_LOG"));
        for (DWORD start = GetTickCount(); Count(served, " web-login demo01 40000") < servedBefore + webs &&
                                           GetTickCount() - start < 10000;) {
            Sleep(100);
            served = ReadAll(Env("VLAGT_TLS_SERVER_LOG"));
        }
        EXPECT_EQ(Count(served, " web-login demo01 40000"), servedBefore + webs) << served;
    }
}
