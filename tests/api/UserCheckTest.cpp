// The user check CheckUserID: a logged-in agent, the login page in the browser when the server
// answers, else the offline check of Ossilet.dll in the installation folder.
#include <gtest/gtest.h>

#include <string.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ApiCaller.h"
#include "CcfSandbox.h"
#include "HelperProcess.h"
#include "RegistrySandbox.h"
#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"
#include "api/UserCheck.h"

#include <shlobj.h>

using namespace vlagt::test;
using Lines = std::vector<std::string>;

namespace {

constexpr char kBrowser[] = "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE";

std::string TempFolder(const std::string& stem)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + UniqueName(stem) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Today's local date moved by `days`, as "YYYYMMDD".
std::string LocalDate(int days)
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    now.wHour = 12;
    FILETIME file = {};
    SystemTimeToFileTime(&now, &file);
    ULARGE_INTEGER ticks;
    ticks.LowPart = file.dwLowDateTime;
    ticks.HighPart = file.dwHighDateTime;
    ticks.QuadPart += static_cast<long long>(days) * 864000000000LL;
    file.dwLowDateTime = ticks.LowPart;
    file.dwHighDateTime = ticks.HighPart;
    SYSTEMTIME moved = {};
    FileTimeToSystemTime(&file, &moved);
    char text[16];
    snprintf(text, sizeof(text), "%04u%02u%02u", moved.wYear, moved.wMonth, moved.wDay);
    return text;
}

// Puts vlbrowser.exe where the browser lives in the prefix for the length of a test; it records its
// command line in a file of ours. The prefix's own file is put back afterwards.
class BrowserStandIn
{
public:
    BrowserStandIn() : m_record(TempFolder("vlbrowser") + "commandline.txt")
    {
        m_saved = std::string(kBrowser) + ".vlagt-saved";
        m_hadOriginal = GetFileAttributesA(kBrowser) != INVALID_FILE_ATTRIBUTES;
        if (m_hadOriginal)
            CopyFileA(kBrowser, m_saved.c_str(), FALSE);
        SHCreateDirectoryExA(nullptr, "C:\\Program Files\\Internet Explorer", nullptr);
        m_installed = CopyFileA((ProgramFolder() + "vlbrowser.exe").c_str(), kBrowser, FALSE) != 0;
        SetEnvironmentVariableA("VLAGT_BROWSER_RECORD", m_record.c_str());
    }
    ~BrowserStandIn()
    {
        SetEnvironmentVariableA("VLAGT_BROWSER_RECORD", nullptr);
        if (m_hadOriginal)
            MoveFileExA(m_saved.c_str(), kBrowser, MOVEFILE_REPLACE_EXISTING);
        else
            DeleteFileA(kBrowser);
        DeleteFileA(m_record.c_str());
    }

    bool Installed() const { return m_installed; }
    // The command line the stand-in was started with; empty when it did not start within the wait.
    std::string WaitForCommandLine(DWORD timeoutMs) const
    {
        for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
            if (GetFileAttributesA(m_record.c_str()) != INVALID_FILE_ATTRIBUTES)
                return ReadFile(m_record);
            Sleep(20);
        }
        return std::string();
    }
    bool Started() const { return GetFileAttributesA(m_record.c_str()) != INVALID_FILE_ATTRIBUTES; }
    void Forget() const { DeleteFileA(m_record.c_str()); }

private:
    std::string m_record;
    std::string m_saved;
    bool m_hadOriginal = false;
    bool m_installed = false;
};

class UserCheckTest : public ::testing::Test
{
protected:
    UserCheckTest() : m_classes(HKEY_CLASSES_ROOT, "Velmora TessaLINE") {}

    // An installation folder that holds Ossilet.dll and Corvane.dll, as the install kit lays it out.
    static std::string InstallFolder(bool withOssilet = true, const char* ossiletSource = "Ossilet.dll")
    {
        const std::string folder = TempFolder("vlinstall");
        if (withOssilet)
            CopyFileA((ProgramFolder() + ossiletSource).c_str(), (folder + "Ossilet.dll").c_str(), FALSE);
        CopyFileA((ProgramFolder() + "Corvane.dll").c_str(), (folder + "Corvane.dll").c_str(), FALSE);
        return folder;
    }

    void SetShellCommand(const std::string& command)
    {
        m_classes.SetString("", command, "Shell\\Open\\Command");
    }

    void ApproveOffline(const std::string& user)
    {
        m_ccf.Store({{"UserID", user}, {"TakeOutStatus", "1"}, {"TakeOutStartDate", LocalDate(-1)},
                     {"TakeOutEndDate", LocalDate(1)}});
    }

    RegistrySandbox m_registry;
    RegistrySandbox m_classes;
    CcfSandbox m_ccf;
    ScriptedHttpServer m_server;
};

TEST_F(UserCheckTest, LoggedIn_AnswersOneWithoutPingOrBrowser)
{
    BrowserStandIn browser;
    m_registry.SetString("VLDrmAgtSvr", m_server.Url("/vl/agent"));
    CDRMLogin agent;
    ASSERT_EQ(agent.CreateSharedMemForLoginInfo(), 1);
    memcpy(agent.m_pSharedInfo->szUserID, "user01", 7);

    char user[] = "user01";
    EXPECT_EQ(CheckUserID(user), 1);
    EXPECT_EQ(m_server.RequestCount(), 0u);
    EXPECT_FALSE(browser.Started());
    agent.DeleteSharedMemForLoginInfo();
}

