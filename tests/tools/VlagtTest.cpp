// vlagt.exe run as a separate program, the way an operator runs it: usage errors and exit codes, the
// password kept out of every output and debug line, --json parsed back, and the live monitor.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "CcfSandbox.h"
#include "DbwinListener.h"
#include "DispatcherTestUtil.h"
#include "HelperProcess.h"
#include "RegistrySandbox.h"
#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"

#include <wincrypt.h>

using namespace vlagt::test;
using json = nlohmann::json;

namespace {

constexpr char kSecret[] = "S3cr3t-pw";

struct ToolRun
{
    int exit = -1;
    std::string out;
    std::string err;
    DWORD processId = 0;
    std::string all() const { return out + err; }
};

std::string TempPath(const std::string& stem)
{
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + UniqueName(stem);
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string bytes = text.str();
    std::string lines;
    for (char c : bytes)
        if (c != '\r')
            lines.push_back(c);
    return lines;
}

// vlagt.exe with standard output and error in files, and standard input from a file.
class Tool
{
public:
    Tool(const std::string& arguments, const std::string& input = std::string())
        : m_out(TempPath("vlagt-out")), m_err(TempPath("vlagt-err")), m_in(TempPath("vlagt-in"))
    {
        std::ofstream(m_in, std::ios::binary) << input;
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        auto open = [&](const std::string& path, DWORD access, DWORD disposition) {
            return vlagt::UniqueFileHandle(CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                       &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
        };
        vlagt::UniqueFileHandle in = open(m_in, GENERIC_READ, OPEN_EXISTING);
        vlagt::UniqueFileHandle out = open(m_out, GENERIC_WRITE, CREATE_ALWAYS);
        vlagt::UniqueFileHandle err = open(m_err, GENERIC_WRITE, CREATE_ALWAYS);
        const std::string exe = ProgramFolder() + "vlagt.exe";
        std::string commandLine = "\"" + exe + "\" " + arguments;
        std::vector<char> buffer(commandLine.begin(), commandLine.end());
        buffer.push_back('\0');
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in.Get();
        startup.hStdOutput = out.Get();
        startup.hStdError = err.Get();
        PROCESS_INFORMATION info = {};
        if (CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                           &info)) {
            CloseHandle(info.hThread);
            m_process.Reset(info.hProcess);
            m_run.processId = info.dwProcessId;
        }
    }
    ~Tool()
    {
        if (m_process && WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT)
            TerminateProcess(m_process.Get(), 99);
        DeleteFileA(m_out.c_str());
        DeleteFileA(m_err.c_str());
        DeleteFileA(m_in.c_str());
    }

    DWORD ProcessId() const { return m_run.processId; }
    HANDLE Process() const { return m_process.Get(); }

    const ToolRun& Wait(DWORD timeoutMs = 30000)
    {
        DWORD code = static_cast<DWORD>(-1);
        if (m_process && WaitForSingleObject(m_process.Get(), timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(m_process.Get(), &code);
        m_run.exit = static_cast<int>(code);
        m_run.out = ReadAll(m_out);
        m_run.err = ReadAll(m_err);
        return m_run;
    }

private:
    std::string m_out;
    std::string m_err;
    std::string m_in;
    vlagt::UniqueKernelHandle m_process;
    ToolRun m_run;
};

ToolRun RunTool(const std::string& arguments, const std::string& input = std::string())
{
    Tool tool(arguments, input);
    return tool.Wait();
}

std::string LoginReply()
{
    LOGIN_INFO info;
    memset(&info, 0, sizeof(info));
    PutText(info.szSignal, "_%RES_LIN%_");
    PutText(info.szCompanyID, "COMP7");
    PutText(info.szGroupID, "GROUP7");
    info.nOfflinePolicy = 4;
    info.abAppFlags[APP_FLAG_PDF] = 1;
    const std::string apps = "app.exe|app.dll|";
    PutText(info.szAppInfoLen, std::to_string(apps.size()));
    return BytesOf(info) + apps;
}

class VlagtTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        // A successful login leaves a holder process behind; emptying the record ends it.
        CDRMLogin session;
        if (session.CreateSharedMemForLoginInfo() == 1)
            session.DeleteSharedMemForLoginInfo();
    }

