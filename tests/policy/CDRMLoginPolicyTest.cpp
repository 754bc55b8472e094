// The CCF operations of the login session: FillCCFInfo, CreateCCF, the take-out state and the
// read-back, each against a private CCF.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "CcfSandbox.h"
#include "Corvane.h"
#include "DebugCapture.h"
#include "VLAgtClient.h"

using corvane::CcfValues;
using vlagt::test::CcfSandbox;
using vlagt::test::DebugCapture;
using Lines = std::vector<std::string>;

namespace {

char* Text(std::string& s)
{
    return &s[0];
}

void ToField(char* field, size_t width, const std::string& text)
{
    memset(field, 0, width);
    memcpy(field, text.data(), text.size() < width ? text.size() : width);
}

std::string FieldText(const char* field, size_t width)
{
    return std::string(field, strnlen(field, width));
}

// A session as a successful login leaves it.
void LogIn(CDRMLogin& session)
{
    std::string user = "alice";
    session.SetUserID(Text(user));
    LOGIN_INFO& info = session.m_LoginInfo;
    memset(&info, 0, sizeof(info));
    ToField(info.szCompanyID, sizeof(info.szCompanyID), "C-01");
    ToField(info.szGroupID, sizeof(info.szGroupID), "G-reply");
    ToField(info.szPositionID, sizeof(info.szPositionID), "P-02");
    ToField(info.szSuperKey, sizeof(info.szSuperKey), "superkey");
    ToField(info.szDKMS, sizeof(info.szDKMS), "dkms.example");
    ToField(info.szDTSS, sizeof(info.szDTSS), "dtss.example");
    ToField(info.szDLS, sizeof(info.szDLS), "dls.example");
    info.nOfflinePolicy = 200;
    info.nOnlineControl = 3;
    info.nDocExchangePolicy = 4;
    info.nSpare = 9;
    info.nCountControl = 5;
    info.nTimeSync = 1;
    info.nProtectRemoteTool = 250;
}

void SetAppInfo(CDRMLogin& session, const char* text)
{
    free(session.m_pAppInfo);
    session.m_pAppInfo = nullptr;
    if (text == nullptr)
        return;
    session.m_pAppInfo = static_cast<char*>(malloc(strlen(text) + 1));
    memcpy(session.m_pAppInfo, text, strlen(text) + 1);
}

// The named fields of the CCF that came from the application list.
CcfValues PairFields(const CcfValues& values)
{
    CcfValues pairs;
    for (const auto& entry : values) {
        if (entry.first.rfind("Field.", 0) == 0 && entry.first != "Field.VldocpmiAppList" &&
            entry.first != "Field.sdiapps")
            pairs.insert(entry);
    }
    return pairs;
}

bool AllZero(const void* data, size_t size)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

TEST(FillCCFInfoTest, CopiesTheLoginReplyAndOnlyAnApprovedTakeOut)
{
    for (const int status : {0, 1, 2}) {
        SCOPED_TRACE(status);
        CDRMLogin session;
        LogIn(session);
        std::string longID = "abcdefghijklmnopqrstuvwxyz0123";
        session.SetUserID(Text(longID));
        ToField(session.m_LoginInfo.szCompanyID, 20, "CCCCCCCCCCCCCCCCCCCC"); // full width, no terminator
        ToField(session.m_LoginInfo.szSuperKey, 16, "KKKKKKKKKKKKKKKK");
        session.m_LoginInfo.abAppFlags[9] = 7;
        ToField(session.m_TakeOutRefInfo.szStartDate, 8, "20240301");
        ToField(session.m_TakeOutRefInfo.szEndDate, 8, "20240331");
        session.m_nTakeOutStatus = static_cast<uint8_t>(status);
        memset(&session.m_CCFInfo, 0xCC, sizeof(session.m_CCFInfo));

        DebugCapture capture;
        EXPECT_EQ(session.FillCCFInfo(), 1);
        EXPECT_EQ(capture.Lines(), Lines{"[FillCCFInfo] OfflinePolicy [200]"});

        const CCF_INFO& ccf = session.m_CCFInfo;
        EXPECT_STREQ(ccf.szUserID, "abcdefghijklmnopqrst") << "cut to 20 characters and terminated";
        EXPECT_STREQ(ccf.szCompanyID, "CCCCCCCCCCCCCCCCCCCC");
        EXPECT_STREQ(ccf.szGroupID, "G-reply");
        EXPECT_STREQ(ccf.szPositionID, "P-02");
        EXPECT_STREQ(ccf.szSuperKey, "KKKKKKKKKKKKKKKK");
        EXPECT_EQ(ccf.nOfflinePolicy, 200);
        EXPECT_EQ(ccf.nOnlineControl, 3);
        EXPECT_EQ(ccf.nDocExchangePolicy, 4);
        EXPECT_EQ(ccf.bControlCount, 5);
        EXPECT_EQ(ccf.nSpare, 9);
        EXPECT_STREQ(ccf.szDKMS, "dkms.example");
        EXPECT_STREQ(ccf.szDTSS, "dtss.example");
        EXPECT_STREQ(ccf.szDLS, "dls.example");
        EXPECT_EQ(ccf.abAppFlags[9], 7);
        if (status == 1) {
            EXPECT_EQ(ccf.bTakeOut, 1);
            EXPECT_STREQ(ccf.szTakeOutStart, "20240301");
            EXPECT_STREQ(ccf.szTakeOutEnd, "20240331");
        } else {
            EXPECT_EQ(ccf.bTakeOut, 0);
            EXPECT_TRUE(AllZero(ccf.szTakeOutStart, sizeof(ccf.szTakeOutStart)));
            EXPECT_TRUE(AllZero(ccf.szTakeOutEnd, sizeof(ccf.szTakeOutEnd)));
        }
    }
}

TEST(CreateCCFTest, RoundTripThroughTestCCF)
{
    for (const uint8_t countControl : {uint8_t{0}, uint8_t{1}, uint8_t{0x80}}) {
        SCOPED_TRACE(static_cast<int>(countControl));
        CcfSandbox sandbox;
        sandbox.Store({{"GroupID", "G-from-ccf"}}); // the group comes from the CCF, not the reply
        CDRMLogin session;
        LogIn(session);
        // Every text field at its full width, without terminator.
        std::string userID(20, 'u');
        session.SetUserID(Text(userID));
        LOGIN_INFO& info = session.m_LoginInfo;
        ToField(info.szCompanyID, 20, std::string(20, 'c'));
        ToField(info.szPositionID, 20, std::string(20, 'p'));
        ToField(info.szSuperKey, 16, std::string(16, 'k'));
        ToField(info.szDKMS, 50, std::string(50, 'd'));
        ToField(info.szDTSS, 50, std::string(50, 't'));
        ToField(info.szDLS, 50, std::string(50, 'l'));
        memset(info.abAppFlags, 1, sizeof(info.abAppFlags));
        info.nCountControl = countControl;
        session.m_nTakeOutStatus = 1;
        ToField(session.m_TakeOutRefInfo.szStartDate, 8, "20240301");
        ToField(session.m_TakeOutRefInfo.szEndDate, 8, "20240331");
        SetAppInfo(session, "app.exe|app.dll|");

        session.FillCCFInfo();
        const CCF_INFO written = session.m_CCFInfo;
        EXPECT_EQ(session.CreateCCF(), 1);
        memset(&session.m_CCFInfo, 0xCC, sizeof(session.m_CCFInfo));
        session.TestCCF();

        const CCF_INFO& read = session.m_CCFInfo;
        EXPECT_STREQ(read.szUserID, written.szUserID);
        EXPECT_STREQ(read.szCompanyID, written.szCompanyID);
        EXPECT_STREQ(read.szGroupID, "G-from-ccf");
        EXPECT_STREQ(read.szPositionID, written.szPositionID);
        EXPECT_STREQ(read.szSuperKey, written.szSuperKey);
        EXPECT_EQ(read.nOfflinePolicy, written.nOfflinePolicy);
        EXPECT_EQ(read.nOnlineControl, written.nOnlineControl);
        EXPECT_EQ(read.nDocExchangePolicy, written.nDocExchangePolicy);
        EXPECT_EQ(read.bControlCount, countControl != 0 ? 1 : 0) << "exactly 0 or 1";
        EXPECT_STREQ(read.szDKMS, written.szDKMS);
        EXPECT_STREQ(read.szDTSS, written.szDTSS);
        EXPECT_TRUE(AllZero(read.szDLS, sizeof(read.szDLS)));
        EXPECT_TRUE(AllZero(read.abAppFlags, sizeof(read.abAppFlags)));
        EXPECT_EQ(read.bTakeOut, 0);
        EXPECT_TRUE(AllZero(read.szTakeOutStart, sizeof(read.szTakeOutStart)));
        EXPECT_TRUE(AllZero(read.szTakeOutEnd, sizeof(read.szTakeOutEnd)));
        EXPECT_EQ(read.nSpare, 0);

        // What has no getter is in the file.
        EXPECT_EQ(sandbox.Value("DLSInfo"), std::string(50, 'l'));
        EXPECT_EQ(sandbox.Value("CurrentSiteID"), std::string(20, 'c'));
        EXPECT_EQ(sandbox.Value("TimeSync"), "1");
        EXPECT_EQ(sandbox.Value("ProtectRemoteTool"), "250") << "the byte widened as unsigned";
        EXPECT_EQ(sandbox.Value("Field.app.exe"), std::string("app.dll", 8));
        // Neither the group nor the take-out fields are written by CreateCCF into a CCF of no user.
        EXPECT_EQ(sandbox.Value("GroupID"), "G-from-ccf");
        EXPECT_EQ(sandbox.Value("TakeOutStatus"), "<absent>");
        EXPECT_EQ(sandbox.Value("TakeOutStartDate"), "<absent>");
    }
}

TEST(CreateCCFTest, EachFlagPositionMarksItsOwnKind)
{
    // Kind, place in abAppFlags (1-based), CCF_APP_LIST code.
    const struct
    {
        const char* kind;
        size_t place;
        int code;
    } kinds[] = {
        {"DOC", 1, 2}, {"XLS", 2, 3}, {"PPT", 3, 4}, {"HWP", 4, 5},  {"PDF", 7, 6},
        {"TXT", 6, 7}, {"DWG", 8, 8}, {"GUL", 5, 9}, {"KODAK", 9, 10}, {"MSPAINT", 10, 11},
    };
    const char* logOrder[] = {"DOC", "XLS", "TXT", "PDF", "GUL", "HWP", "PPT", "DWG", "KODAK", "MSPAINT"};
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.kind);
        CcfSandbox sandbox;
        CDRMLogin session;
        LogIn(session);
        session.FillCCFInfo();
        session.m_CCFInfo.abAppFlags[kind.place - 1] = 0x80; // any non-zero byte; logged as signed

