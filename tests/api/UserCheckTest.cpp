// The user check CheckUserID: a logged-in agent, the login page in the browser when the server
// answers, else the offline check of Ossilet.dll in the installation folder.
#include <gtest/gtest.h>

#include <string.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ApiCaller.h"
#include "CcfSandbox.h"
#include "LocalDate.h"
#include "RegistrySandbox.h"
#include "ScriptedHttpServer.h"
#include "VLAgtClient.h"
#include "api/UserCheck.h"

using namespace vlagt::test;
using Lines = std::vector<std::string>;

namespace {

constexpr char kBrowser[] = "C:\\Program Files\\Internet Explorer\\IEXPLORE.EXE";

std::string TempFolder()
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + UniqueName("vlinstall") + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

bool Copy(const std::string& program, const std::string& to)
{
    return CopyFileA((ProgramFolder() + program).c_str(), to.c_str(), FALSE) != 0;
}

class UserCheckTest : public ::testing::Test
{
protected:
    // vlbrowser.exe stands in for the prefix's browser and records its command line in m_record.
    void SetUp() override
    {
        CopyFileA(kBrowser, m_savedBrowser.c_str(), FALSE);
        CreateDirectoryA("C:\\Program Files\\Internet Explorer", nullptr);
        ASSERT_TRUE(Copy("vlbrowser.exe", kBrowser));
        SetEnvironmentVariableA("VLAGT_BROWSER_RECORD", m_record.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("VLAGT_BROWSER_RECORD", nullptr);
        MoveFileExA(m_savedBrowser.c_str(), kBrowser, MOVEFILE_REPLACE_EXISTING);
        DeleteFileA(m_record.c_str());
    }
    // The record once it can be read with something in it (on a loaded host a read just as the
    // record is moved into place was once seen empty), or "" after timeoutMs.
    std::string BrowserCommandLine(DWORD timeoutMs) const
    {
        for (DWORD waited = 0;; waited += 20) {
            std::ifstream in(m_record, std::ios::binary);
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!text.empty() || waited >= timeoutMs)
                return text;
            Sleep(20);
        }
    }
    void SetShellCommand(const std::string& command) { m_classes.SetString("", command, "Shell\\Open\\Command"); }

