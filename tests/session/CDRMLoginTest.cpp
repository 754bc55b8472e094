#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "DbwinListener.h"
#include "DebugCapture.h"
#include "HelperProcess.h"
#include "RegistrySandbox.h"
#include "VLAgtClient.h"

using vlagt::test::DbwinListener;
using vlagt::test::DebugCapture;
using vlagt::test::HelperProcess;
using vlagt::test::NamedEvent;
using vlagt::test::RegistrySandbox;
using vlagt::test::UniqueName;
using Lines = std::vector<std::string>;

namespace {

char* Text(std::string& s)
{
    return &s[0];
}

// Writes a user ID into the shared record the way a successful login does: 20 bytes.
void Publish(CDRMLogin& session, const char* userID)
{
    memset(session.m_pSharedInfo->szUserID, 0, sizeof(session.m_pSharedInfo->szUserID));
    memcpy(session.m_pSharedInfo->szUserID, userID, strnlen(userID, 20));
}

TEST(CDRMLoginTest, FreshSession)
{
    DebugCapture capture;
    CDRMLogin session;
    EXPECT_EQ(session.m_nTakeOutStatus, 2);
    EXPECT_EQ(session.m_nDocLevel, 0);
    EXPECT_EQ(session.CheckLogin(), 0);
    EXPECT_EQ(session.m_pAppInfo, nullptr);
    EXPECT_STREQ(session.m_szServerURL, "");

    EXPECT_EQ(session.DeleteSharedMemForLoginInfo(), 1);
    EXPECT_EQ(capture.Lines(), Lines{"Shared Memory File Handle Closed"});
    EXPECT_EQ(session.m_hSharedLoginInfo, INVALID_HANDLE_VALUE);
    EXPECT_EQ(session.m_pSharedInfo, nullptr);
}

TEST(CDRMLoginTest, TwoSessionsShareOneRecord)
{
    DebugCapture capture;
    CDRMLogin first, second;
    ASSERT_EQ(first.CreateSharedMemForLoginInfo(), 1);
    ASSERT_EQ(second.CreateSharedMemForLoginInfo(), 1);
    EXPECT_EQ(capture.Lines(), (Lines{"Shared  Info = 28 Bytes", "Shared  Info = 28 Bytes"}));
    EXPECT_EQ(second.CheckLogin(), 0);

    Publish(first, "alice");
    EXPECT_EQ(second.CheckLogin(), 1);
    EXPECT_EQ(first.CheckLogin(), 1);
    first.DeleteSharedMemForLoginInfo();
    second.DeleteSharedMemForLoginInfo();
}

TEST(CDRMLoginTest, FullWidthUserIdHasNoTerminatorAndCounts)
{
    CDRMLogin session;
    ASSERT_EQ(session.CreateSharedMemForLoginInfo(), 1);
    session.m_pSharedInfo->nOnline = 1;
    Publish(session, "abcdefghijklmnopqrst");
    EXPECT_EQ(memcmp(session.m_pSharedInfo->szUserID, "abcdefghijklmnopqrst", 20), 0);
    EXPECT_EQ(session.m_pSharedInfo->nOnline, 1) << "the user ID must not spill into nOnline";
    EXPECT_EQ(session.CheckLogin(), 1);
    session.DeleteSharedMemForLoginInfo();
}

TEST(CDRMLoginTest, CrearEmptiesUserAndDropsViewButKeepsHandle)
{
    CDRMLogin session, reader;
    ASSERT_EQ(session.CreateSharedMemForLoginInfo(), 1);
    ASSERT_EQ(reader.CreateSharedMemForLoginInfo(), 1);
    Publish(session, "bob");
    reader.m_pSharedInfo->nOnline = 7;
    HANDLE handle = session.m_hSharedLoginInfo;

    DebugCapture capture;
    EXPECT_EQ(session.CrearSharedMemForLoginInfo(), 1);
    EXPECT_EQ(capture.Lines(), Lines{"Memory Clear"});
    EXPECT_EQ(session.m_pSharedInfo, nullptr);
    EXPECT_EQ(session.m_hSharedLoginInfo, handle);
    EXPECT_EQ(session.CheckLogin(), 0);
    EXPECT_EQ(reader.CheckLogin(), 0);
    EXPECT_EQ(reader.m_pSharedInfo->nOnline, 7) << "only the first four bytes are cleared";

    // A second clear has no view: nothing to log.
    capture.Clear();
    EXPECT_EQ(session.CrearSharedMemForLoginInfo(), 1);
    EXPECT_TRUE(capture.Lines().empty());

    // Attaching again works on the same session.
    EXPECT_EQ(session.CreateSharedMemForLoginInfo(), 1);
    Publish(session, "bob");
    EXPECT_EQ(reader.CheckLogin(), 1);
    session.DeleteSharedMemForLoginInfo();
    reader.DeleteSharedMemForLoginInfo();
}

TEST(CDRMLoginTest, DeleteLogsOutEveryReaderAndReleasesEverything)
{
    CDRMLogin session, reader;
    ASSERT_EQ(session.CreateSharedMemForLoginInfo(), 1);
    ASSERT_EQ(reader.CreateSharedMemForLoginInfo(), 1);
    Publish(session, "carol");
    HANDLE handle = session.m_hSharedLoginInfo;

    DebugCapture capture;
    EXPECT_EQ(session.DeleteSharedMemForLoginInfo(), 1);
    EXPECT_EQ(capture.Lines(), (Lines{"Memory Clear", "UnmapViewOfFile", "Shared Memory File Handle Closed"}));
    EXPECT_EQ(session.m_pSharedInfo, nullptr);
    EXPECT_EQ(session.m_hSharedLoginInfo, INVALID_HANDLE_VALUE);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(handle, &flags)) << "the section handle must be closed";
    EXPECT_EQ(reader.CheckLogin(), 0);
    reader.DeleteSharedMemForLoginInfo();
}

