#include "CAgentService.h"

#include <utility>
#include <vector>

#include "WireFormat.h"

namespace vlpolicy {

bool CAgentService::LoggedInHere(const std::string& userID, const std::string& client, int64_t now)
{
    return !userID.empty() && m_store.LoggedInFrom(client, userID, now - m_loginMemorySeconds);
}

int CAgentService::TakeOutOwner(const std::string& named, const std::string& client, int64_t now, std::string& owner)
{
    if (!named.empty()) {
        if (!LoggedInHere(named, client, now) || !m_store.UserExists(named))
            return kStatusBadLogin;
        owner = named;
        return 0;
    }
    const std::optional<std::string> last = m_store.ClientUser(client);
    if (!last || !LoggedInHere(*last, client, now))
        return kStatusMalformed;
    if (!m_store.UserExists(*last))
        return kStatusBadLogin;
    owner = *last;
    return 0;
}

ExchangeResult CAgentService::HandleBinary(const char* body, size_t size, const std::string& client, int64_t now)
{
    ExchangeResult result;
    DecodedRequest request;
    if (size > kMaxBodySize || !DecodeRequest(body, size, request)) {
        result.kind = "malformed";
        result.status = kStatusMalformed;
        result.body = EncodeStatus(result.status);
        return result;
    }
    result.kind = RequestKindName(request.kind);
    auto refuse = [&result](int status) {
        result.status = status;
        result.body = EncodeStatus(status);
    };
    switch (request.kind) {
    case RequestKind::Ping:
        result.status = kStatusOk;
        result.body.assign(kPingReply, VLAGT_SIGNAL_LEN);
        break;
    case RequestKind::Login: {
        result.userID = request.userID;
        UserPolicy policy;
        const int status = m_store.Login(request.userID, request.password, now, policy);
        if (status != kStatusOk) {
            refuse(status);
            break;
        }
        m_store.RememberClient(client, request.userID, now);
        result.status = status;
        result.body = EncodeLoginReply(policy);
        break;
    }
    case RequestKind::TakeOut:
    case RequestKind::Edit: {
        std::string owner;
        if (const int status = TakeOutOwner(request.userID, client, now, owner)) {
            result.userID = request.userID;
            refuse(status);
            break;
        }
        result.userID = owner;
        std::string key;
        if (request.kind == RequestKind::TakeOut) {
            key = m_store.CreateTakeOut(owner, request.startDate, request.endDate, request.reason, now);
        } else {
            const std::optional<std::string> edited =
                m_store.EditTakeOut(owner, request.startDate, request.endDate, request.reason, now);
            if (!edited) {
                refuse(kStatusNotFound);
                break;
            }
            key = *edited;
        }
        result.status = kStatusOk;
        result.body = EncodeTakeOutMsgReply(key, TAKEOUT_REQUESTED);
        break;
    }
    case RequestKind::Reference: {
        const std::optional<TakeOutRequest> found = m_store.FindTakeOut(request.takeOutKey);
        if (!found) {
            refuse(kStatusNotFound);
            break;
        }
        result.userID = found->userID;
        result.status = kStatusOk;
        result.body = EncodeTakeOutInfoReply(*found);
        break;
    }
    case RequestKind::Delete: {
        const std::optional<TakeOutRequest> found = m_store.FindTakeOut(request.takeOutKey);
        if (!found || !m_store.DeleteTakeOut(request.takeOutKey, found->userID, now)) {
            refuse(kStatusNotFound);
            break;
        }
        result.userID = found->userID;
        result.status = kStatusOk;
        result.body = EncodeTakeOutMsgReply(request.takeOutKey, STATUS_TAKEOUT_NONE);
        break;
    }
    case RequestKind::Acl: {
        result.userID = request.userID;
        std::string data;
        const int status = LoggedInHere(request.userID, client, now)
                                ? m_store.Acl(request.userID, request.docLevel, data)
                                : kStatusBadLogin;
        if (status != kStatusOk) {
            refuse(status);
            break;
        }
        result.status = status;
        result.body = EncodeAclReply(data);
        break;
    }
    case RequestKind::LevelList:
        result.status = kStatusOk;
        result.body = EncodeLevelListReply(m_store.Levels());
        break;
    }
    return result;
}

ExchangeResult CAgentService::HandleWebLogin(const char* body, size_t size, const std::string& client, int64_t now)
{
    ExchangeResult result;
    result.kind = "web-login";
    std::vector<std::pair<std::string, std::string>> fields;
    const std::string* userID = nullptr;
    const std::string* password = nullptr;
    if (size <= kMaxBodySize && DecodeForm(body, size, fields)) {
        userID = FindFormField(fields, "USER_ID");
        password = FindFormField(fields, "USER_PWD");
    }
    if (userID == nullptr || password == nullptr) {
        result.status = kStatusMalformed;
        result.body = EncodeWebLoginPage(result.status, nullptr);
        return result;
    }
    result.userID = *userID;
    UserPolicy policy;
    result.status = m_store.Login(*userID, *password, now, policy);
    if (result.status == kStatusOk)
        m_store.RememberClient(client, *userID, now);
    std::string lockedUntil;
    if (result.status == kStatusLocked) {
        const std::optional<UserEntry> user = m_store.FindUser(*userID);
        if (user && user->lockedUntil > now)
            lockedUntil = CPolicyStore::FormatTime(user->lockedUntil);
    }
    result.body = EncodeWebLoginPage(result.status, &policy, lockedUntil);
    return result;
}

} // namespace vlpolicy
