// PasswordHash.h - salted password hashes and random keys. New hashes are Argon2id (19 MiB,
// 2 passes, 1 lane) in the usual encoded form; hashes of the earlier scheme (PBKDF2-HMAC-SHA256,
// "pbkdf2-sha256$<iterations>$<salt hex>$<hash hex>") are still verified, and NeedsRehash tells
// the store to replace them at the next successful login. At most as many hashes as the machine
// has cores (at least two) are computed at once, so that their memory stays bounded.
#pragma once

#include <stddef.h>

#include <string>

namespace vlpolicy {

// "$argon2id$v=19$m=19456,t=2,p=1$<salt>$<hash>" for a fresh random salt.
std::string HashPassword(const std::string& password);

// True when stored is not a hash with the current scheme and cost.
bool NeedsRehash(const std::string& stored);

// Compares password with a stored hash in constant time. A malformed stored text, or one whose cost
// is beyond what this server would ever have written, never matches.
bool VerifyPassword(const std::string& password, const std::string& stored);

// Spends the time of one verification, so that an unknown user answers as slowly as a known one.
void VerifyNothing(const std::string& password);

// bytes random bytes from the system's generator, as lower-case hex.
std::string RandomHex(size_t bytes);

} // namespace vlpolicy
