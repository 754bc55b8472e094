// CcfFile.h - the CCF on disk: its location, its text format with integrity check, reading, and the
// locked merge-and-replace write. The format is described in corvane/README.md.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>

namespace corvane {

// The CCF's values by key; values are byte strings (they may hold NUL bytes).
using CcfValues = std::map<std::string, std::string>;

enum class CcfState
{
    Missing,    // no file: an empty CCF
    Valid,      // read and checked
    Damaged,    // present but not a well-formed CCF, or its check value does not match
    Unreadable  // present but could not be read
};

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

// The environment variable that, when set, names the CCF file.
constexpr const wchar_t kPathVariable[] = L"CORVANE_CCF_PATH";
// The largest CCF file read; a longer one counts as damaged.
constexpr size_t kMaxFileSize = 16u * 1024u * 1024u;

// CRC-32 (the IEEE polynomial, as zlib computes it).
uint32_t Crc32(const void* data, size_t length);

// The whole file text for `values`, check line included.
std::string Serialize(const CcfValues& values);
// Parses a whole file text; false (and `values` empty) when it is not a well-formed CCF.
bool Parse(const std::string& text, CcfValues& values);

// The CCF of the current user: CORVANE_CCF_PATH when set, else the profile's local application data
// folder + "\Velmora\Tessaline\Client.ccf". Empty when neither can be found.
std::wstring CcfPath();
// The name of the mutex that guards the file at `path` (the same for every process of the logon).
std::wstring MutexName(const std::wstring& path);

// Reads and checks the file; `values` is empty unless the result is Valid.
CcfState Read(const std::wstring& path, CcfValues& values);
// The same under the file's mutex, so that the read never holds the file open while a writer
// replaces it.
CcfState ReadLocked(const std::wstring& path, CcfValues& values);

// Under the file's mutex: reads the file as it stands, sets every value of `changes` in it, writes a
// temporary file beside it and moves that over the old one; creates the folder when needed. A damaged
// file is replaced; an unreadable one is left alone. True when written.
bool Merge(const std::wstring& path, const CcfValues& changes);

} // namespace corvane