TEST(CDRMLoginTest, RepeatedCreateKeepsTheUserAndReleasesTheEarlierHandle)
{
    CDRMLogin session;
    ASSERT_EQ(session.CreateSharedMemForLoginInfo(), 1);
    Publish(session, "dave");
    HANDLE firstHandle = session.m_hSharedLoginInfo;

    // The session holds the only handle: attaching again must not let the section go.
    ASSERT_EQ(session.CreateSharedMemForLoginInfo(), 1);
    EXPECT_EQ(session.CheckLogin(), 1);
    EXPECT_EQ(std::string(session.m_pSharedInfo->szUserID), "dave");
    EXPECT_NE(session.m_hSharedLoginInfo, firstHandle);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(firstHandle, &flags)) << "the earlier handle must be closed";
    session.DeleteSharedMemForLoginInfo();
}

TEST(CDRMLoginTest, SessionWithoutViewSeesNoLoginOfAnotherProcess)
{
    NamedEvent ready(UniqueName("vlready")), release(UniqueName("vlrelease"));
    HelperProcess helper("publish erin " + ready.Name() + " " + release.Name());
    ASSERT_TRUE(helper.Started());
    ASSERT_TRUE(ready.Wait(10000));

    CDRMLogin detached;
    EXPECT_EQ(detached.CheckLogin(), 0);
    CDRMLogin attached;
    ASSERT_EQ(attached.CreateSharedMemForLoginInfo(), 1);
    EXPECT_EQ(attached.CheckLogin(), 1);
    EXPECT_EQ(std::string(attached.m_pSharedInfo->szUserID), "erin");

    release.Set();
    EXPECT_EQ(helper.Wait(10000), 0);
    attached.DeleteSharedMemForLoginInfo();
}