        DebugCapture capture;
        session.CreateCCF();

        for (const auto& other : kinds) {
            SCOPED_TRACE(other.kind);
            EXPECT_EQ(sandbox.Value("AutoEncrypt." + std::to_string(other.code)), other.code == kind.code ? "1" : "0");
        }
        std::string expected = "[CreateCCF]";
        for (const char* name : logOrder) {
            if (strcmp(name, "DOC") != 0)
                expected += strcmp(name, "XLS") == 0 ? " " : ", ";
            else
                expected += " ";
            expected += std::string(name) + "[" + (strcmp(name, kind.kind) == 0 ? "-128" : "0") + "]";
        }
        EXPECT_EQ(capture.Lines().back(), expected);
    }
}

TEST(CreateCCFTest, ApplicationLibraryPairs)
{
    const std::string app49(49, 'a'), dll49(49, 'd'), name50(50, 'n'), name300(300, 'x');
    const struct
    {
        const char* name;
        const char* list;
        std::vector<std::pair<std::string, std::string>> pairs;
    } cases[] = {
        {"two pairs", "notepad.exe|np.dll|wordpad.exe|wp.dll|", {{"notepad.exe", "np.dll"}, {"wordpad.exe", "wp.dll"}}},
        {"dangling application", "notepad.exe|np.dll|wordpad.exe|", {{"notepad.exe", "np.dll"}}},
        {"adjacent separators", "||notepad.exe|||np.dll||", {{"notepad.exe", "np.dll"}}},
        {"no final separator", "notepad.exe|np.dll", {{"notepad.exe", "np.dll"}}},
        {"lone application", "notepad.exe", {}},
        {"separators only", "|||", {}},
        {"empty list", "", {}},
        {"null list", nullptr, {}},
    };
    const std::string longApp = name50 + "|long.dll|b.exe|b.dll|";
    const std::string longDll = "a.exe|" + name50 + "|b.exe|b.dll|";
    const std::string veryLong = name300 + "|" + name300 + "|b.exe|b.dll|";
    const std::string longest = app49 + "|" + dll49 + "|";
    const struct
    {
        const char* name;
        std::string list;
        std::vector<std::pair<std::string, std::string>> pairs;
    } longCases[] = {
        {"49 characters fit", longest, {{app49, dll49}}},
        {"application of 50 skipped with its pair", longApp, {{"b.exe", "b.dll"}}},
        {"library of 50 skipped with its pair", longDll, {{"b.exe", "b.dll"}}},
        {"300-character names skipped", veryLong, {{"b.exe", "b.dll"}}},
    };

    auto check = [](const char* list, const std::vector<std::pair<std::string, std::string>>& pairs) {
        CcfSandbox sandbox;
        CDRMLogin session;
        LogIn(session);
        SetAppInfo(session, list);
        const std::string before = list ? list : "";
        session.FillCCFInfo();
        DebugCapture capture;
        EXPECT_EQ(session.CreateCCF(), 1);

        Lines appLines;
        for (const std::string& line : capture.Lines())
            if (line.rfind("[CreateCCF] App", 0) == 0)
                appLines.push_back(line);
        Lines expectedLines;
        CcfValues expectedFields;
        for (const auto& pair : pairs) {
            expectedLines.push_back("[CreateCCF] App : " + pair.first + ", Dll : " + pair.second);
            expectedFields["Field." + pair.first] = pair.second + std::string(1, '\0');
        }
        EXPECT_EQ(appLines, expectedLines);
        EXPECT_EQ(PairFields(sandbox.Values()), expectedFields);
        EXPECT_EQ(capture.Lines().size(), 4 + pairs.size()) << "every other step still ran";
        if (list != nullptr) {
            EXPECT_STREQ(session.m_pAppInfo, before.c_str()) << "the session's list is left as it was";
        }
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        check(c.list, c.pairs);
    }
    for (const auto& c : longCases) {
        SCOPED_TRACE(c.name);
        check(c.list.c_str(), c.pairs);
    }
}