    const std::string m_record = TempFolder() + "commandline.txt";
    const std::string m_savedBrowser = std::string(kBrowser) + ".saved";
    RegistrySandbox m_registry;
    RegistrySandbox m_classes{HKEY_CLASSES_ROOT, "Velmora TessaLINE"};
    CcfSandbox m_ccf;
    ScriptedHttpServer m_server;
};

TEST_F(UserCheckTest, LoggedIn_OneWithoutPingOrBrowser)
{
    m_registry.SetString("VLDrmAgtSvr", m_server.Url("/vl"));
    CDRMLogin agent;
    ASSERT_EQ(agent.CreateSharedMemForLoginInfo(), 1);
    memcpy(agent.m_pSharedInfo->szUserID, "user01", 7);
    char user[] = "user01";
    EXPECT_EQ(CheckUserID(user), 1);
    EXPECT_EQ(m_server.RequestCount(), 0u);
    EXPECT_EQ(BrowserCommandLine(0), "");
    agent.DeleteSharedMemForLoginInfo();
}

// The browser path is quoted: unquoted, a "C:\Program.exe" would start first, so one is planted
// (it records its command line too, which then would not match).
TEST_F(UserCheckTest, ServerAnswers_TheLoginPageOpensAndTheAnswerIsMinusOne)
{
    ASSERT_TRUE(Copy("vlbrowser.exe", "C:\\Program.exe"));
    m_registry.SetString("VLDrmAgtSvr", m_server.Url("/vl"));
    const std::string quoted = std::string("\"") + kBrowser + "\" ";
    for (const char* page : {"http://127.0.0.1/login.jsp?from=agent", ""}) { // "": no value
        SCOPED_TRACE(page);
        DeleteFileA(m_record.c_str());
        m_registry.DeleteValue("LoginPage");
        if (page[0] != '\0')
            m_registry.SetString("LoginPage", page);
        m_server.Enqueue(ScriptedReply::WithBody("_%RES_PNG%_"));
        char user[] = "user01";
        EXPECT_EQ(CheckUserID(user), -1);
        EXPECT_EQ(BrowserCommandLine(10000), quoted + page);
    }
    DeleteFileA("C:\\Program.exe");
}

// The installation folder from the shell open command; the output is touched only on success.
TEST_F(UserCheckTest, InstallFolder_OnlyAnAbsoluteFolderCounts)
{
    const std::pair<std::string, const char*> rows[] = { // command ("-": no key), folder (null: none)
        {"\"C:\\Program Files\\Tessaline\\agent.exe\" \"%1\"", "C:\\Program Files\\Tessaline\\"},
        {"C:\\Tessaline\\agent.exe %1", "C:\\Tessaline\\"}, // the drive letter stays
        {"\"\\\\server\\share\\agent.exe\" \"%1\"", "\\\\server\\share\\"},
        {"agent.exe \"%1\"", nullptr},
        {"\"\\agent.exe\" \"%1\"", nullptr}, // the root of the current drive
        {"bin\\agent.exe", nullptr},
        {"", nullptr},
        {"C:\\" + std::string(300, 'x') + "\\agent.exe", nullptr}, // longer than the read
        {"-", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        RegistrySandbox classes(HKEY_CLASSES_ROOT, "Velmora TessaLINE");
        if (row.first != "-")
            SetShellCommand(row.first);
        char folder[vlagt::kInstallFolderSize];
        memset(folder, '#', sizeof(folder) - 1);
        folder[sizeof(folder) - 1] = '\0';
        const std::string poison = folder;
        EXPECT_EQ(GetInstallFolder(folder), row.second != nullptr ? 1 : 0);
        EXPECT_EQ(std::string(folder), row.second != nullptr ? row.second : poison);
    }
}

// No server: Ossilet.dll decides. Each row runs in a fresh process that knows the module by name
// (with C:\ as its current folder), so a library one row loaded cannot answer for the next.
TEST_F(UserCheckTest, NoServer_TheOfflineCheckDecides)
{
    // The library and its Corvane.dll where this architecture's module looks: x64\ for the 64-bit one.
    const std::string installed = TempFolder(), empty = TempFolder(), wrong = TempFolder(), top = TempFolder();
    const std::string sub = std::string(vlagt::kOfflineLibrary).substr(0, strlen(vlagt::kOfflineLibrary) - 11);
    for (const std::string& folder : {installed, wrong})
        CreateDirectoryA((folder + sub).c_str(), nullptr);
    ASSERT_TRUE(Copy("Ossilet.dll", installed + vlagt::kOfflineLibrary) &&
                Copy("Corvane.dll", installed + sub + "Corvane.dll"));
    ASSERT_TRUE(Copy("Corvane.dll", wrong + vlagt::kOfflineLibrary)); // a library without CheckOfflineUserID
    // This architecture's library in the folder itself: the 32-bit module's place, where the 64-bit
    // one never looks.
    ASSERT_TRUE(Copy("Ossilet.dll", top + "Ossilet.dll") && Copy("Corvane.dll", top + "Corvane.dll"));
    // A library at the root of the current drive, which would accept: it must never load.
    ASSERT_TRUE(Copy("Ossilet.dll", "C:\\Ossilet.dll"));
    struct Row
    {
        const char* name;
        std::string command; // "": no key
        bool approved;
        const char* result;
    };
    const Row rows[] = {
        {"accepted offline", "\"" + installed + "agent.exe\" \"%1\"", true, "checkuser 1"},
        {"refused offline", "\"" + installed + "agent.exe\" \"%1\"", false, "checkuser -1"},
        {"unquoted command keeps its drive letter", installed + "agent.exe %1", true, "checkuser 1"},
        {"library without the function", "\"" + wrong + "agent.exe\"", true, "checkuser -1"},
        {"no library in the folder", "\"" + empty + "agent.exe\"", true, "checkuser -1"},
        {"no installation folder loads nothing", "", true, "checkuser -1"},
        {"the library in the folder itself is the 32-bit module's", "\"" + top + "agent.exe\"", true,
         sub.empty() ? "checkuser 1" : "checkuser -1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RegistrySandbox classes(HKEY_CLASSES_ROOT, "Velmora TessaLINE");
        if (!row.command.empty())
            SetShellCommand(row.command);
        CcfSandbox ccf;
        ccf.Store({{"UserID", "user01"}, {"TakeOutStatus", row.approved ? "1" : "0"},
                   {"TakeOutStartDate", LocalDate(-1)}, {"TakeOutEndDate", LocalDate(1)}});
        ApiCaller caller("cd:C:\\ checkuser:user01");
        ASSERT_EQ(caller.Wait(20000), 0);
        EXPECT_EQ(caller.Results(), Lines{row.result});
    }
    DeleteFileA("C:\\Ossilet.dll");
}

} // namespace
