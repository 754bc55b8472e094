#include "CAdminSessions.h"

#include <openssl/evp.h>

#include "CPolicyStore.h"
#include "PasswordHash.h"

namespace vlpolicy {

std::string CAdminSessions::Digest(const std::string& id)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(id.data(), id.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        throw CStoreError("cannot digest a session identifier");
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

std::string CAdminSessions::Open(const std::string& name, int64_t now)
{
    const std::string id = RandomHex(16);
    m_store.OpenAdminSession(Digest(id), name, RandomHex(16), now, kIdleSeconds);
    return id;
}

std::optional<AdminSession> CAdminSessions::Use(const std::string& id, int64_t now)
{
    if (id.empty())
        return std::nullopt;
    AdminSession session;
    if (!m_store.UseAdminSession(Digest(id), now, kIdleSeconds, session.name, session.token))
        return std::nullopt;
    return session;
}

void CAdminSessions::Close(const std::string& id)
{
    if (!id.empty())
        m_store.CloseAdminSession(Digest(id));
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
