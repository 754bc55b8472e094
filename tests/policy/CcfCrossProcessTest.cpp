// The CCF between processes: written by one, read by another; written by two at once; a writer
// killed in the middle of its writes.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "CcfSandbox.h"
#include "Corvane.h"
#include "HelperProcess.h"
#include "VLAgtClient.h"

using corvane::CcfState;
using vlagt::test::CcfSandbox;
using vlagt::test::HelperProcess;
using vlagt::test::NamedEvent;
using vlagt::test::UniqueName;

namespace {

constexpr DWORD kHelperWaitMs = 45000;

char* Text(std::string& s)
{
    return &s[0];
}

TEST(CcfCrossProcessTest, WrittenByOneProcessReadByAnother)
{
    CcfSandbox sandbox;
    HelperProcess writer("ccfcreate bob C-77 app.exe|app.dll|");
    ASSERT_TRUE(writer.Started());
    ASSERT_EQ(writer.Wait(kHelperWaitMs), 0);

    CDRMLogin session;
    session.TestCCF();
    EXPECT_STREQ(session.m_CCFInfo.szUserID, "bob");
    EXPECT_STREQ(session.m_CCFInfo.szCompanyID, "C-77");
    EXPECT_STREQ(session.m_CCFInfo.szPositionID, "P-5");
    EXPECT_STREQ(session.m_CCFInfo.szSuperKey, "helper-key");
    EXPECT_STREQ(session.m_CCFInfo.szDKMS, "dkms.helper");
    EXPECT_STREQ(session.m_CCFInfo.szDTSS, "dtss.helper");
    EXPECT_EQ(session.m_CCFInfo.nOfflinePolicy, 6);
    EXPECT_EQ(session.m_CCFInfo.nOnlineControl, 7);
    EXPECT_EQ(session.m_CCFInfo.nDocExchangePolicy, 8);
    EXPECT_EQ(session.m_CCFInfo.bControlCount, 1);
    EXPECT_EQ(sandbox.Value("Field.app.exe"), std::string("app.dll", 8));
    EXPECT_EQ(sandbox.Value("AutoEncrypt.2"), "1");

    // And back: this process writes, the helper reads.
    std::string user = "carol", start = "20240501", end = "20240531";
    CDRMLogin writerHere;
    writerHere.SetUserID(Text(user));
    memcpy(writerHere.m_LoginInfo.szCompanyID, "C-88", 4);
    writerHere.FillCCFInfo();
    writerHere.CreateCCF();
    writerHere.SetTakeOutCCF(1, Text(start), Text(end));
    HelperProcess reader("ccfexpect carol C-88 1");
    EXPECT_EQ(reader.Wait(kHelperWaitMs), 0);
    HelperProcess wrongReader("ccfexpect bob C-88 1");
    EXPECT_EQ(wrongReader.Wait(kHelperWaitMs), 1) << "the check in the helper can fail";
}

TEST(CcfCrossProcessTest, TwoProcessesWritingAtOnceKeepEveryValue)
{
    CcfSandbox sandbox;
    constexpr int kWrites = 40;
    NamedEvent start(UniqueName("ccfstart"));
    HelperProcess first("ccfhammer a " + std::to_string(kWrites) + " " + start.Name() + " -");
    HelperProcess second("ccfhammer b " + std::to_string(kWrites) + " " + start.Name() + " -");
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(second.Started());
    start.Set();
    ASSERT_EQ(first.Wait(kHelperWaitMs), 0);
    ASSERT_EQ(second.Wait(kHelperWaitMs), 0);

    ASSERT_EQ(sandbox.State(), CcfState::Valid);
    const corvane::CcfValues values = sandbox.Values();
    EXPECT_EQ(values.size(), 2u * kWrites);
    for (const char* prefix : {"a", "b"})
        for (int i = 0; i < kWrites; ++i)
            EXPECT_EQ(values.count("Field." + std::string(prefix) + std::to_string(i)), 1u)
                << prefix << i << " was lost";
    EXPECT_EQ(sandbox.FolderListing(), "Client.ccf") << "no temporary file is left behind";
}

TEST(CcfCrossProcessTest, WriterKilledMidwayLeavesAWholeCcf)
{
    CcfSandbox sandbox;
    sandbox.Store({{"UserID", "alice"}});
    NamedEvent firstWrite(UniqueName("ccffirst"));
    {
        HelperProcess writer("ccfhammer k 1000000 - " + firstWrite.Name());
        ASSERT_TRUE(writer.Started());
        ASSERT_TRUE(firstWrite.Wait(kHelperWaitMs));
        // Leaving the scope kills the writer wherever it is.
    }
    EXPECT_EQ(sandbox.State(), CcfState::Valid);
    EXPECT_EQ(sandbox.Value("UserID"), "alice");
    EXPECT_EQ(sandbox.Value("Field.k0"), std::string("v", 2));

    // The next writer is not kept out by the killed one.
    std::string user = "bob";
    {
        CCCF ccf;
        EXPECT_EQ(ccf.CheckCCFValidity(), CCF_CHECK_VALID);
        ccf.SetUserID(Text(user));
    }
    EXPECT_EQ(sandbox.Value("UserID"), "bob");
}

} // namespace
