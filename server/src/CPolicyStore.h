// CPolicyStore.h - the policy server's store: one SQLite database in WAL mode with a busy timeout,
// shared by a running server and the administrator's commands. Every change is one transaction,
// so a process killed at any moment loses no committed decision.
//
// It holds the directory (company, groups, users with salted password hashes and their failed-login
// counts), the policy set and application list, the document levels and the ACL data per user and
// level, the take-out requests with their history, the last successful login per client address
// and the exchange log. A new database is created with the demonstration directory.
//
// Methods are safe to call from several threads (one connection, one lock). Failures of the
// database itself throw CStoreError; refusals are results.
#pragma once

#include <stdint.h>
#include <time.h>

#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "PolicyTypes.h"

struct sqlite3;

namespace vlpolicy {

class CStoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct UserEntry
{
    std::string userID;
    std::string companyID;
    std::string groupID;
    std::string positionID;
    int failedLogins = 0;
    int64_t lockedUntil = 0; // seconds since the epoch; 0 when not locked
};

struct ExchangeEntry
{
    std::string at; // ISO 8601, UTC
    std::string client;
    std::string kind;
    std::string userID;
    int status = 0;
};

// Outcome of an administrator's take-out decision.
enum class DecisionResult
{
    Done,
    UnknownKey,
    NotOpen // refused, cancelled or deleted: no longer open to a decision
};

class CPolicyStore
{
public:
    // Failed logins in a row that lock an account, and for how long.
    static constexpr int kLockThreshold = 5;
    static constexpr int64_t kLockSeconds = 15 * 60;

    // Opens (creating when new) the database at path; throws CStoreError.
    explicit CPolicyStore(const std::string& path);
    ~CPolicyStore();
    CPolicyStore(const CPolicyStore&) = delete;
    CPolicyStore& operator=(const CPolicyStore&) = delete;

    // Checks a login and counts it: 40000 (policy filled), 41001 unknown user or wrong password,
    // 41002 locked. A wrong password for a known user counts towards the lock.
    int Login(const std::string& userID, const std::string& password, int64_t now, UserPolicy& policy);

    // The client address's last successful login, for requests that name no user.
    void RememberClient(const std::string& address, const std::string& userID, int64_t now);
    std::optional<std::string> ClientUser(const std::string& address);

    bool UserExists(const std::string& userID);

    // A new request of the user (any request still in force is cancelled); returns its key.
    std::string CreateTakeOut(const std::string& userID, const std::string& start, const std::string& end,
                              const std::string& reason, int64_t now);
    // The request with this key, unless unknown or deleted.
    std::optional<TakeOutRequest> FindTakeOut(const std::string& key);
    // The user's request in force (requested or approved) takes new dates and reason and is
    // requested again; returns its key, or nothing when the user has none in force.
    std::optional<std::string> EditTakeOut(const std::string& userID, const std::string& start,
                                           const std::string& end, const std::string& reason, int64_t now);
    // Marks the request deleted: false when the key is unknown or already deleted.
    bool DeleteTakeOut(const std::string& key, const std::string& actor, int64_t now);

    // The administrator's decisions. Approve takes the requested dates when start/end are empty.
    DecisionResult Approve(const std::string& key, const std::string& start, const std::string& end, int64_t now);
    DecisionResult Refuse(const std::string& key, int64_t now);
    DecisionResult Cancel(const std::string& key, int64_t now);
    std::vector<TakeOutRequest> ListTakeOuts();

    std::vector<DocLevelEntry> Levels();
    // The 42 bytes of ACL data for user and level: 40000, 41001 unknown user, 45005 no data.
    int Acl(const std::string& userID, int32_t level, std::string& data);

    // Directory administration. AddUser throws CStoreError with a readable message on a clash or
    // an unknown company or group; the others return false when the user is unknown.
    void AddUser(const std::string& userID, const std::string& password, const std::string& companyID,
                 const std::string& groupID, const std::string& positionID);
    std::vector<UserEntry> ListUsers();
    bool RemoveUser(const std::string& userID);
    bool UnlockUser(const std::string& userID);
    // The company and group that `user add` uses when none is given.
    std::string DefaultCompany();
    std::string DefaultGroup();

    void LogExchange(const ExchangeEntry& entry);
    // The last count exchanges, oldest first.
    std::vector<ExchangeEntry> LastExchanges(int count);

    // Seconds since the epoch as ISO 8601 UTC ("2026-12-08T19:05:00Z").
    static std::string FormatTime(int64_t now);

private:
    void Execute(const char* sql);
    void CreateIfNew();
    void SeedDemoDirectory(int64_t now);
    void InsertUser(const std::string& userID, const std::string& password, const std::string& companyID,
                    const std::string& groupID, const std::string& positionID);
    void AddHistory(const std::string& key, int32_t state, const std::string& start, const std::string& end,
                    const std::string& reason, const std::string& actor, int64_t now);
    DecisionResult Decide(const std::string& key, int32_t state, const std::string& start, const std::string& end,
                          const char* actor, int64_t now);

    std::mutex m_mutex;
    sqlite3* m_pDb = nullptr;
};

} // namespace vlpolicy
