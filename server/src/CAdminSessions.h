// CAdminSessions.h - the console's signed-in administrators, kept in memory (a restart signs
// everyone out). A session is known by a random 128-bit identifier (the cookie) and carries a
// second random value, the token every state-changing request must repeat. A session unused for
// kIdleSeconds ends.
#pragma once

#include <stdint.h>

#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace vlpolicy {

struct AdminSession
{
    std::string name;  // the administrator
    std::string token; // the per-session token of every POST
    int64_t lastUsed = 0;
};

class CAdminSessions
{
public:
    static constexpr int64_t kIdleSeconds = 30 * 60;

    // A new session for name at now; returns its identifier.
    std::string Open(const std::string& name, int64_t now);
    // The session with this identifier if it is still open at now (its idle time then starts
    // again); an expired session is ended and nothing is returned.
    std::optional<AdminSession> Use(const std::string& id, int64_t now);
    void Close(const std::string& id);

    // True when the two texts are equal, in a time that does not depend on where they differ.
    static bool SameToken(const std::string& a, const std::string& b);

private:
    std::mutex m_mutex;
    std::map<std::string, AdminSession> m_sessions;
};

} // namespace vlpolicy
