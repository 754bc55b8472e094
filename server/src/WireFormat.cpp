#include "WireFormat.h"

#include <string.h>

#include <algorithm>
#include <type_traits>

namespace vlpolicy {

namespace {

constexpr char kTagLogin[] = "_%REQ_LIN%_";
constexpr char kTagTakeOut[] = "_%REQ_OUT%_";
constexpr char kTagReference[] = "_%REQ_REF%_";
constexpr char kTagEdit[] = "_%REQ_EDT%_";
constexpr char kTagDelete[] = "_%REQ_DEL%_";
constexpr char kTagAcl[] = "_%REQ_ACL%_";
constexpr char kTagLevels[] = "_%REQ_LVL%_";

// Reply records carry the answer's own tag.
constexpr char kReplyLogin[] = "_%RES_LIN%_";
constexpr char kReplyTakeOut[] = "_%RES_OUT%_";
constexpr char kReplyReference[] = "_%RES_REF%_";
constexpr char kReplyAcl[] = "_%RES_ACL%_";
constexpr char kReplyLevels[] = "_%RES_LVL%_";

static_assert(sizeof(kTagLogin) - 1 == VLAGT_SIGNAL_LEN, "signal tags are 11 bytes");

struct TagEntry
{
    const char* tag;
    RequestKind kind;
    size_t size;
};

constexpr TagEntry kTags[] = {
    {kTagLogin, RequestKind::Login, sizeof(LOGIN_REQ)},
    {kTagTakeOut, RequestKind::TakeOut, sizeof(TAKEOUT_INFO)},
    {kTagReference, RequestKind::Reference, sizeof(TAKEOUT_MSG)},
    {kTagEdit, RequestKind::Edit, sizeof(TAKEOUT_INFO)},
    {kTagDelete, RequestKind::Delete, sizeof(TAKEOUT_MSG)},
    {kTagAcl, RequestKind::Acl, sizeof(ACL_REQ)},
    {kTagLevels, RequestKind::LevelList, VLAGT_SIGNAL_LEN},
    {kPingRequest, RequestKind::Ping, VLAGT_SIGNAL_LEN},
};

// A zero-filled field's text: up to its first zero byte.
std::string FieldText(const void* field, size_t width)
{
    const char* text = static_cast<const char*>(field);
    const void* zero = memchr(text, 0, width);
    return std::string(text, zero ? static_cast<const char*>(zero) - text : width);
}

// Copies at most width bytes of text into a zero-filled field.
void PutField(void* field, size_t width, const std::string& text)
{
    memcpy(field, text.data(), std::min(width, text.size()));
}

void PutTag(char (&signal)[VLAGT_SIGNAL_LEN], const char* tag)
{
    memcpy(signal, tag, VLAGT_SIGNAL_LEN);
}

void PutInt32(int32_t& field, int32_t value)
{
    const uint32_t bits = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
                              static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
    memcpy(&field, bytes, sizeof(bytes));
}

int32_t GetInt32(const void* field)
{
    uint8_t bytes[4];
    memcpy(bytes, field, sizeof(bytes));
    return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                                static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24);
}

template <typename Record>
std::string Success(const Record& record)
{
    static_assert(std::is_trivially_copyable<Record>::value, "records are plain bytes");
    std::string body = EncodeStatus(kStatusOk);
    body.append(reinterpret_cast<const char*>(&record), sizeof(record));
    return body;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool DecodeFormPart(const char* text, size_t size, std::string& out)
{
    out.clear();
    for (size_t i = 0; i < size; ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (text[i] == '%') {
            if (size - i < 3)
                return false;
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return true;
}

} // namespace

const char* RequestKindName(RequestKind kind)
{
    switch (kind) {
    case RequestKind::Login: return "login";
    case RequestKind::TakeOut: return "takeout";
    case RequestKind::Reference: return "reference";
    case RequestKind::Edit: return "edit";
    case RequestKind::Delete: return "delete";
    case RequestKind::Acl: return "acl";
    case RequestKind::LevelList: return "levels";
    case RequestKind::Ping: return "ping";
    }
    return "unknown";
}

const char* TakeOutStateName(int32_t state)
{
    switch (state) {
    case TAKEOUT_REQUESTED: return "requested";
    case TAKEOUT_APPROVED: return "approved";
    case TAKEOUT_REFUSED: return "refused";
    case TAKEOUT_CANCELLED: return "cancelled";
    case TAKEOUT_DELETED: return "deleted";
    }
    return "unknown";
}

bool IsValidDate(const std::string& text)
{
    if (text.size() != 8 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int year = std::stoi(text.substr(0, 4));
    const int month = std::stoi(text.substr(4, 2));
    const int day = std::stoi(text.substr(6, 2));
    if (year < 1900 || month < 1 || month > 12 || day < 1)
        return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

bool StartsWithSignalTag(const char* body, size_t size)
{
    if (body == nullptr || size < VLAGT_SIGNAL_LEN)
        return false;
    for (const TagEntry& candidate : kTags) {
        if (memcmp(body, candidate.tag, VLAGT_SIGNAL_LEN) == 0)
            return true;
    }
    return false;
}

bool DecodeRequest(const char* body, size_t size, DecodedRequest& out)
{
    if (body == nullptr || size < VLAGT_SIGNAL_LEN)
        return false;
    const TagEntry* entry = nullptr;
    for (const TagEntry& candidate : kTags) {
        if (memcmp(body, candidate.tag, VLAGT_SIGNAL_LEN) == 0)
            entry = &candidate;
    }
    if (entry == nullptr || size != entry->size)
        return false;

    DecodedRequest request;
    request.kind = entry->kind;
    switch (entry->kind) {
    case RequestKind::Login: {
        LOGIN_REQ record;
        memcpy(&record, body, sizeof(record));
        if (memcmp(record.szSiteCode, kSiteCode, sizeof(record.szSiteCode)) != 0)
            return false;
        request.userID = FieldText(record.szUserID, sizeof(record.szUserID));
        request.password = FieldText(record.szUserPW, sizeof(record.szUserPW));
        break;
    }
    case RequestKind::TakeOut:
    case RequestKind::Edit: {
        TAKEOUT_INFO record;
        memcpy(&record, body, sizeof(record));
        request.userID = FieldText(record.abReserved1, sizeof(record.abReserved1));
        // Reserved bytes that are not all zero must name a user.
        const bool named = std::any_of(record.abReserved1, record.abReserved1 + sizeof(record.abReserved1),
                                       [](uint8_t b) { return b != 0; });
        if (named && request.userID.empty())
            return false;
        request.reason = FieldText(record.szText, sizeof(record.szText));
        request.startDate = FieldText(record.szStartDate, sizeof(record.szStartDate));
        request.endDate = FieldText(record.szEndDate, sizeof(record.szEndDate));
        if (!IsValidDate(request.startDate) || !IsValidDate(request.endDate) || request.startDate > request.endDate)
            return false;
        break;
    }
    case RequestKind::Reference:
    case RequestKind::Delete: {
        TAKEOUT_MSG record;
        memcpy(&record, body, sizeof(record));
        request.takeOutKey = FieldText(record.szTakeOutKey, sizeof(record.szTakeOutKey));
        break;
    }
    case RequestKind::Acl: {
        ACL_REQ record;
        memcpy(&record, body, sizeof(record));
        request.userID = FieldText(record.szUserID, sizeof(record.szUserID));
        request.docLevel = GetInt32(body + offsetof(ACL_REQ, nDocLevel));
        break;
    }
    case RequestKind::LevelList:
    case RequestKind::Ping:
        break;
    }
    out = std::move(request);
    return true;
}

bool DecodeForm(const char* body, size_t size, std::vector<std::pair<std::string, std::string>>& fields)
{
    std::vector<std::pair<std::string, std::string>> decoded;
    size_t begin = 0;
    while (body != nullptr && begin <= size) {
        const char* amp = static_cast<const char*>(memchr(body + begin, '&', size - begin));
        const size_t end = amp ? static_cast<size_t>(amp - body) : size;
        if (end > begin) {
            const char* part = body + begin;
            const size_t length = end - begin;
            const char* equals = static_cast<const char*>(memchr(part, '=', length));
            const size_t nameLength = equals ? static_cast<size_t>(equals - part) : length;
            std::pair<std::string, std::string> field;
            if (nameLength == 0 || !DecodeFormPart(part, nameLength, field.first))
                return false;
            if (equals && !DecodeFormPart(equals + 1, length - nameLength - 1, field.second))
                return false;
            decoded.push_back(std::move(field));
        }
        if (amp == nullptr)
            break;
        begin = end + 1;
    }
    fields = std::move(decoded);
    return true;
}

const std::string* FindFormField(const std::vector<std::pair<std::string, std::string>>& fields,
                                 const std::string& name)
{
    for (const auto& field : fields) {
        if (field.first == name)
            return &field.second;
    }
    return nullptr;
}

std::string EncodeStatus(int status)
{
    char digits[16];
    snprintf(digits, sizeof(digits), "%05d", status % 100000);
    return std::string(digits, 5);
}

std::string EncodeLoginReply(const UserPolicy& policy)
{
    LOGIN_INFO info;
    memset(&info, 0, sizeof(info));
    PutTag(info.szSignal, kReplyLogin);
    PutField(info.szGroupID, sizeof(info.szGroupID), policy.groupID);
    PutField(info.szPositionID, sizeof(info.szPositionID), policy.positionID);
    PutField(info.szCompanyID, sizeof(info.szCompanyID), policy.companyID);
    PutField(info.szSuperKey, sizeof(info.szSuperKey), policy.superKey);
    info.nOfflinePolicy = policy.nOfflinePolicy;
    info.nOnlineControl = policy.nOnlineControl;
    info.nDocExchangePolicy = policy.nDocExchangePolicy;
    info.nCountControl = policy.nCountControl;
    info.nTimeSync = policy.nTimeSync;
    info.nProtectRemoteTool = policy.nProtectRemoteTool;
    PutField(info.szDKMS, sizeof(info.szDKMS), policy.dkms);
    PutField(info.szDTSS, sizeof(info.szDTSS), policy.dtss);
    PutField(info.szDLS, sizeof(info.szDLS), policy.dls);
    memcpy(info.abAppFlags, policy.abAppFlags, sizeof(info.abAppFlags));
    PutField(info.szAppInfoLen, sizeof(info.szAppInfoLen), std::to_string(policy.appList.size()));
    std::string body = Success(info);
    body += policy.appList;
    return body;
}

std::string EncodeTakeOutMsgReply(const std::string& key, int32_t status)
{
    TAKEOUT_MSG msg;
    memset(&msg, 0, sizeof(msg));
    PutTag(msg.szSignal, kReplyTakeOut);
    PutField(msg.szTakeOutKey, sizeof(msg.szTakeOutKey), key);
    PutInt32(msg.nStatus, status);
    return Success(msg);
}

std::string EncodeTakeOutInfoReply(const TakeOutRequest& request)
{
    TAKEOUT_INFO info;
    memset(&info, 0, sizeof(info));
    PutTag(info.szSignal, kReplyReference);
    PutField(info.szText, sizeof(info.szText), request.reason);
    const bool approved = request.state == TAKEOUT_APPROVED;
    PutField(info.szStartDate, sizeof(info.szStartDate), approved ? request.approvedStart : request.requestedStart);
    PutField(info.szEndDate, sizeof(info.szEndDate), approved ? request.approvedEnd : request.requestedEnd);
    PutInt32(info.nStatus, request.state);
    return Success(info);
}

std::string EncodeAclReply(const std::string& aclData)
{
    ACL_REPLY reply;
    memset(&reply, 0, sizeof(reply));
    PutTag(reply.szSignal, kReplyAcl);
    PutField(reply.AclInfo.abData, sizeof(reply.AclInfo.abData), aclData);
    return Success(reply);
}

std::string EncodeLevelListReply(const std::vector<DocLevelEntry>& levels)
{
    DOC_LEVEL_REPLY reply;
    memset(&reply, 0, sizeof(reply));
    PutTag(reply.szSignal, kReplyLevels);
    const size_t count = std::min<size_t>(levels.size(), 10);
    reply.LevelList.nCount = static_cast<uint8_t>(count);
    for (size_t i = 0; i < count; ++i) {
        PutInt32(reply.LevelList.aLevels[i].nLevel, levels[i].nLevel);
        PutField(reply.LevelList.aLevels[i].szName, sizeof(reply.LevelList.aLevels[i].szName), levels[i].name);
    }
    return Success(reply);
}

std::string EncodeWebLoginPage(int status, const UserPolicy* policy, const std::string& lockedUntil)
{
    std::string words;
    if (status == kStatusOk && policy != nullptr)
        words = "Logged in as " + policy->userID + " (company " + policy->companyID + ", group " + policy->groupID + ").";
    else if (status == kStatusBadLogin)
        words = "Not logged in: unknown user or wrong password.";
    else if (status == kStatusLocked)
        words = "Not logged in: the account is locked after too many failed logins" +
                (lockedUntil.empty() ? std::string(".") : " until " + lockedUntil + ".");
    else if (status == kStatusMalformed)
        words = "Not logged in: the form needs a user ID and a password.";
    else
        words = "Not logged in: the server could not check the login (status " + std::to_string(status) + ").";
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>vlpolicyd login</title>"
                       "</head><body>\n<h1>vlpolicyd login</h1>\n<p id=\"outcome\">" +
                       HtmlEscape(words) + "</p>\n";
    if (status != kStatusOk)
        page += "<p><a href=\"/login\">Try again</a></p>\n";
    page += "<div id=\"record\" hidden>\n";
    auto element = [&page](const char* tag, const std::string& value) {
        page += "<";
        page += tag;
        page += ">";
        page += value;
        page += "</";
        page += tag;
        page += ">\n";
    };
    element("Result", std::to_string(status));
    if (status == kStatusOk && policy != nullptr) {
        const UserPolicy& p = *policy;
        element("OFFLINEPOLICY", std::to_string(p.nOfflinePolicy));
        element("DOCEXCHANGEPOLICY", std::to_string(p.nDocExchangePolicy));
        element("COUNTCONTROL", std::to_string(p.nCountControl));
        element("TIMESYNC", std::to_string(p.nTimeSync));
        element("ONLINECONTROL", std::to_string(p.nOnlineControl));
        element("PROTECTREMOTETOOL", std::to_string(p.nProtectRemoteTool));
        element("COMPANY_SUPERKEY", p.superKey);
        element("USER_POSCODE", p.positionID);
        element("COMPANY_ID", p.companyID);
        element("DKMS", p.dkms);
        element("DTSS", p.dtss);
        element("DLS", p.dls);
        static const struct { const char* tag; int place; } kFlags[] = {
            {"XLS", APP_FLAG_XLS}, {"DOC", APP_FLAG_DOC}, {"PPT", APP_FLAG_PPT}, {"HWP", APP_FLAG_HWP},
            {"GUL", APP_FLAG_GUL}, {"TXT", APP_FLAG_TXT}, {"KODAK", APP_FLAG_KODAK}, {"DWG", APP_FLAG_DWG},
            {"MSPAINT", APP_FLAG_MSPAINT}};
        for (const auto& flag : kFlags)
            element(flag.tag, std::to_string(p.abAppFlags[flag.place]));
    }
    page += "</div>\n</body></html>\n";
    return page;
}

std::string HtmlEscape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Printable(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
            c = '?';
    }
    return out;
}

} // namespace vlpolicy
