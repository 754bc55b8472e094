// CcfFormat.h - the CCF's text format apart from the file: its values, their keys, the check value,
// writing a whole file text and parsing one. Pure functions; no Windows header. The format is
// described in corvane/README.md.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>

namespace corvane {

// The CCF's values by key; values are byte strings (they may hold NUL bytes).
using CcfValues = std::map<std::string, std::string>;

// Keys of the values the CCCF setters store.
namespace key {
constexpr const char kUserID[] = "UserID";
constexpr const char kCompanyID[] = "CompanyID";
constexpr const char kGroupID[] = "GroupID";
constexpr const char kPositionID[] = "PositionID";
constexpr const char kSuperKey[] = "SuperKey";
constexpr const char kDKMSInfo[] = "DKMSInfo";
constexpr const char kDTSSInfo[] = "DTSSInfo";
constexpr const char kDLSInfo[] = "DLSInfo";
constexpr const char kTakeOutStartDate[] = "TakeOutStartDate";
constexpr const char kTakeOutEndDate[] = "TakeOutEndDate";
constexpr const char kLatestSeenDate[] = "LatestSeenDate";
constexpr const char kCurrentSiteID[] = "CurrentSiteID";
constexpr const char kOfflinePolicy[] = "OfflinePolicy";
constexpr const char kOnlineControl[] = "OnlineControl";
constexpr const char kDocExchangePolicy[] = "DocExchangePolicy";
constexpr const char kTakeOutStatus[] = "TakeOutStatus";
constexpr const char kControlCount[] = "ControlCount";
constexpr const char kTimeSync[] = "TimeSync";
constexpr const char kProtectRemoteTool[] = "ProtectRemoteTool";
// "AutoEncrypt.<code>" holds "1" or "0"; "Field.<name>" a named field, name in UTF-8.
constexpr const char kAutoEncryptPrefix[] = "AutoEncrypt.";
constexpr const char kFieldPrefix[] = "Field.";
} // namespace key

// The largest CCF file read; a longer one counts as damaged.
constexpr size_t kMaxFileSize = 16u * 1024u * 1024u;

// CRC-32 (the IEEE polynomial, as zlib computes it).
uint32_t Crc32(const void* data, size_t length);

// The whole file text for `values`, check line included.
std::string Serialize(const CcfValues& values);
// Parses a whole file text; false (and `values` empty) when it is not a well-formed CCF.
bool Parse(const std::string& text, CcfValues& values);

} // namespace corvane