TEST(CreateCCFTest, FixedProgramListsAndDebugLines)
{
    CcfSandbox sandbox;
    CDRMLogin session;
    LogIn(session);
    SetAppInfo(session, "a.exe|a.dll|");
    session.m_LoginInfo.abAppFlags[0] = 1;    // DOC
    session.m_LoginInfo.abAppFlags[9] = 0xFF; // MSPAINT
    DebugCapture capture;
    session.FillCCFInfo();
    EXPECT_EQ(session.CreateCCF(), 1);
    EXPECT_EQ(capture.Lines(),
              (Lines{
                  "[FillCCFInfo] OfflinePolicy [200]",
                  "[CreateCCF] id [alice]",
                  "[CreateCCF] App : a.exe, Dll : a.dll",
                  "[CreateCCF] DLS [dls.example] DTSS[dtss.example] DKMS [dkms.example]",
                  "[CreateCCF] id [alice] OfflinePolicy [200] OnlineControl [3] DocExchangePolicy [4]",
                  "[CreateCCF] DOC[1] XLS[0], TXT[0], PDF[0], GUL[0], HWP[0], PPT[0], DWG[0], KODAK[0], MSPAINT[-1]",
              }));

    const std::string programs =
        "acrodist.exe|bppscheme.exe|bdscheme.exe|dssched.exe|gdidrv.exe|PPCNVCOM.exe|excelcnv.exe|wordconv.exe|"
        "mspaint.exe|acrobat.exe|acrord32.exe|notepad.exe|wordpad.exe|hwp.exe|hwpw.exe|hwpview.exe|";
    ASSERT_EQ(programs.size(), 192u);
    EXPECT_EQ(sandbox.Value("Field.VldocpmiAppList"), programs + std::string(520 - 192, '\0'));
    EXPECT_EQ(sandbox.Value("Field.sdiapps"),
              std::string("wordPAD.exe/mspaint.exe/notepad.exe/kodakimg.exe/wangimg.exe", 61));
    EXPECT_EQ(sandbox.Value("OfflinePolicy"), "200");
    EXPECT_EQ(sandbox.Value("OnlineControl"), "3");
    EXPECT_EQ(sandbox.Value("DocExchangePolicy"), "4");
    EXPECT_EQ(sandbox.Value("ControlCount"), "1");
    EXPECT_EQ(sandbox.Value("UserID"), "alice");
    EXPECT_EQ(sandbox.Value("SuperKey"), "superkey");
}