TEST(CDRMLoginTest, UserPublishedHereIsSeenByAnotherProcess)
{
    CDRMLogin session;
    ASSERT_EQ(session.CreateSharedMemForLoginInfo(), 1);
    {
        HelperProcess before("checklogin");
        EXPECT_EQ(before.Wait(10000), 0);
    }
    Publish(session, "frank");
    HelperProcess after("checklogin");
    EXPECT_EQ(after.Wait(10000), 1);
    session.DeleteSharedMemForLoginInfo();
}

TEST(CDRMLoginTest, SetUserInfoMasksPasswordAndCutsToFit)
{
    DebugCapture capture;
    CDRMLogin session;
    std::string user = "user01", password = "s3cret!";
    session.SetUserInfo(Text(user), Text(password));
    EXPECT_STREQ(session.m_szUserID, "user01");
    EXPECT_STREQ(session.m_szUserPW, "s3cret!");
    EXPECT_EQ(capture.Lines(), Lines{"[VLAgentClient] UserID : user01, UserPW : ****"});
    EXPECT_FALSE(capture.Contains("s3cret"));

    std::string longUser(60, 'u'), longPassword(25, 'p');
    session.SetUserInfo(Text(longUser), Text(longPassword));
    EXPECT_EQ(std::string(session.m_szUserID), std::string(50, 'u'));
    EXPECT_EQ(std::string(session.m_szUserPW), std::string(19, 'p'));

    std::string shorter = "ab";
    session.SetUserID(Text(shorter));
    EXPECT_STREQ(session.m_szUserID, "ab");
    EXPECT_EQ(session.m_szUserID[10], '\0') << "SetUserID clears the old ID";
    EXPECT_EQ(capture.Lines().size(), 2u) << "SetUserID logs nothing";
}

TEST(CDRMLoginTest, SetServerIPStoresLogsAndCuts)
{
    DebugCapture capture;
    CDRMLogin session;
    std::string url = "http://127.0.0.1:8080/vl/agent";
    session.SetServerIP(Text(url));
    EXPECT_STREQ(session.m_szServerURL, "http://127.0.0.1:8080/vl/agent");
    EXPECT_EQ(capture.Lines(), Lines{"[VLAgentClient] ServerIP : http://127.0.0.1:8080/vl/agent"});

    std::string shorter = "http://h/";
    session.SetServerIP(Text(shorter));
    EXPECT_EQ(session.m_szServerURL[20], '\0') << "the old URL is cleared";

    std::string longUrl = "http://h/" + std::string(400, 'x');
    session.SetServerIP(Text(longUrl));
    EXPECT_EQ(std::string(session.m_szServerURL), longUrl.substr(0, 259));
}

TEST(CDRMLoginTest, GetServerIPReadsRegistryAndKeepsUrlWhenAbsentOrEmpty)
{
    RegistrySandbox sandbox;
    CDRMLogin session;
    std::string url = "http://previous/";
    session.SetServerIP(Text(url));

    DebugCapture capture;
    EXPECT_EQ(session.GetServerIP(), 0);
    EXPECT_STREQ(session.m_szServerURL, "http://previous/");
    sandbox.SetString("VLDrmAgtSvr", "");
    EXPECT_EQ(session.GetServerIP(), 0);
    EXPECT_STREQ(session.m_szServerURL, "http://previous/");
    EXPECT_TRUE(capture.Lines().empty());

    sandbox.SetString("VLDrmAgtSvr", "http://127.0.0.1:9000/agent");
    EXPECT_EQ(session.GetServerIP(), 1);
    EXPECT_STREQ(session.m_szServerURL, "http://127.0.0.1:9000/agent");
    EXPECT_EQ(capture.Lines(), Lines{"[VLAgentClient] ServerIP : http://127.0.0.1:9000/agent"});
}

