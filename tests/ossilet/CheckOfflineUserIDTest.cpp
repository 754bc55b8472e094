// Ossilet.dll's offline check: every decision, the argument guard, and the date rules underneath.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "CcfSandbox.h"
#include "DebugCapture.h"
#include "HelperProcess.h"
#include "OfflineDecision.h"
#include "common/WinApi.h"

using namespace vlagt::test;
using Lines = std::vector<std::string>;

namespace {

using CheckFn = int(__cdecl*)(const char*);

// Today's local date moved by `days`, as "YYYYMMDD".
std::string LocalDate(int days)
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    now.wHour = 12; // away from midnight, so adding whole days never skips one
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

class CheckOfflineUserIDTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_library = LoadLibraryA((ProgramFolder() + "Ossilet.dll").c_str());
        s_check = s_library ? reinterpret_cast<CheckFn>(reinterpret_cast<void*>(
                                  GetProcAddress(s_library, "CheckOfflineUserID")))
                            : nullptr;
    }

    void SetUp() override { ASSERT_NE(s_check, nullptr) << "Ossilet.dll or its export is missing"; }

    // An approved take-out for user01 from yesterday to a month from now.
    corvane::CcfValues Approved() const
    {
        return {{"UserID", "user01"}, {"TakeOutStatus", "1"}, {"TakeOutStartDate", LocalDate(-1)},
                {"TakeOutEndDate", LocalDate(30)}};
    }

    int Check(const char* userID)
    {
        m_capture.Clear();
        return s_check(userID);
    }

    static HMODULE s_library;
    static CheckFn s_check;
    CcfSandbox m_ccf;
    DebugCapture m_capture;
};

HMODULE CheckOfflineUserIDTest::s_library = nullptr;
CheckFn CheckOfflineUserIDTest::s_check = nullptr;

TEST_F(CheckOfflineUserIDTest, EveryDecisionWithItsLine)
{
    const std::string today = LocalDate(0), tomorrow = LocalDate(1), yesterday = LocalDate(-1);
    const std::string month = LocalDate(30);
    struct Row
    {
        const char* name;
        corvane::CcfValues changes; // over an approved take-out; a value "" removes nothing, it stores ""
        std::string userID;
        int result;
        std::string line;
        std::string latestSeenAfter;
    };
    const Row rows[] = {
        {"accepted", {}, "user01", 1, "[CheckOfflineUserID] accepted: user01 until " + month, today},
        {"user IDs compared without case", {{"UserID", "USER01"}}, "User01", 1,
         "[CheckOfflineUserID] accepted: User01 until " + month, today},
        {"start and end days included", {{"TakeOutStartDate", today}, {"TakeOutEndDate", today}}, "user01", 1,
         "[CheckOfflineUserID] accepted: user01 until " + today, today},
        {"wrong user", {{"UserID", "user02"}}, "user01", 0,
         "[CheckOfflineUserID] refused: the CCF belongs to another user", "<absent>"},
        {"CCF of nobody", {{"UserID", ""}}, "user01", 0, "[CheckOfflineUserID] refused: the CCF names no user",
         "<absent>"},
        {"empty ID", {}, "", 0, "[CheckOfflineUserID] refused: empty user ID", "<absent>"},
        {"requested, not approved", {{"TakeOutStatus", "0"}}, "user01", 0,
         "[CheckOfflineUserID] refused: take-out not approved", today},
        {"refused take-out", {{"TakeOutStatus", "2"}}, "user01", 0,
         "[CheckOfflineUserID] refused: take-out not approved", today},
        {"before the start", {{"TakeOutStartDate", tomorrow}}, "user01", 0,
         "[CheckOfflineUserID] refused: take-out starts " + tomorrow, today},
        {"after the end", {{"TakeOutEndDate", yesterday}}, "user01", 0,
         "[CheckOfflineUserID] refused: take-out ended " + yesterday, today},
        {"end date not a date", {{"TakeOutEndDate", "2026-12-31"}}, "user01", 0,
         "[CheckOfflineUserID] refused: take-out dates malformed", today},
        {"start date missing", {{"TakeOutStartDate", ""}}, "user01", 0,
         "[CheckOfflineUserID] refused: take-out dates malformed", today},
        {"no such day", {{"TakeOutEndDate", "20270230"}}, "user01", 0,
         "[CheckOfflineUserID] refused: take-out dates malformed", today},
        {"clock rolled back", {{"LatestSeenDate", LocalDate(2)}}, "user01", 0,
         "[CheckOfflineUserID] refused: clock rolled back before " + LocalDate(2), LocalDate(2)},
        {"clock one day behind is tolerated", {{"LatestSeenDate", tomorrow}}, "user01", 1,
         "[CheckOfflineUserID] accepted: user01 until " + month, tomorrow},
        {"latest date seen is raised", {{"LatestSeenDate", yesterday}}, "user01", 1,
         "[CheckOfflineUserID] accepted: user01 until " + month, today},
        {"a malformed latest date counts as none", {{"LatestSeenDate", "garbage"}}, "user01", 1,
         "[CheckOfflineUserID] accepted: user01 until " + month, today},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CcfSandbox ccf;
        corvane::CcfValues values = Approved();
        for (const auto& change : row.changes)
            values[change.first] = change.second;
        ccf.Store(values);

        EXPECT_EQ(Check(row.userID.c_str()), row.result);
        EXPECT_EQ(m_capture.Lines(), Lines{row.line});
        EXPECT_EQ(ccf.Value("LatestSeenDate"), row.latestSeenAfter);
    }
}