TEST(CreateCCFTest, DamagedCcfIsReplaced)
{
    CcfSandbox sandbox;
    sandbox.WriteRaw("CORVANE-CCF 1\r\nUserID=mallory\r\nCRC32=00000000\r\n");
    CDRMLogin session;
    LogIn(session);
    session.FillCCFInfo();
    EXPECT_EQ(session.CreateCCF(), 1);
    EXPECT_EQ(sandbox.State(), corvane::CcfState::Valid);
    EXPECT_EQ(sandbox.Value("UserID"), "alice");
}

TEST(TakeOutCCFTest, StateAndDatesAcrossCalls)
{
    CcfSandbox sandbox;
    sandbox.Store({{"UserID", "alice"}});
    CDRMLogin session;
    DebugCapture capture;
    EXPECT_EQ(session.GetTakeOutCCF(), 2) << "no take-out in force in a CCF that holds none";

    std::string start = "20240301", end = "20240331";
    session.SetTakeOutCCF(1, Text(start), Text(end));
    EXPECT_EQ(session.GetTakeOutCCF(), 1);
    EXPECT_EQ(sandbox.Value("TakeOutStartDate"), "20240301");
    EXPECT_EQ(sandbox.Value("TakeOutEndDate"), "20240331");

    session.SetTakeOutCCF(2, nullptr, nullptr);
    EXPECT_EQ(session.GetTakeOutCCF(), 2);
    EXPECT_EQ(sandbox.Value("TakeOutStartDate"), "20240301") << "a null date keeps the stored one";
    EXPECT_EQ(sandbox.Value("TakeOutEndDate"), "20240331");

    const CcfValues before = sandbox.Values();
    session.SetTakeOutCCF(0, nullptr, nullptr);
    EXPECT_EQ(session.GetTakeOutCCF(), 0);
    CcfValues expected = before;
    expected["TakeOutStatus"] = "0";
    EXPECT_EQ(sandbox.Values(), expected) << "only the state changed";

    std::string newEnd = "20240415";
    session.SetTakeOutCCF(1, nullptr, Text(newEnd));
    EXPECT_EQ(sandbox.Value("TakeOutStartDate"), "20240301");
    EXPECT_EQ(sandbox.Value("TakeOutEndDate"), "20240415");
    EXPECT_EQ(sandbox.Value("UserID"), "alice");
    EXPECT_TRUE(capture.Lines().empty()) << "the take-out operations log nothing";
}