TEST(CDRMLoginTest, TakeOutRecordsAreTakenOnlyWithAUser)
{
    CDRMLogin session;
    TAKEOUT_INFO info;
    memset(&info, 0xA5, sizeof(info));
    TAKEOUT_MSG msg;
    memset(&msg, 0x5A, sizeof(msg));

    session.SetTakeOutInfo(&info);
    session.SetTakeOutMsg(&msg);
    const TAKEOUT_INFO zeroInfo = {};
    const TAKEOUT_MSG zeroMsg = {};
    EXPECT_EQ(memcmp(&session.m_TakeOutInfo, &zeroInfo, sizeof(zeroInfo)), 0);
    EXPECT_EQ(memcmp(&session.m_TakeOutMsg, &zeroMsg, sizeof(zeroMsg)), 0);

    std::string user = "user01";
    session.SetUserID(Text(user));
    session.SetTakeOutInfo(&info);
    session.SetTakeOutMsg(&msg);
    EXPECT_EQ(memcmp(&session.m_TakeOutInfo, &info, sizeof(info)), 0);
    EXPECT_EQ(memcmp(&session.m_TakeOutMsg, &msg, sizeof(msg)), 0);
}

TEST(CDRMLoginTest, CopiesOwnTheirApplicationListBlocks)
{
    DebugCapture capture;
    {
        CDRMLogin original;
        std::string user = "copyuser";
        original.SetUserID(Text(user));
        original.m_nTakeOutStatus = 1;
        original.m_LoginInfo.nOfflinePolicy = 9;
        original.m_pAppInfo = static_cast<char*>(malloc(16));
        memcpy(original.m_pAppInfo, "app.exe|lib.dll", 16);

        CDRMLogin copy(original);
        EXPECT_NE(copy.m_pAppInfo, original.m_pAppInfo);
        EXPECT_STREQ(copy.m_pAppInfo, "app.exe|lib.dll");
        EXPECT_STREQ(copy.m_szUserID, "copyuser");
        EXPECT_EQ(copy.m_nTakeOutStatus, 1);
        EXPECT_EQ(copy.m_LoginInfo.nOfflinePolicy, 9);

        CDRMLogin assigned;
        assigned.m_pAppInfo = static_cast<char*>(malloc(4));
        memcpy(assigned.m_pAppInfo, "old", 4);
        assigned = original;
        EXPECT_NE(assigned.m_pAppInfo, original.m_pAppInfo);
        EXPECT_STREQ(assigned.m_pAppInfo, "app.exe|lib.dll");
        assigned = assigned;
        EXPECT_STREQ(assigned.m_pAppInfo, "app.exe|lib.dll");

        CDRMLogin empty;
        assigned = empty;
        EXPECT_EQ(assigned.m_pAppInfo, nullptr);
    }
    // original and copy free their own blocks; assigned and empty hold none at the end.
    EXPECT_EQ(capture.Lines(), (Lines{"~CDRMLogin() : free(m_pAppInfo)", "~CDRMLogin() : free(m_pAppInfo)"}));
}

// Another process's debug lines, read the way a debug monitor reads them.
TEST(CDRMLoginTest, DebugLinesOfACallerProcessMatchByteForByte)
{
    DbwinListener listener;
    ASSERT_TRUE(listener.IsListening());
    HelperProcess helper("sessionlog user01 pw01 http://127.0.0.1:1/agent");
    ASSERT_TRUE(helper.Started());
    ASSERT_EQ(helper.Wait(20000), 0);
    const DWORD pid = helper.ProcessId();
    ASSERT_TRUE(listener.WaitForLine(pid, "Shared Memory File Handle Closed", 5000));
    // The first line is the module's own, written while it loads (the test prefix has no proxy).
    EXPECT_EQ(listener.LinesOf(pid), (Lines{"CheckUseProxy FALSE. \n",
                                             "[VLAgentClient] ServerIP : http://127.0.0.1:1/agent",
                                             "[VLAgentClient] UserID : user01, UserPW : ****",
                                             "Shared  Info = 28 Bytes", "Memory Clear", "UnmapViewOfFile",
                                             "Shared Memory File Handle Closed"}));
}

} // namespace