TEST_F(CheckOfflineUserIDTest, NoCCF_RefusesAndCreatesNone)
{
    EXPECT_EQ(Check("user01"), 0);
    EXPECT_EQ(m_capture.Lines(), Lines{"[CheckOfflineUserID] refused: the CCF names no user"});
    EXPECT_EQ(m_ccf.State(), corvane::CcfState::Missing);
}

// The argument is read only where VirtualQuery says it can be: two pages, the second unreadable.
TEST_F(CheckOfflineUserIDTest, Argument_NullUnterminatedAndUnreadableAreRefused)
{
    SYSTEM_INFO system = {};
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    char* pages = static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_NOACCESS, &old));
    char* const edge = pages + page; // the first unreadable byte
    memset(pages, 'x', page);

    const std::string longest(63, 'L');
    m_ccf.Store(Approved());
    struct Row
    {
        const char* name;
        const char* argument;
        std::string placed; // copied so that it ends right at the edge
        std::string ccfUser;
        int result;
        std::string line;
    };
    const Row rows[] = {
        {"null", nullptr, "", "user01", 0, "[CheckOfflineUserID] refused: no user ID"},
        {"short ID ending just before unreadable memory", nullptr, std::string("user01", 7), "user01", 1,
         "[CheckOfflineUserID] accepted: user01 until " + LocalDate(30)},
        {"text running into unreadable memory", nullptr, "user01", "user01", 0,
         "[CheckOfflineUserID] refused: user ID unreadable"},
        {"pointer into unreadable memory", edge, "", "user01", 0, "[CheckOfflineUserID] refused: user ID unreadable"},
        {"63 characters", nullptr, longest + '\0', longest, 1,
         "[CheckOfflineUserID] accepted: " + longest + " until " + LocalDate(30)},
        {"64 characters without a terminator", edge - page, "", "user01", 0,
         "[CheckOfflineUserID] refused: user ID longer than 63 characters"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_ccf.Store({{"UserID", row.ccfUser}});
        const char* argument = row.argument;
        if (!row.placed.empty()) {
            memcpy(edge - row.placed.size(), row.placed.data(), row.placed.size());
            argument = edge - row.placed.size();
        }
        EXPECT_EQ(Check(argument), row.result);
        EXPECT_EQ(m_capture.Lines(), Lines{row.line});
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

// The date rules the decision stands on, called directly.
TEST(OfflineDecisionTest, ParseDate_OnlyRealCalendarDays)
{
    struct Row
    {
        const char* text;
        bool valid;
    };
    const Row rows[] = {
        {"20240229", true},  {"20230229", false}, {"21000229", false}, {"20000229", true}, {"20261231", true},
        {"20261301", false}, {"20260001", false}, {"20260100", false}, {"2026123", false}, {"202612310", false},
        {"2026 231", false}, {"16001231", false}, {"16010101", true},  {"99991231", true}, {"", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ossilet::ParseDate(row.text, nullptr), row.valid);
    }
    long first = 0, second = 0;
    ASSERT_TRUE(ossilet::ParseDate("20240228", &first));
    ASSERT_TRUE(ossilet::ParseDate("20240301", &second));
    EXPECT_EQ(second - first, 2) << "a leap day lies between";
    ASSERT_TRUE(ossilet::ParseDate("19700101", &first));
    EXPECT_EQ(first, 0);
}

} // namespace