TEST(TakeOutCCFTest, ANewUsersCcfCarriesNoTakeOutOfThePreviousUser)
{
    struct Case
    {
        const char* nextUser;
        const char* status;
        const char* start;
    };
    // The same user (in any case) keeps the take-out; another user starts with none.
    for (const Case& row : {Case{"alice", "1", "20240301"}, Case{"ALICE", "1", "20240301"}, Case{"bob", "2", ""}}) {
        SCOPED_TRACE(row.nextUser);
        CcfSandbox sandbox;
        CDRMLogin session;
        LogIn(session);
        ASSERT_EQ(session.FillCCFInfo(), 1);
        ASSERT_EQ(session.CreateCCF(), 1);
        std::string start = "20240301", end = "20240331";
        session.SetTakeOutCCF(1, Text(start), Text(end));

        CDRMLogin next;
        LogIn(next);
        std::string user = row.nextUser;
        next.SetUserID(Text(user));
        ASSERT_EQ(next.FillCCFInfo(), 1);
        ASSERT_EQ(next.CreateCCF(), 1);
        EXPECT_EQ(sandbox.Value("TakeOutStatus"), row.status);
        EXPECT_EQ(sandbox.Value("TakeOutStartDate", ""), row.start);
        EXPECT_EQ(next.GetTakeOutCCF(), row.status[0] - '0');
    }
}

