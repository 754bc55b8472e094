#include "PasswordHash.h"

#include <argon2.h>
#include <stdio.h>
#include <string.h>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vlpolicy {

namespace {

constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;

// Argon2id at the cost current guidance asks for: 19 MiB, 2 passes, 1 lane.
constexpr uint32_t kArgonMemoryKiB = 19 * 1024;
constexpr uint32_t kArgonPasses = 2;
constexpr uint32_t kArgonLanes = 1;
constexpr char kArgonPrefix[] = "$argon2id$v=19$m=19456,t=2,p=1$";
// A stored hash asking for more than this is refused unread rather than computed.
constexpr uint32_t kArgonMaxMemoryKiB = 256 * 1024;
constexpr uint32_t kArgonMaxPasses = 16;
constexpr uint32_t kArgonMaxLanes = 8;

// The earlier scheme, verified only.
constexpr char kPbkdf2Scheme[] = "pbkdf2-sha256";

// Bounds the Argon2 computations in progress: each holds 19 MiB while it runs.
class HashGate
{
public:
    HashGate() : m_nFree(std::max(2u, std::thread::hardware_concurrency())) {}
    void Enter()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_freed.wait(lock, [this] { return m_nFree > 0; });
        --m_nFree;
    }
    void Leave()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_nFree;
        }
        m_freed.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_freed;
    unsigned m_nFree;
};

class GatePass
{
public:
    GatePass() { Gate().Enter(); }
    ~GatePass() { Gate().Leave(); }
    GatePass(const GatePass&) = delete;
    GatePass& operator=(const GatePass&) = delete;

private:
    static HashGate& Gate()
    {
        static HashGate gate;
        return gate;
    }
};

std::string ToHex(const unsigned char* bytes, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        hex.push_back(kDigits[bytes[i] >> 4]);
        hex.push_back(kDigits[bytes[i] & 15]);
    }
    return hex;
}

bool FromHex(const std::string& hex, std::vector<unsigned char>& bytes)
{
    if (hex.size() % 2 != 0)
        return false;
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (size_t j = i; j < i + 2; ++j) {
            const char c = hex[j];
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else
                return false;
            value = value * 16 + digit;
        }
        bytes.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

std::vector<unsigned char> Derive(const std::string& password, const std::vector<unsigned char>& salt,
                                  int iterations, size_t size)
{
    std::vector<unsigned char> out(size);
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(), static_cast<int>(size),
                          out.data()) != 1)
        throw std::runtime_error("password hashing failed");
    return out;
}

} // namespace

std::string RandomHex(size_t bytes)
{
    std::vector<unsigned char> random(bytes);
    if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1)
        throw std::runtime_error("the system's random generator failed");
    return ToHex(random.data(), random.size());
}

std::string HashPassword(const std::string& password)
{
    std::vector<unsigned char> salt;
    FromHex(RandomHex(kSaltBytes), salt);
    std::vector<char> encoded(argon2_encodedlen(kArgonPasses, kArgonMemoryKiB, kArgonLanes,
                                                static_cast<uint32_t>(salt.size()), kHashBytes, Argon2_id) +
                              1);
    int rc;
    {
        GatePass pass;
        rc = argon2id_hash_encoded(kArgonPasses, kArgonMemoryKiB, kArgonLanes, password.data(), password.size(),
                                   salt.data(), salt.size(), kHashBytes, encoded.data(), encoded.size());
    }
    if (rc != ARGON2_OK)
        throw std::runtime_error(std::string("password hashing failed: ") + argon2_error_message(rc));
    return encoded.data();
}

bool NeedsRehash(const std::string& stored)
{
    return stored.compare(0, sizeof(kArgonPrefix) - 1, kArgonPrefix) != 0;
}

namespace {

bool VerifyArgon2id(const std::string& password, const std::string& stored)
{
    unsigned memory = 0, passes = 0, lanes = 0;
    int used = 0;
    if (sscanf(stored.c_str(), "$argon2id$v=19$m=%u,t=%u,p=%u$%n", &memory, &passes, &lanes, &used) != 3 ||
        used == 0 || memory > kArgonMaxMemoryKiB || passes > kArgonMaxPasses || lanes > kArgonMaxLanes ||
        stored.size() > 512 || memchr(stored.data(), '\0', stored.size()) != nullptr)
        return false;
    GatePass pass;
    return argon2id_verify(stored.c_str(), password.data(), password.size()) == ARGON2_OK;
}

bool VerifyPbkdf2(const std::string& password, const std::string& stored)
{
    const size_t first = stored.find('$');
    const size_t second = first == std::string::npos ? first : stored.find('$', first + 1);
    const size_t third = second == std::string::npos ? second : stored.find('$', second + 1);
    if (third == std::string::npos || stored.compare(0, first, kPbkdf2Scheme) != 0)
        return false;
    const std::string iterationText = stored.substr(first + 1, second - first - 1);
    if (iterationText.empty() || iterationText.size() > 7 ||
        iterationText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int iterations = std::stoi(iterationText);
    std::vector<unsigned char> salt, expected;
    if (iterations < 1 || !FromHex(stored.substr(second + 1, third - second - 1), salt) ||
        !FromHex(stored.substr(third + 1), expected) || expected.empty() || expected.size() > 64)
        return false;
    const std::vector<unsigned char> actual = Derive(password, salt, iterations, expected.size());
    return CRYPTO_memcmp(actual.data(), expected.data(), expected.size()) == 0;
}

} // namespace

bool VerifyPassword(const std::string& password, const std::string& stored)
{
    if (stored.compare(0, 10, "$argon2id$") == 0)
        return VerifyArgon2id(password, stored);
    return VerifyPbkdf2(password, stored);
}

void VerifyNothing(const std::string& password)
{
    static const std::string kNobody = HashPassword("no such account");
    VerifyPassword(password, kNobody);
}

} // namespace vlpolicy