    std::string Url() const { return " --url " + m_server.Url("/agent"); }

    RegistrySandbox m_registry;
    CcfSandbox m_ccf;
    ScriptedHttpServer m_server;
};

TEST_F(VlagtTest, UsageErrors_PrintOneLineAndTheUsage_Exit2)
{
    const struct
    {
        const char* arguments;
        const char* line; // the start of the first line on stderr
        const char* usage;
    } cases[] = {
        {"", "vlagt: a command is required", "Usage: vlagt [OPTIONS] COMMAND"},
        {"frob", "vlagt: unknown command: frob", "Usage: vlagt [OPTIONS] COMMAND"},
        {"login", "vlagt: USER is required", "Usage: vlagt login [OPTIONS] USER [PASSWORD]"},
        {"login u p extra", "vlagt: The following argument was not expected: extra", "Usage: vlagt login"},
        {"takeout", "vlagt: A subcommand is required", "Usage: vlagt takeout"},
        {"takeout request --end 20261201 --reason x", "vlagt: --start is required", "Usage: vlagt takeout request"},
        {"takeout request --start 2026-12-01 --end 20261201 --reason x", "vlagt: --start: a date YYYYMMDD",
         "Usage: vlagt takeout request"},
        {"takeout edit --start 20260230 --end 20261201 --reason x", "vlagt: --start: a date YYYYMMDD",
         "Usage: vlagt takeout edit"},
        {"takeout request --start 20261202 --end 20261201 --reason x", "vlagt: the take-out ends before it starts",
         ""},
        {"acl demo01", "vlagt: LEVEL is required", "Usage: vlagt acl"},
        {"server ftp://host/agent", "vlagt: URL: the server URL must begin with http://", "Usage: vlagt server"},
        {"ping --url host:80", "vlagt: --url: the server URL must begin with http://", "Usage: vlagt ping"},
        {"monitor --count 0", "vlagt: --count", "Usage: vlagt monitor"},
        {"whoami extra", "vlagt: The following argument was not expected: extra", "Usage: vlagt whoami"},
    };
    // The take-out order check needs a logged-in user before it is reached.
    CDRMLogin holder;
    ASSERT_EQ(holder.CreateSharedMemForLoginInfo(), 1);
    PutText(holder.m_pSharedInfo->szUserID, "u1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        // --url only where the command takes it.
        const std::string arguments(c.arguments);
        const bool talks = arguments.rfind("login", 0) == 0 || arguments.rfind("takeout ", 0) == 0;
        const ToolRun run = RunTool(arguments + (talks ? Url() : std::string()));
        EXPECT_EQ(run.exit, 2);
        EXPECT_EQ(run.err.rfind(c.line, 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.usage), std::string::npos) << run.err;
        EXPECT_EQ(m_server.RequestCount(), 0u);
    }
}

TEST_F(VlagtTest, Help_ListsEveryCommand_AndEachCommandHasIts)
{
    const ToolRun top = RunTool("--help");
    EXPECT_EQ(top.exit, 0);
    for (const char* command : {"server", "login", "web-login", "logout", "whoami", "takeout", "ccf", "acl", "ping",
                                "online", "check-user", "register", "unregister", "monitor", "trust", "untrust"}) {
        SCOPED_TRACE(command);
        EXPECT_NE(top.out.find("\n  " + std::string(command) + " "), std::string::npos);
        const ToolRun help = RunTool(std::string(command) + " --help");
        EXPECT_EQ(help.exit, 0);
        EXPECT_NE(help.out.find("Usage: vlagt " + std::string(command)), std::string::npos) << help.out;
    }
    EXPECT_EQ(top.out.find("session-holder"), std::string::npos);
    const ToolRun status = RunTool("takeout status --help");
    EXPECT_NE(status.out.find("Usage: vlagt takeout status [OPTIONS] [KEY]"), std::string::npos) << status.out;
}

// Refused, accepted from argv, accepted from standard input, and a usage error with the password in
// argv: the password reaches the server in the login record and nowhere else.
TEST_F(VlagtTest, Password_NeverInOutputOrDebugLines)
{
    DbwinListener listener;
    ASSERT_TRUE(listener.IsListening());
    m_server.Enqueue(BinaryReply("41001"));
    m_server.Enqueue(BinaryReply("40000", LoginReply()));
    const struct
    {
        std::string arguments;
        std::string input;
        int exit;
        const char* expected;
        bool sent;
    } cases[] = {
        {"login user01 " + std::string(kSecret) + Url(), "", 1, "unknown user or wrong password", true},
        {"login user01 --json" + Url(), std::string(kSecret) + "\r\nnext line\n", 0, "\"user\":\"user01\"", true},
        {"login user01 " + std::string(kSecret) + " extra" + Url(), "", 2, "not expected: extra", false},
        {"login user02 " + std::string(kSecret) + " --json" + Url(), "", 1, "is logged in already", false},
    };
    size_t requests = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        Tool tool(c.arguments, c.input);
        const ToolRun& run = tool.Wait();
        EXPECT_EQ(run.exit, c.exit);
        EXPECT_NE(run.all().find(c.expected), std::string::npos) << run.all();
        EXPECT_EQ(run.all().find(kSecret, 0), std::string::npos) << run.all();
        if (c.sent) {
            ASSERT_TRUE(m_server.WaitForRequests(++requests, 5000));
            EXPECT_EQ(m_server.Requests().back().body.substr(31, 20), Field(kSecret, 20));
        }
        if (c.exit != 2) {
            EXPECT_TRUE(listener.WaitForLine(run.processId, "Shared  Info = 28 Bytes", 2000));
        }
        for (const std::string& line : listener.LinesOf(run.processId))
            EXPECT_EQ(line.find(kSecret), std::string::npos) << line;
    }
    EXPECT_EQ(m_server.RequestCount(), 2u);
}

