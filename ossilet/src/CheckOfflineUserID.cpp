// CheckOfflineUserID: the offline check, over the current Windows user's CCF and the local date.
#include "Ossilet.h"

#include <stdio.h>

#include "Corvane.h"
#include "OfflineDecision.h"
#include "UserIDArgument.h"
#include "common/DebugLog.h"
#include "common/WinApi.h"

namespace {

const char* ArgumentRefusal(ossilet::ArgumentState state)
{
    switch (state) {
    case ossilet::ArgumentState::Null:
        return "[CheckOfflineUserID] refused: no user ID";
    case ossilet::ArgumentState::Unreadable:
        return "[CheckOfflineUserID] refused: user ID unreadable";
    case ossilet::ArgumentState::Unterminated:
        return "[CheckOfflineUserID] refused: user ID longer than 63 characters";
    case ossilet::ArgumentState::Read:
        break;
    }
    return nullptr;
}

} // namespace

extern "C" int __cdecl CheckOfflineUserID(const char* userID)
{
    char id[ossilet::kUserIDSize] = {};
    const ossilet::ArgumentState state = ossilet::ReadUserIDArgument(userID, id);
    if (state != ossilet::ArgumentState::Read) {
        DebugLog("%s", ArgumentRefusal(state));
        return 0;
    }

    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char today[16] = {};
    snprintf(today, sizeof(today), "%04u%02u%02u", now.wYear, now.wMonth, now.wDay);

    CCCF ccf;
    ccf.CheckCCFValidity();
    ossilet::OfflineFacts facts;
    facts.userID = id;
    facts.ccfUserID = ccf.GetUserID();
    facts.takeOutStatus = static_cast<int>(ccf.GetTakeOutStatus());
    facts.startDate = ccf.GetTakeOutStartDate();
    facts.endDate = ccf.GetTakeOutEndDate();
    facts.latestSeen = ccf.GetLatestSeenDate();
    facts.today = today;
    const ossilet::OfflineDecision decision = ossilet::Decide(facts);
    if (decision.recordToday)
        ccf.SetLatestSeenDate(today);
    DebugLog("%s", decision.line);
    return decision.accepted ? 1 : 0;
}
