// PasswordHash.h - salted password hashes (PBKDF2-HMAC-SHA256) and random keys.
#pragma once

#include <stddef.h>

#include <string>

namespace vlpolicy {

// "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>" for a fresh random salt.
std::string HashPassword(const std::string& password);

// Compares password with a stored hash in constant time. A malformed stored text never matches.
bool VerifyPassword(const std::string& password, const std::string& stored);

// Spends the time of one verification, so that an unknown user answers as slowly as a known one.
void VerifyNothing(const std::string& password);

// bytes random bytes from the system's generator, as lower-case hex.
std::string RandomHex(size_t bytes);

} // namespace vlpolicy