TEST_F(VlagtTest, Json_ParsesBack_AcrossLoginTakeOutAndCcf)
{
    TAKEOUT_MSG reply;
    memset(&reply, 0, sizeof(reply));
    PutText(reply.szTakeOutKey, "KEY-42");
    TAKEOUT_INFO approved;
    memset(&approved, 0, sizeof(approved));
    memcpy(approved.szStartDate, "20261210", 8);
    memcpy(approved.szEndDate, "20261220", 8);
    approved.nStatus = STATUS_TAKEOUT_APPROVAL;
    m_server.Enqueue(BinaryReply("40000", LoginReply()));
    m_server.Enqueue(BinaryReply("40000", BytesOf(reply)));
    m_server.Enqueue(BinaryReply("40000", BytesOf(approved)));
    m_server.Enqueue(BinaryReply("45005"));
    DOC_LEVEL_REPLY levels;
    memset(&levels, 0, sizeof(levels));
    levels.LevelList.nCount = 1;
    levels.LevelList.aLevels[0].nLevel = 4;
    PutText(levels.LevelList.aLevels[0].szName, "Secret");
    ACL_REPLY acl;
    memset(&acl, 0, sizeof(acl));
    memcpy(acl.AclInfo.abData, "u:4:R\x01", 6);
    m_server.Enqueue(BinaryReply("40000", BytesOf(levels)));
    m_server.Enqueue(BinaryReply("40000", BytesOf(acl)));

    const struct
    {
        std::string arguments;
        int exit;
        std::vector<std::pair<const char*, json>> fields;
    } cases[] = {
        {"server --json " + m_server.Url("/agent"), 0, {{"url", m_server.Url("/agent")}}},
        {"login user01 pw --json", 0, {{"status", 40000}, {"company", "COMP7"}, {"group", "GROUP7"}}},
        {"whoami --json", 0, {{"user", "user01"}, {"logged_in", true}}},
        {"takeout request --start 20261210 --end 20261220 --reason trip --json", 0, {{"key", "KEY-42"}}},
        {"takeout status --json", 0, {{"key", "KEY-42"}, {"state_code", 1}, {"start", "20261210"}, {"ccf_takeout_code", 1}}},
        {"takeout status OTHER --json", 1, {{"status", 45005}, {"status_text", "no take-out for this key"}}},
        {"ccf --json", 0, {{"user", "user01"}, {"company", "COMP7"}, {"offline_policy", 4}, {"takeout_code", 1}}},
        {"check-user user01 --json", 0, {{"result", 1}, {"logged_in", "user01"}}},
        {"logout --json", 0, {{"previous_user", "user01"}}},
        {"whoami --json", 1, {{"user", ""}, {"logged_in", false}}},
        {"acl user01 SECRET --json", 0, {{"result", 1}, {"acl_text", "u:4:R."}, {"acl_hex", "753a343a5201" + std::string(72, '0')}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const ToolRun run = RunTool(c.arguments);
        json object;
        ASSERT_NO_THROW(object = json::parse(run.out)) << run.out;
        EXPECT_EQ(object.value("exit", -1), c.exit);
        EXPECT_EQ(run.exit, c.exit);
        for (const auto& field : c.fields)
            EXPECT_EQ(object[field.first], field.second) << field.first << " in " << run.out;
    }
    // The take-out request named its user in the reserved bytes after the tag.
    ASSERT_EQ(m_server.RequestCount(), 6u);
    EXPECT_EQ(m_server.Requests()[1].body.substr(11, 20), Field("user01", 20));
    // The ACL request carries the level found by name, without regard to case.
    EXPECT_EQ(m_server.Requests()[5].body.substr(31, 4), std::string("\x04\0\0\0", 4));
}

TEST_F(VlagtTest, Monitor_ShowsOtherProcessesLines_AndRefusesASecondMonitor)
{
    {
        Tool monitor("monitor --json --count 1 --filter MARKER");
        bool ready = false;
        for (int i = 0; i < 200 && !ready; ++i) {
            vlagt::UniqueKernelHandle event(OpenEventA(SYNCHRONIZE, FALSE, "DBWIN_BUFFER_READY"));
            ready = event.IsValid();
            if (!ready)
                Sleep(50);
        }
        ASSERT_TRUE(ready);
        OutputDebugStringA("not this line");
        OutputDebugStringA("the MARKER line\n");
        const ToolRun& run = monitor.Wait(10000);
        EXPECT_EQ(run.exit, 0);
        json line;
        ASSERT_NO_THROW(line = json::parse(run.out)) << run.out;
        EXPECT_EQ(line["pid"], GetCurrentProcessId());
        EXPECT_EQ(line["text"], "the MARKER line");
    }
    DbwinListener other;
    ASSERT_TRUE(other.IsListening());
    const ToolRun refused = RunTool("monitor --for 1");
    EXPECT_EQ(refused.exit, 1);
    EXPECT_NE(refused.err.find("another debug monitor is running"), std::string::npos) << refused.err;
}

// An exception nobody handles, in any thread of vlagt while a command runs (here a thread started in
// it from outside, faulting at once), ends the process with the exception's code and a line that says
// so: never with nothing printed. With --json the reason also comes as one object on standard output.
TEST_F(VlagtTest, UnhandledException_InAnyThread_EndsWithItsReason)
{
    for (bool asJson : {false, true}) {
        SCOPED_TRACE(asJson ? "--json" : "text");
        Tool monitor(asJson ? "monitor --json --for 60" : "monitor --for 60");
        bool running = false;
        for (int i = 0; i < 200 && !running; ++i) {
            vlagt::UniqueKernelHandle event(OpenEventA(SYNCHRONIZE, FALSE, "DBWIN_BUFFER_READY"));
            running = event.IsValid();
            if (!running)
                Sleep(50);
        }
        ASSERT_TRUE(running);
        const auto nowhere = reinterpret_cast<LPTHREAD_START_ROUTINE>(static_cast<uintptr_t>(0x10));
        vlagt::UniqueKernelHandle thread(CreateRemoteThread(monitor.Process(), nullptr, 0, nowhere, nullptr, 0, nullptr));
        ASSERT_TRUE(thread.IsValid()) << GetLastError();
        const ToolRun& run = monitor.Wait(20000);
        // Executing at 0x10 is an access violation natively, an illegal instruction under emulation:
        // the line names the code the process ends with.
        const DWORD code = static_cast<DWORD>(run.exit);
        EXPECT_TRUE(code == 0xC0000005UL || code == 0xC000001DUL) << std::hex << code;
        char expected[64] = {};
        snprintf(expected, sizeof(expected), "vlagt: ended by an unhandled exception 0x%08lX (",
                 static_cast<unsigned long>(code));
        EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("; the command did not finish\n"), std::string::npos) << run.err;
        if (asJson) {
            // Its own line; Wine's crash report may follow it.
            const size_t start = run.out.find("{\"exit\":");
            ASSERT_NE(start, std::string::npos) << run.out;
            json object;
            ASSERT_NO_THROW(object = json::parse(run.out.substr(start, run.out.find('\n', start) - start))) << run.out;
            EXPECT_EQ(object["exit"], code);
            EXPECT_NE(object["error"].get<std::string>().find(expected + 7), std::string::npos) << run.out;
        }
    }
}

// ---- trust, untrust -----------------------------------------------------------------------------

// A test CA certificate (public part only), made by `vlpolicyd tls init`.
constexpr char kTestCaPem[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIDBDCCAeygAwIBAgIQAYaYvZJJlhUKoWVw7GELpzANBgkqhkiG9w0BAQsFADAc\n"
    "MRowGAYDVQQDDBF2bHBvbGljeWQgdGVzdCBDQTAeFw0yNjEyMDgwMzM1NTJaFw0z\n"
    "NjEyMDYwMzM1NTJaMBwxGjAYBgNVBAMMEXZscG9saWN5ZCB0ZXN0IENBMIIBIjAN\n"
    "BgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEAzs8WHcpxODFJ+JOkUMnT0nOwyVdx\n"
    "ieNHiCk0+/m2eSICKbbadwZc5NAtLOOLpJGQof0Nd7HMyTZej4cEgmuOiI+uYlEG\n"
    "0+USPlQxpkXD+tjgyeoF8qvuts3pxC2NygfVPLkzbJx1jRY1Pu7yFgBiwSXYrD5V\n"
    "sVlACFw3yDNT7S0dbdP4dMFTeU8f7UQwEi1c9uPAzLBMjb2V4rYaiGLb42EVCRqw\n"
    "PmCyuJ/lRmPQBPjnJ2tQJtjT8RyOhiKbwnGD1SNaxOddombbCiMmcwxNicsNkKmi\n"
    "vCkPUiZo9huswoEn1UgWnFtpzn2d5tVmUyCIpsgI/8SK7s8nZl04551KnQIDAQAB\n"
    "o0IwQDAPBgNVHRMBAf8EBTADAQH/MA4GA1UdDwEB/wQEAwIBpjAdBgNVHQ4EFgQU\n"
    "oaAma0pbf4zOM0vTk0ucwOapE/MwDQYJKoZIhvcNAQELBQADggEBAEKiCrM4HtBG\n"
    "GYBHT1pWHG86OHpWV4hscDao7SOY+Hnp0sYef0lB7y75HHKj56IFrfPFKlt2H/fV\n"
    "6ZxL5vOho/F7lZ5KFK/khmq+ZT76fXo3w81hYCPtaYCNr4snFuJka+0IGMdkqQac\n"
    "YcpuoZtzqFp6jdSXy2lc+/Mdp7wJxgg+uzAYDjur6lrzAkX3MkFSlCxm2iyY+kDm\n"
    "ykklji41iFgH2agg9aEfh9LaZF4LntVS5talHz63WI3QNJn7Wh5m60ltjKEBNStC\n"
    "ACLuP8Pv9c8VE43W0W/ayYBbmJ/u7GXhVZ7W4k3PynU5MrjGksFZJGexasnejOZS\n"
    "iYBJ4QKvreg=\n"
    "-----END CERTIFICATE-----\n";
constexpr char kTestCaThumbprint[] = "c5a2a1a88e0f03d872059f7f8d911e1a086a050d";

// Whether the machine's trusted root store holds the test CA.
bool RootStoreHoldsTestCa()
{
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (store == nullptr)
        return false;
    BYTE hash[20];
    for (size_t i = 0; i < sizeof(hash); ++i)
        hash[i] = static_cast<BYTE>(std::stoul(std::string(kTestCaThumbprint + 2 * i, 2), nullptr, 16));
    CRYPT_HASH_BLOB blob{sizeof(hash), hash};
    PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    if (found != nullptr)
        CertFreeCertificateContext(found);
    CertCloseStore(store, 0);
    return found != nullptr;
}

// PEM and DER files of one CA: trusted (twice: the same root, replaced), listed, removed; a removed
// or never-added root and a file that is no certificate are refused with the reason; the usage
// needs CAFILE or --list.
TEST_F(VlagtTest, Trust_AddsListsAndRemovesOnlyItsOwnRoots)
{
    RegistrySandbox roots(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Tessaline\\TrustedRoots");
    const std::string pem = TempPath("ca") + ".pem";
    const std::string der = TempPath("ca") + ".der";
    const std::string junk = TempPath("junk") + ".pem";
    std::ofstream(pem, std::ios::binary) << kTestCaPem;
    std::vector<BYTE> bytes(4096);
    DWORD length = static_cast<DWORD>(bytes.size());
    ASSERT_TRUE(CryptStringToBinaryA(kTestCaPem, 0, CRYPT_STRING_BASE64HEADER, bytes.data(), &length, nullptr, nullptr));
    std::ofstream(der, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), length);
    std::ofstream(junk, std::ios::binary) << "-----BEGIN CERTIFICATE-----\nnot base64 at all\n-----END CERTIFICATE-----\n";

    if (RootStoreHoldsTestCa()) { // left by an earlier run
        RunTool("trust \"" + pem + "\"");
        RunTool("untrust \"" + pem + "\"");
    }
    ASSERT_FALSE(RootStoreHoldsTestCa());

    const struct
    {
        std::string arguments;
        int exit;
        const char* shows; // in the output or the error
        bool trustedAfter;
    } steps[] = {
        {"trust \"" + junk + "\"", 1, "is not a certificate", false},
        {"untrust \"" + pem + "\"", 1, "was not trusted by 'vlagt trust'", false},
        {"trust \"" + der + "\"", 0, kTestCaThumbprint, true},
        {"trust \"" + pem + "\"", 0, "trusted as a root CA on this machine: vlpolicyd test CA", true},
        {"trust --list", 0, kTestCaThumbprint, true},
        {"untrust \"" + der + "\"", 0, "no longer trusted", false},
        {"trust --list", 0, "vlagt has trusted no CA", false},
        {"trust", 2, "CAFILE or --list is required", false},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.arguments);
        const ToolRun run = RunTool(step.arguments);
        EXPECT_EQ(run.exit, step.exit) << run.all();
        EXPECT_NE(run.all().find(step.shows), std::string::npos) << run.all();
        EXPECT_EQ(RootStoreHoldsTestCa(), step.trustedAfter);
    }
    DeleteFileA(pem.c_str());
    DeleteFileA(der.c_str());
    DeleteFileA(junk.c_str());
}

// An https server URL shows as "tls  yes"; an http one has no tls row.
TEST_F(VlagtTest, HttpsServer_ShowsTlsYes)
{
    EXPECT_EQ(RunTool("server https://policy.example/agent").exit, 0);
    const ToolRun https = RunTool("server");
    EXPECT_NE(https.out.find("tls     yes"), std::string::npos) << https.out;
    EXPECT_EQ(RunTool("server " + m_server.Url("/agent")).exit, 0);
    const ToolRun http = RunTool("server --json");
    EXPECT_EQ(http.out.find("\"tls\""), std::string::npos) << http.out;
}

} // namespace
