// CAdminSessions.h - the console's signed-in administrators, kept in the store so that a browser
// signed in through one instance is signed in on every instance on the same store (and a restart
// keeps them). A session is known by a random 128-bit identifier (the cookie; the store keeps only
// its SHA-256) and carries a second random value, the token every state-changing request must
// repeat. A session unused for kIdleSeconds ends. Store failures throw CStoreError.
#pragma once

#include <stdint.h>

#include <optional>
#include <string>

namespace vlpolicy {

class CPolicyStore;

struct AdminSession
{
    std::string name;  // the administrator
    std::string token; // the per-session token of every POST
};

class CAdminSessions
{
public:
    static constexpr int64_t kIdleSeconds = 30 * 60;

    explicit CAdminSessions(CPolicyStore& store) : m_store(store) {}

    // A new session for name at now; returns its identifier.
    std::string Open(const std::string& name, int64_t now);
    // The session with this identifier if it is still open at now (its idle time then starts
    // again); an expired session is ended and nothing is returned.
    std::optional<AdminSession> Use(const std::string& id, int64_t now);
    void Close(const std::string& id);

    // True when the two texts are equal, in a time that does not depend on where they differ.
    static bool SameToken(const std::string& a, const std::string& b);

private:
    // What the store knows a session by.
    static std::string Digest(const std::string& id);

    CPolicyStore& m_store;
};

} // namespace vlpolicy