TEST(GetUserIDTest, CopiesAtMostTwentyCharactersAndTheTerminator)
{
    const struct
    {
        const char* name;
        std::string stored;
        std::string expected;
    } cases[] = {
        {"empty CCF", "", ""},
        {"short", "alice", "alice"},
        {"twenty", std::string(20, 'x'), std::string(20, 'x')},
        {"written longer by another writer", std::string(20, 'y') + "OVERRUN-OVERRUN", std::string(20, 'y')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CcfSandbox sandbox;
        if (!c.stored.empty())
            sandbox.Store({{"UserID", c.stored}});
        char buffer[40];
        memset(buffer, '#', sizeof(buffer));
        CDRMLogin session;
        std::string sessionUser = "not-this-one";
        session.SetUserID(Text(sessionUser));
        session.GetUserID(buffer);
        EXPECT_EQ(std::string(buffer), c.expected);
        for (size_t i = c.expected.size() + 1; i < sizeof(buffer); ++i)
            ASSERT_EQ(buffer[i], '#') << "byte " << i << " written";
    }
}

TEST(TestCCFTest, LongValuesAreCutToTheirFieldsAndTerminated)
{
    CcfSandbox sandbox;
    sandbox.Store({{"UserID", std::string(30, 'u')},
                   {"CompanyID", std::string(21, 'c')},
                   {"GroupID", std::string(80, 'g')},
                   {"PositionID", std::string(25, 'p')},
                   {"SuperKey", std::string(17, 'k')},
                   {"DKMSInfo", std::string(60, 'd')},
                   {"DTSSInfo", std::string(51, 't')},
                   {"DLSInfo", "dls"},
                   {"OfflinePolicy", "511"},
                   {"ControlCount", "7"},
                   {"TakeOutStatus", "1"},
                   {"TakeOutStartDate", "20240301"}});
    CDRMLogin session;
    memset(&session.m_LoginInfo, 0x5A, sizeof(session.m_LoginInfo));
    const LOGIN_INFO guard = session.m_LoginInfo;
    session.TestCCF();
    const CCF_INFO& read = session.m_CCFInfo;
    EXPECT_EQ(FieldText(read.szUserID, 21), std::string(20, 'u'));
    EXPECT_EQ(FieldText(read.szCompanyID, 21), std::string(20, 'c'));
    EXPECT_EQ(FieldText(read.szGroupID, 51), std::string(50, 'g'));
    EXPECT_EQ(FieldText(read.szPositionID, 21), std::string(20, 'p'));
    EXPECT_EQ(FieldText(read.szSuperKey, 17), std::string(16, 'k'));
    EXPECT_EQ(FieldText(read.szDKMS, 51), std::string(50, 'd'));
    EXPECT_EQ(FieldText(read.szDTSS, 51), std::string(50, 't'));
    EXPECT_EQ(read.nOfflinePolicy, 255) << "the low byte";
    EXPECT_EQ(read.bControlCount, 1);
    EXPECT_TRUE(AllZero(read.szDLS, sizeof(read.szDLS)));
    EXPECT_EQ(read.bTakeOut, 0);
    EXPECT_TRUE(AllZero(read.szTakeOutStart, sizeof(read.szTakeOutStart)));
    EXPECT_EQ(memcmp(&session.m_LoginInfo, &guard, sizeof(guard)), 0) << "nothing written past m_CCFInfo";
}

TEST(TestCCFTest, DamagedOrMissingCcfGivesAnEmptyRecord)
{
    for (const bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged" : "missing");
        CcfSandbox sandbox;
        if (damaged)
            sandbox.WriteRaw(std::string("\x01\x02garbage", 9));
        CDRMLogin session;
        memset(&session.m_CCFInfo, 0xCC, sizeof(session.m_CCFInfo));
        session.TestCCF();
        EXPECT_TRUE(AllZero(&session.m_CCFInfo, sizeof(session.m_CCFInfo)));
        char userID[21];
        memset(userID, '#', sizeof(userID));
        session.GetUserID(userID);
        EXPECT_STREQ(userID, "");
        EXPECT_EQ(session.GetTakeOutCCF(), 2);
    }
}

} // namespace
