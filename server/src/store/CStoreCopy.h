// CStoreCopy.h - copies a whole store into a new one, between engines or within one (SQLite to
// PostgreSQL and back): the directory, the policy set, levels and ACL data, take-outs with their
// history, administrators, the console's sessions, the logins per address and the exchange log.
// Rows keep their order (and the log and history their numbers). The target must hold no store
// yet (a missing SQLite file, or a PostgreSQL database or schema without our tables): the copy
// makes its layout and fills it in one transaction.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace vlpolicy {

class CStoreCopy
{
public:
    // The rows copied per table, in the order copied. Throws CStoreError: the source is no store,
    // the target holds one already, or either fails (the target then holds an empty layout).
    static std::vector<std::pair<std::string, int64_t>> Copy(const std::string& from, const std::string& to);
};

} // namespace vlpolicy
