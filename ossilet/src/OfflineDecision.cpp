#include "OfflineDecision.h"

#include <stdio.h>
#include <string.h>

namespace ossilet {

namespace {

constexpr char kPrefix[] = "[CheckOfflineUserID] ";

bool IsLeapYear(long year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(long year, int month)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a valid civil date (proleptic Gregorian calendar).
long DaysFromCivil(long year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const long yearOfEra = year - era * 400;
    const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

OfflineDecision Refuse(const char* reason, const char* detail = nullptr)
{
    OfflineDecision decision;
    snprintf(decision.line, sizeof(decision.line), "%srefused: %s%s%s", kPrefix, reason,
             detail != nullptr ? " " : "", detail != nullptr ? detail : "");
    return decision;
}

} // namespace

bool ParseDate(const char* text, long* day)
{
    if (text == nullptr || strnlen(text, 9) != 8)
        return false;
    for (int i = 0; i < 8; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    const long year = (text[0] - '0') * 1000L + (text[1] - '0') * 100L + (text[2] - '0') * 10L + (text[3] - '0');
    const int month = (text[4] - '0') * 10 + (text[5] - '0');
    const int dayOfMonth = (text[6] - '0') * 10 + (text[7] - '0');
    if (year < 1601 || month < 1 || month > 12 || dayOfMonth < 1 || dayOfMonth > DaysInMonth(year, month))
        return false;
    if (day != nullptr)
        *day = DaysFromCivil(year, month, dayOfMonth);
    return true;
}

bool SameUserID(const char* left, const char* right)
{
    for (size_t i = 0;; ++i) {
        if (Lower(left[i]) != Lower(right[i]))
            return false;
        if (left[i] == '\0')
            return true;
    }
}

OfflineDecision Decide(const OfflineFacts& facts)
{
    if (facts.userID[0] == '\0')
        return Refuse("empty user ID");
    if (facts.ccfUserID[0] == '\0')
        return Refuse("the CCF names no user");
    if (!SameUserID(facts.userID, facts.ccfUserID))
        return Refuse("the CCF belongs to another user");

    long today = 0;
    if (!ParseDate(facts.today, &today))
        return Refuse("today's date is unreadable");
    long latest = 0;
    const bool haveLatest = ParseDate(facts.latestSeen, &latest);
    if (haveLatest && today < latest - kClockSlackDays)
        return Refuse("clock rolled back before", facts.latestSeen);

    OfflineDecision decision;
    const bool recordToday = !haveLatest || today > latest;
    long start = 0, end = 0;
    if (facts.takeOutStatus != kTakeOutApproved)
        decision = Refuse("take-out not approved");
    else if (!ParseDate(facts.startDate, &start) || !ParseDate(facts.endDate, &end))
        decision = Refuse("take-out dates malformed");
    else if (today < start)
        decision = Refuse("take-out starts", facts.startDate);
    else if (today > end)
        decision = Refuse("take-out ended", facts.endDate);
    else {
        decision.accepted = true;
        snprintf(decision.line, sizeof(decision.line), "%saccepted: %s until %s", kPrefix, facts.userID,
                 facts.endDate);
    }
    decision.recordToday = recordToday;
    return decision;
}

} // namespace ossilet
