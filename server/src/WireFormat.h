// WireFormat.h - the agent's exchanges as bytes: decoding of binary requests and login forms, and
// encoding of every reply. Pure functions over byte ranges; no I/O, no store, no HTTP library.
//
// A binary request is one fixed-size record that begins with its 11-byte signal tag. A binary
// reply is five ASCII digits of status and, on 40000, the reply record of the request's kind,
// zero-filled, integers little-endian. The ping is answered by the 11-byte pong alone.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "PolicyTypes.h"

namespace vlpolicy {

constexpr int kStatusOk = 40000;
constexpr int kStatusBadLogin = 41001;  // unknown user or wrong password, the same for both
constexpr int kStatusLocked = 41002;    // too many failed logins in a row
constexpr int kStatusMalformed = 42000; // the request cannot be read
constexpr int kStatusStoreFailed = 43000; // the store could not answer (disk, lock time-out)
constexpr int kStatusNotFound = 45005;  // no such take-out (or no ACL data for user and level)

constexpr size_t kMaxBodySize = 64 * 1024;

constexpr char kSiteCode[] = "kesmor";
constexpr char kPingRequest[] = "_%REQ_PNG%_";
constexpr char kPingReply[] = "_%RES_PNG%_";

enum class RequestKind
{
    Login,
    TakeOut,
    Reference,
    Edit,
    Delete,
    Acl,
    LevelList,
    Ping
};

// The name of a kind in log lines: "login", "takeout", "reference", "edit", "delete", "acl",
// "levels", "ping".
const char* RequestKindName(RequestKind kind);

// What a binary request carries. Text fields are cut at their first zero byte.
struct DecodedRequest
{
    RequestKind kind = RequestKind::Ping;
    std::string userID;     // login and ACL: the user; take-out and edit: the 20 reserved bytes
    std::string password;   // login
    std::string takeOutKey; // reference and delete
    std::string reason;     // take-out and edit
    std::string startDate;  // take-out and edit, YYYYMMDD
    std::string endDate;
    int32_t docLevel = 0;   // ACL
};

// True when the body begins with one of the request signal tags.
bool StartsWithSignalTag(const char* body, size_t size);

// Decodes one binary request body. Returns true and fills out when the body is a well-formed
// record: a known tag, the exact length of its record, the site code "kesmor" in a login, valid
// dates (start not after end) in a take-out request or edit. Otherwise false (status 42000).
bool DecodeRequest(const char* body, size_t size, DecodedRequest& out);

// True when text is 8 digits forming a calendar date YYYYMMDD (years 1900-9999).
bool IsValidDate(const std::string& text);

// Decodes an application/x-www-form-urlencoded body into its fields in order: '&' separates
// fields, the first '=' a name from its value, '+' stands for a blank and %XX for a byte. Returns
// false when an escape is malformed or a field has no name.
bool DecodeForm(const char* body, size_t size, std::vector<std::pair<std::string, std::string>>& fields);

// The value of the first field of that name, or nullptr.
const std::string* FindFormField(const std::vector<std::pair<std::string, std::string>>& fields,
                                 const std::string& name);

// A refusal: the five status digits alone.
std::string EncodeStatus(int status);
// 40000, the 304-byte login reply body, then the application list.
std::string EncodeLoginReply(const UserPolicy& policy);
// 40000 and an 85-byte take-out message (reply to take-out request, edit and delete).
std::string EncodeTakeOutMsgReply(const std::string& key, int32_t status);
// 40000 and a 373-byte take-out record (reply to a reference).
std::string EncodeTakeOutInfoReply(const TakeOutRequest& request);
// 40000, the tag and the 42 bytes of ACL data.
std::string EncodeAclReply(const std::string& aclData);
// 40000, the tag and the 241-byte level list (at most 10 entries).
std::string EncodeLevelListReply(const std::vector<DocLevelEntry>& levels);

// The web login's reply page: <Result>status</Result> and, on 40000, the user's policy values, for
// the agent; before them the outcome in words for a person (on 41002 with lockedUntil, the time
// the lock ends). The words are escaped, so they never hold a tag the agent looks for.
std::string EncodeWebLoginPage(int status, const UserPolicy* policy, const std::string& lockedUntil = "");

// text with &, <, >, " and ' written as character references: safe in HTML text and attributes.
std::string HtmlEscape(const std::string& text);

// A text made safe for one log line: bytes outside printable ASCII become '?'.
std::string Printable(const std::string& text);

} // namespace vlpolicy
