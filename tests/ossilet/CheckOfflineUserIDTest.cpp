// Ossilet.dll's offline check: every decision with its line, the argument guard, the date rules.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "CcfSandbox.h"
#include "DebugCapture.h"
#include "HelperProcess.h"
#include "LocalDate.h"
#include "OfflineDecision.h"

using namespace vlagt::test;
using Lines = std::vector<std::string>;

namespace {

class CheckOfflineUserIDTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        HMODULE library = LoadLibraryA((ProgramFolder() + "Ossilet.dll").c_str());
        ASSERT_NE(library, nullptr);
        m_check = reinterpret_cast<int(__cdecl*)(const char*)>(
            reinterpret_cast<void*>(GetProcAddress(library, "CheckOfflineUserID")));
        ASSERT_NE(m_check, nullptr);
    }

    // Stores an approved take-out for user01, from yesterday to a month from now, with `changes`.
    static void Store(const CcfSandbox& ccf, const corvane::CcfValues& changes)
    {
        corvane::CcfValues values = {{"UserID", "user01"}, {"TakeOutStatus", "1"},
                                     {"TakeOutStartDate", LocalDate(-1)}, {"TakeOutEndDate", LocalDate(30)}};
        for (const auto& change : changes)
            values[change.first] = change.second;
        ccf.Store(values);
    }

    // The result and the one line of a call.
    std::pair<int, Lines> Check(const char* userID)
    {
        m_capture.Clear();
        const int result = m_check(userID);
        return {result, m_capture.Lines()};
    }

    int(__cdecl* m_check)(const char*) = nullptr;
    DebugCapture m_capture;
};

TEST_F(CheckOfflineUserIDTest, EveryDecisionWithItsLine)
{
    const std::string today = LocalDate(0), tomorrow = LocalDate(1), yesterday = LocalDate(-1);
    const std::string accepted = "accepted: user01 until " + LocalDate(30);
    struct Row
    {
        corvane::CcfValues changes; // over an approved take-out for user01
        std::string userID, line, latestSeenAfter;
    };
    const Row rows[] = {
        {{}, "user01", accepted, today},
        {{{"UserID", "USER01"}}, "User01", "accepted: User01 until " + LocalDate(30), today},
        {{{"TakeOutStartDate", today}, {"TakeOutEndDate", today}}, "user01", "accepted: user01 until " + today, today},
        {{{"UserID", "user02"}}, "user01", "refused: the CCF belongs to another user", "<absent>"},
        {{{"UserID", ""}}, "user01", "refused: the CCF names no user", "<absent>"},
        {{}, "", "refused: empty user ID", "<absent>"},
        {{{"TakeOutStatus", "0"}}, "user01", "refused: take-out not approved", today},
        {{{"TakeOutStartDate", tomorrow}}, "user01", "refused: take-out starts " + tomorrow, today},
        {{{"TakeOutEndDate", yesterday}}, "user01", "refused: take-out ended " + yesterday, today},
        {{{"TakeOutEndDate", "2026-12-31"}}, "user01", "refused: take-out dates malformed", today},
        {{{"TakeOutStartDate", ""}}, "user01", "refused: take-out dates malformed", today},
        {{{"LatestSeenDate", LocalDate(2)}}, "user01", "refused: clock rolled back before " + LocalDate(2), LocalDate(2)},
        {{{"LatestSeenDate", tomorrow}}, "user01", accepted, tomorrow}, // one day behind is tolerated
        {{{"LatestSeenDate", yesterday}}, "user01", accepted, today},
        {{{"LatestSeenDate", "garbage"}}, "user01", accepted, today},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        CcfSandbox ccf;
        Store(ccf, row.changes);
        const auto call = Check(row.userID.c_str());
        EXPECT_EQ(call.first, row.line.rfind("accepted", 0) == 0 ? 1 : 0);
        EXPECT_EQ(call.second, Lines{"[CheckOfflineUserID] " + row.line});
        EXPECT_EQ(ccf.Value("LatestSeenDate"), row.latestSeenAfter);
    }
    CcfSandbox none;
    EXPECT_EQ(Check("user01").second, Lines{"[CheckOfflineUserID] refused: the CCF names no user"});
    EXPECT_EQ(none.State(), corvane::CcfState::Missing) << "a refusal creates no CCF";
}

// The argument is read only where VirtualQuery says it can be: two pages, the second unreadable.
TEST_F(CheckOfflineUserIDTest, Argument_NullUnterminatedAndUnreadableAreRefused)
{
    const size_t page = 4096;
    char* pages = static_cast<char*>(VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old = 0;
    ASSERT_TRUE(pages != nullptr && VirtualProtect(pages + page, page, PAGE_NOACCESS, &old));
    char* const edge = pages + page; // the first unreadable byte
    memset(pages, 'x', page);
    const std::string longest(63, 'L');
    struct Row
    {
        const char* name;
        std::string placed; // copied to end right at the edge; "" passes `argument`
        const char* argument;
        std::string line;
    };
    const Row rows[] = {
        {"null", "", nullptr, "refused: no user ID"},
        {"short ID ending just before unreadable memory", std::string("user01", 7), nullptr,
         "accepted: user01 until " + LocalDate(30)},
        {"63 characters", longest + '\0', nullptr, "accepted: " + longest + " until " + LocalDate(30)},
        {"text running into unreadable memory", "user01", nullptr, "refused: user ID unreadable"},
        {"pointer to unreadable memory", "", edge, "refused: user ID unreadable"},
        {"64 characters without a terminator", "", pages, "refused: user ID longer than 63 characters"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CcfSandbox ccf;
        Store(ccf, {{"UserID", row.placed.size() > 10 ? longest : "user01"}});
        const char* argument = row.argument;
        if (!row.placed.empty())
            argument = static_cast<const char*>(memcpy(edge - row.placed.size(), row.placed.data(), row.placed.size()));
        EXPECT_EQ(Check(argument).second, Lines{"[CheckOfflineUserID] " + row.line});
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST(OfflineDecisionTest, ParseDate_OnlyRealCalendarDays)
{
    for (const char* valid : {"20240229", "20000229", "20261231", "16010101", "99991231"})
        EXPECT_TRUE(ossilet::ParseDate(valid, nullptr)) << valid;
    for (const char* invalid : {"20230229", "21000229", "20261301", "20260001", "20260100", "2026123", "202612310",
                                "2026 231", "16001231", ""})
        EXPECT_FALSE(ossilet::ParseDate(invalid, nullptr)) << invalid;
    long before = 0, after = 0;
    ASSERT_TRUE(ossilet::ParseDate("20240228", &before) && ossilet::ParseDate("20240301", &after));
    EXPECT_EQ(after - before, 2) << "a leap day lies between";
}

} // namespace
