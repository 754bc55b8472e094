#include "CAdminSessions.h"

#include "PasswordHash.h"

namespace vlpolicy {

std::string CAdminSessions::Open(const std::string& name, int64_t now)
{
    const std::string id = RandomHex(16);
    std::lock_guard<std::mutex> lock(m_mutex);
    // Ended sessions are dropped here, so the table holds only those of the last half hour.
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = now - it->second.lastUsed > kIdleSeconds ? m_sessions.erase(it) : std::next(it);
    m_sessions[id] = AdminSession{name, RandomHex(16), now};
    return id;
}

std::optional<AdminSession> CAdminSessions::Use(const std::string& id, int64_t now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_sessions.find(id);
    if (found == m_sessions.end())
        return std::nullopt;
    if (now - found->second.lastUsed > kIdleSeconds) {
        m_sessions.erase(found);
        return std::nullopt;
    }
    found->second.lastUsed = now;
    return found->second;
}

void CAdminSessions::Close(const std::string& id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.erase(id);
}

bool CAdminSessions::SameToken(const std::string& a, const std::string& b)
{
    if (a.size() != b.size() || a.empty())
        return false;
    unsigned char differ = 0;
    for (size_t i = 0; i < a.size(); ++i)
        differ |= static_cast<unsigned char>(a[i] ^ b[i]);
    return differ == 0;
}

} // namespace vlpolicy