// The browser path is quoted: unquoted, "C:\Program.exe" would be tried first, so one is planted
// there (it records its command line too, which then would not match).
TEST_F(UserCheckTest, ServerAnswers_OpensTheLoginPageAndAnswersMinusOne)
{
    BrowserStandIn browser;
    ASSERT_TRUE(browser.Installed());
    const char planted[] = "C:\\Program.exe";
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "vlbrowser.exe").c_str(), planted, FALSE));
    m_registry.SetString("VLDrmAgtSvr", m_server.Url("/vl/agent"));
    struct Row
    {
        const char* name;
        const char* loginPage; // null: no value
        std::string commandLine;
    };
    const Row rows[] = {
        {"login page", "http://127.0.0.1/login.jsp?from=agent",
         std::string("\"") + kBrowser + "\" http://127.0.0.1/login.jsp?from=agent"},
        {"no login page", nullptr, std::string("\"") + kBrowser + "\" "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        browser.Forget();
        if (row.loginPage != nullptr)
            m_registry.SetString("LoginPage", row.loginPage);
        else
            m_registry.DeleteValue("LoginPage");
        m_server.Enqueue(ScriptedReply::WithBody("_%RES_PNG%_"));

        char user[] = "user01";
        EXPECT_EQ(CheckUserID(user), -1);
        EXPECT_EQ(browser.WaitForCommandLine(10000), row.commandLine);
    }
    DeleteFileA(planted);
}

// The installation folder read from the shell open command; the output is touched only on success.
TEST_F(UserCheckTest, InstallFolder_OnlyAnAbsoluteFolderCounts)
{
    struct Row
    {
        const char* name;
        const char* command; // null: no key
        const char* folder;  // null: none
    };
    const Row rows[] = {
        {"quoted program path", "\"C:\\Program Files\\Tessaline\\agent.exe\" \"%1\"", "C:\\Program Files\\Tessaline\\"},
        {"unquoted keeps its drive letter", "C:\\Tessaline\\agent.exe %1", "C:\\Tessaline\\"},
        {"network path", "\"\\\\server\\share\\agent.exe\" \"%1\"", "\\\\server\\share\\"},
        {"no backslash", "agent.exe \"%1\"", nullptr},
        {"root of the current drive", "\"\\agent.exe\" \"%1\"", nullptr},
        {"relative folder", "bin\\agent.exe", nullptr},
        {"empty", "", nullptr},
        {"longer than the read", nullptr, nullptr},
        {"no key", nullptr, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RegistrySandbox classes(HKEY_CLASSES_ROOT, "Velmora TessaLINE");
        if (row.command != nullptr)
            SetShellCommand(row.command);
        else if (strcmp(row.name, "longer than the read") == 0)
            SetShellCommand("C:\\" + std::string(300, 'x') + "\\agent.exe");
        char folder[vlagt::kInstallFolderSize];
        memset(folder, '#', sizeof(folder));
        folder[sizeof(folder) - 1] = '\0';
        const std::string poison = folder;
        EXPECT_EQ(GetInstallFolder(folder), row.folder != nullptr ? 1 : 0);
        EXPECT_EQ(std::string(folder), row.folder != nullptr ? std::string(row.folder) : poison);
    }
}

// No server: Ossilet.dll decides. Each row runs in a fresh process that knows the module by name,
// so a library loaded by one row cannot answer for the next.
TEST_F(UserCheckTest, NoServer_TheOfflineCheckDecides)
{
    const std::string installed = InstallFolder();
    const std::string empty = InstallFolder(false);
    const std::string wrongLibrary = InstallFolder(true, "Corvane.dll"); // no CheckOfflineUserID
    // A library planted at the root of the current drive, which would accept: it must never load.
    const std::string planted = "C:\\Ossilet.dll";
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "Ossilet.dll").c_str(), planted.c_str(), FALSE));
    struct Row
    {
        const char* name;
        std::string command; // "": no key
        bool approved;
        std::string result;
    };
    const Row rows[] = {
        {"accepted offline", "\"" + installed + "agent.exe\" \"%1\"", true, "checkuser 1"},
        {"refused offline", "\"" + installed + "agent.exe\" \"%1\"", false, "checkuser -1"},
        {"unquoted command keeps its drive letter", installed + "agent.exe %1", true, "checkuser 1"},
        {"library without the function", "\"" + wrongLibrary + "agent.exe\"", true, "checkuser -1"},
        {"no library in the folder", "\"" + empty + "agent.exe\"", true, "checkuser -1"},
        {"no installation folder loads nothing", "", true, "checkuser -1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RegistrySandbox classes(HKEY_CLASSES_ROOT, "Velmora TessaLINE");
        if (!row.command.empty())
            SetShellCommand(row.command);
        CcfSandbox ccf;
        if (row.approved)
            ccf.Store({{"UserID", "user01"}, {"TakeOutStatus", "1"}, {"TakeOutStartDate", LocalDate(-1)},
                       {"TakeOutEndDate", LocalDate(1)}});
        ApiCaller caller("cd:C:\\ checkuser:user01");
        ASSERT_EQ(caller.Wait(20000), 0);
        EXPECT_EQ(caller.Results(), Lines{row.result});
    }
    DeleteFileA(planted.c_str());
}

} // namespace
