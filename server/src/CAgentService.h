// CAgentService.h - the server's answer to each exchange of the agent, from request bytes to reply
// bytes, over the store. No HTTP here: CPolicyServer hands it bodies and client addresses.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "CPolicyStore.h"

namespace vlpolicy {

// One exchange as answered and logged.
struct ExchangeResult
{
    std::string body;   // the reply body
    std::string kind;   // "login", "takeout", ..., "web-login", "malformed"
    std::string userID; // the user the exchange concerned, empty when none
    int status = 0;     // the status the reply carries (for the ping: 40000 when answered)
};

class CAgentService
{
public:
    // How long a login from an address answers for its user's requests, by default.
    static constexpr int64_t kDefaultLoginMemorySeconds = 24 * 60 * 60;

    explicit CAgentService(CPolicyStore& store) : m_store(store) {}

    // How long (seconds, 1 to the store's longest memory) a successful login from an address lets
    // that address make requests naming the user. Set before serving.
    void SetLoginMemory(int64_t seconds) { m_loginMemorySeconds = seconds; }

    // A binary signal record from client (an IP address) at time now (seconds since the epoch).
    ExchangeResult HandleBinary(const char* body, size_t size, const std::string& client, int64_t now);
    // A login form (USER_ID, USER_PWD); the reply is the tagged HTML page.
    ExchangeResult HandleWebLogin(const char* body, size_t size, const std::string& client, int64_t now);

private:
    // The user a take-out request or edit belongs to: the user named in the record, else the
    // client's last successful login; either must have logged in from the client lately. 0 when
    // found, else the refusal status.
    int TakeOutOwner(const std::string& named, const std::string& client, int64_t now, std::string& owner);
    // A record that names a user is answered only for an address that user logged in from within
    // the login memory; an unknown user is refused the same way as one who did not.
    bool LoggedInHere(const std::string& userID, const std::string& client, int64_t now);

    CPolicyStore& m_store;
    int64_t m_loginMemorySeconds = kDefaultLoginMemorySeconds;
};

} // namespace vlpolicy
