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
    explicit CAgentService(CPolicyStore& store) : m_store(store) {}

    // A binary signal record from client (an IP address) at time now (seconds since the epoch).
    ExchangeResult HandleBinary(const char* body, size_t size, const std::string& client, int64_t now);
    // A login form (USER_ID, USER_PWD); the reply is the tagged HTML page.
    ExchangeResult HandleWebLogin(const char* body, size_t size, const std::string& client, int64_t now);

private:
    // The user a take-out request or edit belongs to: the user named in the record, else the
    // client's last successful login. 0 when found, else the refusal status.
    int TakeOutOwner(const std::string& named, const std::string& client, std::string& owner);

    CPolicyStore& m_store;
};

} // namespace vlpolicy
