// OfflineDecision.h - the decision of the offline check, as pure functions over their inputs: no
// Win32 call, no file, no clock. The library gathers the facts (the caller's ID, the CCF's values,
// today's local date) and acts on the decision; these functions can be built and exercised natively.
#pragma once

#include <stddef.h>

namespace ossilet {

// The facts one decision is made from. Texts are terminated; none is null.
struct OfflineFacts
{
    const char* userID;       // the caller's ID, at most 63 characters
    const char* ccfUserID;    // the user the CCF belongs to ("" when the CCF names nobody)
    int takeOutStatus;        // the CCF's take-out state; 1 is approved
    const char* startDate;    // the approved period, "YYYYMMDD", as the CCF holds them
    const char* endDate;
    const char* latestSeen;   // the latest local date a check has seen, "YYYYMMDD" or ""
    const char* today;        // today's local date, "YYYYMMDD"
};

struct OfflineDecision
{
    bool accepted = false;
    bool recordToday = false; // store `today` as the latest date seen
    char line[192] = {};      // the debug line that says why
};

// The take-out state that allows working offline.
constexpr int kTakeOutApproved = 1;
// How far the clock may stand behind the latest date seen (time zones, a clock set by hand).
constexpr long kClockSlackDays = 1;

// The day number (days since 1970-01-01) of a "YYYYMMDD" text: exactly eight digits naming a real
// calendar day of the years 1601 to 9999. False for anything else.
bool ParseDate(const char* text, long* day);

// True when the two IDs are equal, ASCII letters compared without regard to case.
bool SameUserID(const char* left, const char* right);

// The decision, in this order: an empty ID, a CCF of nobody or of another user, a clock rolled back
// (more than one day behind the latest date seen), a take-out not approved, malformed dates, today
// before the start, after the end; else accepted. The latest date seen is raised to today
// whenever the CCF belongs to the user and the clock is not rolled back; a malformed stored value
// counts as none.
OfflineDecision Decide(const OfflineFacts& facts);

} // namespace ossilet
