// PolicyTypes.h - the directory's values as the store hands them out and the replies carry them.
#pragma once

#include <stdint.h>

#include <string>

#include "VLAgtClient.h"

namespace vlpolicy {

// Everything a login reply tells about a user: directory entries, the company's keys and servers,
// the policy set and the application list ("app|library|app|library|").
struct UserPolicy
{
    std::string userID;
    std::string groupID;
    std::string positionID;
    std::string companyID;
    std::string superKey;
    uint8_t nOfflinePolicy = 0;
    uint8_t nOnlineControl = 0;
    uint8_t nDocExchangePolicy = 0;
    uint8_t nCountControl = 0;
    uint8_t nTimeSync = 0;
    uint8_t nProtectRemoteTool = 0;
    std::string dkms;
    std::string dtss;
    std::string dls;
    uint8_t abAppFlags[APP_FLAG_COUNT] = {}; // by APP_FLAG_* place
    std::string appList;
};

// Take-out states as the store keeps them; the first four are the values a reference reports.
enum TakeOutState : int32_t
{
    TAKEOUT_REQUESTED = 0,
    TAKEOUT_APPROVED = 1,
    TAKEOUT_REFUSED = 3,
    TAKEOUT_CANCELLED = 4,
    TAKEOUT_DELETED = 5
};

// "requested", "approved", "refused", "cancelled", "deleted".
const char* TakeOutStateName(int32_t state);

struct TakeOutRequest
{
    std::string key;
    std::string userID;
    int32_t state = TAKEOUT_REQUESTED;
    std::string reason;
    std::string requestedStart; // YYYYMMDD
    std::string requestedEnd;
    std::string approvedStart;  // empty unless approved
    std::string approvedEnd;
    std::string updatedAt;      // ISO 8601, UTC
};

struct DocLevelEntry
{
    int32_t nLevel = 0;
    std::string name;
};

} // namespace vlpolicy
