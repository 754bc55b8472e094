#include "PasswordHash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

namespace vlpolicy {

namespace {

constexpr int kIterations = 60000;
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;
constexpr char kScheme[] = "pbkdf2-sha256";

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
    const std::vector<unsigned char> hash = Derive(password, salt, kIterations, kHashBytes);
    return std::string(kScheme) + "$" + std::to_string(kIterations) + "$" + ToHex(salt.data(), salt.size()) + "$" +
           ToHex(hash.data(), hash.size());
}

bool VerifyPassword(const std::string& password, const std::string& stored)
{
    const size_t first = stored.find('$');
    const size_t second = first == std::string::npos ? first : stored.find('$', first + 1);
    const size_t third = second == std::string::npos ? second : stored.find('$', second + 1);
    if (third == std::string::npos || stored.compare(0, first, kScheme) != 0)
        return false;
    const std::string iterationText = stored.substr(first + 1, second - first - 1);
    if (iterationText.empty() || iterationText.size() > 7 ||
        iterationText.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int iterations = std::stoi(iterationText);
    std::vector<unsigned char> salt, expected;
    if (iterations < 1 || !FromHex(stored.substr(second + 1, third - second - 1), salt) ||
        !FromHex(stored.substr(third + 1), expected) || expected.empty())
        return false;
    const std::vector<unsigned char> actual = Derive(password, salt, iterations, expected.size());
    return CRYPTO_memcmp(actual.data(), expected.data(), expected.size()) == 0;
}

void VerifyNothing(const std::string& password)
{
    const std::vector<unsigned char> salt(kSaltBytes, 0);
    Derive(password, salt, kIterations, kHashBytes);
}

} // namespace vlpolicy
