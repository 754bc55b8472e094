// The policy library's CCF: storage, merging of concurrent writers, damaged files, getter strings.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "CcfSandbox.h"
#include "common/WinApi.h"

#include <shlobj.h>
#include "Corvane.h"

using corvane::CcfState;
using vlagt::test::CcfSandbox;

namespace {

char* Text(std::string& s)
{
    return &s[0];
}

unsigned short* Wide(std::wstring& s)
{
    return reinterpret_cast<unsigned short*>(&s[0]);
}

TEST(CCCFTest, MissingFile_ReadsEmptyAndIsNotCreatedByReading)
{
    CcfSandbox sandbox;
    {
        CCCF ccf;
        EXPECT_EQ(ccf.CheckCCFValidity(), CCF_CHECK_MISSING);
        EXPECT_STREQ(ccf.GetUserID(), "");
        EXPECT_STREQ(ccf.GetGroupID(), "");
        EXPECT_STREQ(ccf.GetDTSSInfo(), "");
        EXPECT_EQ(ccf.GetOfflinePolicy(), 0);
        EXPECT_FALSE(ccf.GetControlCount());
        EXPECT_EQ(ccf.GetTakeOutStatus(), CCCF::TAKE_OUT_NONE);
    }
    EXPECT_EQ(sandbox.State(), CcfState::Missing) << "an object that set nothing must not write";
}

TEST(CCCFTest, EveryValueIsStoredAndReadBackByALaterObject)
{
    CcfSandbox sandbox;
    std::string user = "alice", company = "C-01", position = "P-9", superKey = "0123456789ABCDEF";
    std::string dkms = "dkms.example:7001", dtss = "dtss.example:7002", dls = "dls.example:7003";
    std::string start = "20240301", end = "20240331", value = std::string("lib\0x\x01\xff", 7);
    std::wstring site = L"C-01\u00e9", field = L"App=\u00e9 x.exe";
    {
        CCCF ccf;
        EXPECT_EQ(ccf.SetUserID(Text(user)), 1);
        ccf.SetCompanyID(Text(company));
        ccf.SetPositionID(Text(position));
        ccf.SetSuperKey(Text(superKey));
        ccf.SetDKMSInfo(Text(dkms));
        ccf.SetDTSSInfo(Text(dtss));
        ccf.SetDLSInfo(Text(dls));
        ccf.SetTakeOutStartDate(Text(start));
        ccf.SetTakeOutEndDate(Text(end));
        ccf.SetLatestSeenDate(Text(end));
        ccf.UpdateCurrentSiteID(Wide(site));
        ccf.SetOfflinePolicy(static_cast<CCCF::OFFLINE_POLICY_SET>(255));
        ccf.SetOnlineControl(static_cast<CCCF::ONLINE_CONTROL_SET>(7));
        ccf.SetDocExchangePolicy(static_cast<CCCF::DOC_EXCHANGE>(128));
        ccf.SetTakeOutStatus(CCCF::TAKE_OUT_APPROVED);
        ccf.SetControlCount(true);
        ccf.SetTimeSync(200);
        ccf.SetProtectRemoteTool(1);
        EXPECT_EQ(ccf.SetField(Wide(field), Text(value), 7), 1);
        ccf.MarkAutoEncryptIndicator(CCF_APP_DOC, true);
        ccf.MarkAutoEncryptIndicator(CCF_APP_KODAK, false);
        EXPECT_EQ(ccf.SetAutoEncryptIndicator(), 1);
        EXPECT_EQ(sandbox.State(), CcfState::Missing) << "nothing is written before the object goes";
    }
    ASSERT_EQ(sandbox.State(), CcfState::Valid);
    {
        CCCF ccf;
        EXPECT_EQ(ccf.CheckCCFValidity(), CCF_CHECK_VALID);
        EXPECT_STREQ(ccf.GetUserID(), "alice");
        EXPECT_STREQ(ccf.GetCompanyID(), "C-01");
        EXPECT_STREQ(ccf.GetPositionID(), "P-9");
        EXPECT_STREQ(ccf.GetSuperKey(), "0123456789ABCDEF");
        EXPECT_STREQ(ccf.GetDKMSInfo(), "dkms.example:7001");
        EXPECT_STREQ(ccf.GetDTSSInfo(), "dtss.example:7002");
        EXPECT_STREQ(ccf.GetTakeOutStartDate(), "20240301");
        EXPECT_STREQ(ccf.GetTakeOutEndDate(), "20240331");
        EXPECT_STREQ(ccf.GetLatestSeenDate(), "20240331");
        EXPECT_EQ(ccf.GetOfflinePolicy(), 255);
        EXPECT_EQ(ccf.GetOnlineControl(), 7);
        EXPECT_EQ(ccf.GetDocExchangePolicy(), 128);
        EXPECT_EQ(ccf.GetTakeOutStatus(), CCCF::TAKE_OUT_APPROVED);
        EXPECT_TRUE(ccf.GetControlCount());
    }
    // Values without a getter are in the file as stored.
    EXPECT_EQ(sandbox.Value("DLSInfo"), "dls.example:7003");
    EXPECT_EQ(sandbox.Value("TakeOutStartDate"), "20240301");
    EXPECT_EQ(sandbox.Value("TakeOutEndDate"), "20240331");
    EXPECT_EQ(sandbox.Value("LatestSeenDate"), "20240331");
    EXPECT_EQ(sandbox.Value("CurrentSiteID"), "C-01\xc3\xa9");
    EXPECT_EQ(sandbox.Value("TimeSync"), "200");
    EXPECT_EQ(sandbox.Value("ProtectRemoteTool"), "1");
    EXPECT_EQ(sandbox.Value("Field.App=\xc3\xa9 x.exe"), value) << "all `length` bytes, NULs included";
    EXPECT_EQ(sandbox.Value("AutoEncrypt.2"), "1");
    EXPECT_EQ(sandbox.Value("AutoEncrypt.10"), "0");
    EXPECT_EQ(sandbox.Value("AutoEncrypt.3"), "<absent>") << "only marked kinds are written";
    EXPECT_EQ(sandbox.FolderListing(), "Client.ccf") << "no temporary file is left behind";
}

TEST(CCCFTest, RefusedArgumentsChangeNothing)
{
    CcfSandbox sandbox;
    std::wstring name = L"x", empty = L"";
    std::string value = "v";
    {
        CCCF ccf;
        EXPECT_EQ(ccf.SetUserID(nullptr), 0);
        EXPECT_EQ(ccf.UpdateCurrentSiteID(nullptr), 0);
        EXPECT_EQ(ccf.SetField(nullptr, Text(value), 2), 0);
        EXPECT_EQ(ccf.SetField(Wide(empty), Text(value), 2), 0);
        EXPECT_EQ(ccf.SetField(Wide(name), nullptr, 2), 0);
        EXPECT_EQ(ccf.SetField(Wide(name), Text(value), 0), 0);
        EXPECT_EQ(ccf.SetField(Wide(name), Text(value), -5), 0);
    }
    EXPECT_EQ(sandbox.State(), CcfState::Missing);
}

TEST(CCCFTest, ObjectsMergeOnlyWhatTheyChanged)
{
    CcfSandbox sandbox;
    sandbox.Store({{"UserID", "old"}, {"GroupID", "G-7"}, {"Field.other", "kept"}});
    std::string user = "bob", start = "20240101", dkms = "dkms";
    {
        CCCF early;  // reads the file before `late` writes it
        CCCF late;
        late.SetTakeOutStartDate(Text(start));
        late.SetUserID(Text(user));
        early.SetDKMSInfo(Text(dkms));
        // `late` goes first; `early` must not write back its stale view of UserID or the date.
    }
    const corvane::CcfValues values = sandbox.Values();
    EXPECT_EQ(values, (corvane::CcfValues{{"UserID", "bob"},
                                          {"GroupID", "G-7"},
                                          {"Field.other", "kept"},
                                          {"TakeOutStartDate", "20240101"},
                                          {"DKMSInfo", "dkms"}}));
}

TEST(CCCFTest, GetterStringsStayValidWhileTheObjectLives)
{
    CcfSandbox sandbox;
    sandbox.Store({{"UserID", "first"}, {"GroupID", std::string(300, 'g')}});
    std::string second = "second";
    CCCF ccf;
    const char* before = ccf.GetUserID();
    ccf.SetUserID(Text(second));
    const char* after = ccf.GetUserID();
    ccf.CheckCCFValidity(); // reads the file again
    EXPECT_STREQ(before, "first");
    EXPECT_STREQ(after, "second") << "a getter shows the object's own changes";
    EXPECT_EQ(strlen(ccf.GetGroupID()), 300u) << "a getter does not cut values";
}

TEST(CCCFTest, GroupWrittenByAnotherWriterIsRead)
{
    CcfSandbox sandbox;
    sandbox.Store({{"GroupID", "G-42"}});
    CCCF ccf;
    EXPECT_STREQ(ccf.GetGroupID(), "G-42");
}

TEST(CCCFTest, DamagedFilesAreReportedReadEmptyAndReplacedByTheNextWrite)
{
    CcfSandbox sandbox;
    sandbox.Store({{"UserID", "alice"}, {"TakeOutStatus", "1"}});
    const std::string good = sandbox.RawBytes();
    ASSERT_FALSE(good.empty());

    std::string flipped = good;
    flipped[flipped.find("alice")] = 'A';
    const struct
    {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"one byte changed", flipped},
        {"cut short (no check line)", good.substr(0, good.size() - 12)},
        {"empty file", ""},
        {"not a CCF", "UserID=alice\r\n"},
        {"binary noise", std::string("\0\xff\x13" "CORVANE", 10)},
        {"text after the check line", good + "UserID=mallory\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sandbox.WriteRaw(c.bytes);
        {
            CCCF ccf;
            EXPECT_EQ(ccf.CheckCCFValidity(), CCF_CHECK_DAMAGED);
            EXPECT_STREQ(ccf.GetUserID(), "");
            EXPECT_EQ(ccf.GetTakeOutStatus(), CCCF::TAKE_OUT_NONE);
        }
        EXPECT_EQ(sandbox.RawBytes(), c.bytes) << "reading leaves a damaged file alone";
        std::string user = "bob";
        {
            CCCF ccf;
            ccf.SetUserID(Text(user));
        }
        EXPECT_EQ(sandbox.State(), CcfState::Valid);
        EXPECT_EQ(sandbox.Values(), (corvane::CcfValues{{"UserID", "bob"}}));
    }
}

TEST(CCCFTest, WithoutTheOverrideTheCcfIsInTheProfile)
{
    CcfSandbox sandbox; // restores the variable afterwards
    SetEnvironmentVariableW(corvane::kPathVariable, nullptr);
    wchar_t folder[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder), S_OK);
    EXPECT_EQ(corvane::CcfPath(), std::wstring(folder) + L"\\Velmora\\Tessaline\\Client.ccf");
    SetEnvironmentVariableW(corvane::kPathVariable, L"");
    EXPECT_EQ(corvane::CcfPath(), std::wstring(folder) + L"\\Velmora\\Tessaline\\Client.ccf");
}

TEST(CCCFTest, FormatRoundTripsAnyBytes)
{
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    const corvane::CcfValues values = {{"Field." + all, all}, {"empty", ""}, {"a=b", "=%\r\n"}};
    const std::string text = corvane::Serialize(values);
    EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1) << "one record per line";
    corvane::CcfValues parsed;
    ASSERT_TRUE(corvane::Parse(text, parsed));
    EXPECT_EQ(parsed, values);
}

} // namespace
