#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CcfSandbox.h"
#include "DbwinListener.h"
#include "DispatcherTestUtil.h"
#include "HelperProcess.h"
#include "RegistrySandbox.h"
#include "ScriptedHttpServer.h"
#include "SessionLayout.h" // the same layout table the Microsoft-ABI caller checks
#include "VLAgtClient.h"

using namespace vlagt::test;

namespace {

std::string LoginReply()
{
    LOGIN_INFO info;
    memset(&info, 0, sizeof(info));
    PutText(info.szSignal, "_%RES_LIN%_");
    PutText(info.szGroupID, "grp-msvc");
    PutText(info.szCompanyID, "co-msvc");
    info.nOfflinePolicy = 3;
    info.abAppFlags[APP_FLAG_PDF] = 1;
    PutText(info.szAppInfoLen, "11");
    return "40000" + BytesOf(info) + "notepad.exe";
}

std::string TakeOutReply()
{
    TAKEOUT_MSG reply;
    memset(&reply, 0, sizeof(reply));
    PutText(reply.szTakeOutKey, "KEY-MSVC-1");
    return "40000" + BytesOf(reply);
}

std::string LevelReply()
{
    DOC_LEVEL_REPLY reply;
    memset(&reply, 0, sizeof(reply));
    reply.LevelList.nCount = 2;
    reply.LevelList.aLevels[0].nLevel = 1;
    PutText(reply.LevelList.aLevels[0].szName, "public");
    reply.LevelList.aLevels[1].nLevel = 7;
    PutText(reply.LevelList.aLevels[1].szName, "secret");
    return "40000" + BytesOf(reply);
}

std::string AclReply()
{
    ACL_REPLY reply;
    memset(&reply, 0, sizeof(reply));
    reply.AclInfo.abData[0] = 0xA1;
    reply.AclInfo.abData[41] = 0xA2;
    return "40000" + BytesOf(reply);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs vlmsvccaller.exe (in `mode`, empty for the full run) and collects its report.
struct CallerRun
{
    int exitCode = -1;
    std::string report;
    std::vector<std::string> debugLines;
};

CallerRun RunCaller(const char* mode)
{
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string report = std::string(folder) + UniqueName("vlmsvccaller") + ".txt";
    SetEnvironmentVariableA("VLAGT_MSVC_REPORT", report.c_str());
    SetEnvironmentVariableA("VLAGT_MSVC_MODE", mode);

    CallerRun run;
    DbwinListener debug;
    EXPECT_TRUE(debug.IsListening());
    HelperProcess caller("", "vlmsvccaller.exe");
    EXPECT_TRUE(caller.Started());
    run.exitCode = caller.Wait(30000);
    run.debugLines = debug.LinesOf(caller.ProcessId());
    SetEnvironmentVariableA("VLAGT_MSVC_REPORT", nullptr);
    SetEnvironmentVariableA("VLAGT_MSVC_MODE", nullptr);
    run.report = ReadFile(report);
    DeleteFileA(report.c_str());
    return run;
}

} // namespace

// vlmsvccaller.exe is compiled for Microsoft's C++ ABI and links VLAgtClient.lib: it constructs,
// drives, copies and deletes CDRMLogin objects through the Microsoft-decorated exports. Every
// object that owns an application list frees it exactly once, and the heap blocks of its objects
// all go back to the process heap.
TEST(MsvcCallerTest, MicrosoftBuiltCallerUsesEveryMemberCopiesAndDeletes)
{
    RegistrySandbox registry;
    CcfSandbox ccf;
    ScriptedHttpServer server;
    registry.SetString("VLDrmAgtSvr", server.Url("/vl/agent"));
    for (const std::string& reply : {LoginReply(), TakeOutReply(), LevelReply(), AclReply(), TakeOutReply()})
        server.Enqueue(ScriptedReply::WithBody(reply));

    const CallerRun run = RunCaller(nullptr);
    EXPECT_EQ(run.exitCode, 0) << run.report;
    EXPECT_NE(run.report.find(" failed 0\n"), std::string::npos) << run.report;

    // The requests went out as a GCC-built caller's would.
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].body,
              "_%REQ_LIN%_" + Field("msvc01", 20) + Field("pw-msvc", 20) + "kesmor" + std::string(4, '\0'));
    EXPECT_EQ(requests[1].body.substr(0, 11), "_%REQ_OUT%_");
    EXPECT_EQ(requests[1].body.substr(31, 11), "msvc reason");
    EXPECT_EQ(requests[2].body.substr(0, 11), "_%REQ_LVL%_");
    EXPECT_EQ(requests[3].body.substr(0, 31), "_%REQ_ACL%_" + Field("msvc01", 20));
    EXPECT_EQ(requests[3].body.substr(31, 4), std::string("\x07\0\0\0", 4));
    EXPECT_EQ(requests[4].body.substr(0, 11), "_%REQ_DEL%_");
    EXPECT_EQ(requests[4].body.substr(31, 10), "KEY-MSVC-1");

    // Each object that held an application list released its own: the session, its stack copy, the
    // assigned object, the heap copy, three array elements and the two copies deleted with ::delete.
    EXPECT_EQ(std::count(run.debugLines.begin(), run.debugLines.end(), "~CDRMLogin() : free(m_pAppInfo)"), 9);
}

// CheckOnline echoes the machine's own address, so this runs only inside the network namespace of
// tests/proxy/proxy-test.sh, where the machine has the non-loopback address it names.
TEST(MsvcCallerTest, MicrosoftBuiltCallerChecksOnline)
{
    if (getenv("VLAGT_NETNS_ADDRESS") == nullptr)
        GTEST_SKIP() << "needs the network namespace of tests/proxy/proxy-test.sh";
    const CallerRun run = RunCaller("online");
    EXPECT_EQ(run.exitCode, 0) << run.report;
    EXPECT_EQ(run.report, "checks 3 failed 0\n");
}
