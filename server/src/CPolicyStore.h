// CPolicyStore.h - the policy server's store: one SQLite database in WAL mode with a busy timeout,
// shared by a running server and the administrator's commands, or one PostgreSQL database shared
// by any number of servers and commands (the --db value a postgresql:// or postgres:// URI). The
// rules below are the same for both engines; each engine makes the same layout on an empty
// database and keeps its version in the meta table. Every change is one transaction,
// so a process killed at any moment loses no committed change. Decisions, lock-outs and the
// directory are synced to disk at each commit; the journal that logins write (the last login per
// address, the exchange log, an account's count of logins) is synced with the next such commit or
// checkpoint, so a power cut may lose its last rows but never corrupts it.
//
// It holds the directory (company, groups, users with salted password hashes and their failed-login
// counts), the policy set and application list, the document levels and the ACL data per user and
// level, the take-out requests with their history, the last successful login per client address
// and the exchange log. A new database gets the starting directory (a company with a random super
// key, its groups, the policy set and the levels) and no account; the demonstration directory, with
// its two users of published passwords, only when asked for. The exchange log keeps a bounded
// history: the oldest rows go as new ones come.
//
// Methods are safe to call from several threads. Reads have a connection of their own and never
// wait for a write; writes share one lock, held for a short transaction only: no lock and no
// transaction is held while a password is hashed or checked. Failures of the database itself throw
// CStoreError; refusals are results. On PostgreSQL a lost connection is opened again at its next
// use: the call that found it lost fails, later ones go on.
#pragma once

#include <stdint.h>
#include <time.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "PolicyTypes.h"
#include "store/CStoreConnection.h"

namespace vlpolicy {

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

// An administrator of the console: an account apart from the agent users, with the same lock-out.
struct AdminEntry
{
    std::string name;
    int failedLogins = 0;
    int64_t lockedUntil = 0;
};

// One step in the life of a take-out request.
struct TakeOutEvent
{
    std::string key;
    std::string at; // ISO 8601, UTC
    int32_t state = TAKEOUT_REQUESTED;
    std::string start; // the dates requested or approved; empty for the other steps
    std::string end;
    std::string text;  // the reason of a request, the comment of a decision
    std::string actor; // the user, "admin" (command line), "admin:NAME" (console), "superseded"
};

// Outcome of an administrator's take-out decision.
enum class DecisionResult
{
    Done,
    UnknownKey,
    NotOpen // refused, cancelled or deleted: no longer open to a decision
};

// Where an account with a password and a lock-out lives: the agent users or the administrators.
struct AccountTable
{
    const char* table;
    const char* idColumn;
};

// How a store is opened.
struct StoreOptions
{
    // A store created by this open gets the demonstration directory (users demo01 and demo02 with
    // the README's passwords); an existing store is left as it is.
    bool demo = false;
    // How long a statement waits for another process's write lock before the store fails; on
    // PostgreSQL the longest any statement may take (capped at CPgConnection::kMaxStatementMs).
    int busyTimeoutMs = 5000;
    // The exchange log keeps at most this many rows, none older than this many days before the
    // newest (both at least 1).
    int64_t exchangeKeepRows = 1000000;
    int64_t exchangeKeepDays = 90;
};

class CPolicyStore
{
public:
    // Failed logins in a row that lock an account, and for how long.
    static constexpr int kLockThreshold = 5;
    static constexpr int64_t kLockSeconds = 15 * 60;

    // Opens (creating when new) the database at path; throws CStoreError.
    explicit CPolicyStore(const std::string& path, const StoreOptions& options = StoreOptions());
    // True when this open created the store.
    bool Created() const { return m_bCreated; }
    ~CPolicyStore();
    CPolicyStore(const CPolicyStore&) = delete;
    CPolicyStore& operator=(const CPolicyStore&) = delete;

    // Checks a login and counts it: 40000 (policy filled), 41001 unknown user or wrong password,
    // 41002 locked. A wrong password for a known user counts towards the lock. Every attempt on a
    // known account, right or wrong, is written before it is answered: when the store cannot write
    // it throws CStoreError, and a right password is refused as well as a wrong one.
    int Login(const std::string& userID, const std::string& password, int64_t now, UserPolicy& policy);

    // Users that logged in from an address are remembered this long at most, the newest this many
    // per address.
    static constexpr int64_t kClientMemoryMaxSeconds = 30 * 24 * 60 * 60;
    static constexpr int kClientUsersPerAddress = 1024;

    // A successful login from a client address: the address's last login, for requests that name
    // no user, and one of the users logged in from it (LoggedInFrom).
    void RememberClient(const std::string& address, const std::string& userID, int64_t now);
    std::optional<std::string> ClientUser(const std::string& address);
    // True when userID logged in successfully from address at or after since.
    bool LoggedInFrom(const std::string& address, const std::string& userID, int64_t since);

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
    // The comment and the actor go into the request's history.
    DecisionResult Approve(const std::string& key, const std::string& start, const std::string& end, int64_t now,
                           const std::string& comment = "", const std::string& actor = "admin");
    DecisionResult Refuse(const std::string& key, int64_t now, const std::string& comment = "",
                          const std::string& actor = "admin");
    DecisionResult Cancel(const std::string& key, int64_t now);
    std::vector<TakeOutRequest> ListTakeOuts();
    // Every step of every request, oldest first.
    std::vector<TakeOutEvent> TakeOutHistory();

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
    std::optional<UserEntry> FindUser(const std::string& userID);

    // The console's administrators. AddAdmin throws CStoreError on a clash; AdminLogin answers
    // like Login (40000, 41001, 41002) and counts towards the same lock-out.
    void AddAdmin(const std::string& name, const std::string& password);
    std::vector<AdminEntry> ListAdmins();
    bool RemoveAdmin(const std::string& name);
    bool UnlockAdmin(const std::string& name);
    bool AdminExists(const std::string& name);
    int AdminLogin(const std::string& name, const std::string& password, int64_t now);
    // The company and group that `user add` uses when none is given.
    std::string DefaultCompany();
    std::string DefaultGroup();

    // Adds a row and drops the rows past the retention (a bounded number of them per call, so a
    // lowered retention is reached over the next calls, not in one long write).
    void LogExchange(const ExchangeEntry& entry);
    // The last count exchanges, oldest first.
    std::vector<ExchangeEntry> LastExchanges(int count);

    // The console's sign-ins, so that every instance on the store knows them; a session is known
    // here by a digest of its identifier only. Opening one drops those idle longer than
    // idleSeconds; UseAdminSession starts its idle time again and fills name and token, or ends
    // it and returns false when it is unknown or was idle longer than idleSeconds.
    void OpenAdminSession(const std::string& idHash, const std::string& name, const std::string& token, int64_t now,
                          int64_t idleSeconds);
    bool UseAdminSession(const std::string& idHash, int64_t now, int64_t idleSeconds, std::string& name,
                         std::string& token);
    void CloseAdminSession(const std::string& idHash);

    // True when the store answers a trivial read now (never throws).
    bool Ping();
    // Which engine holds the store, and how often its connections were opened again after a loss.
    bool IsPostgres() const { return m_bPostgres; }
    int64_t Reconnects();
    // Passwords this object checked (a check against nothing for an unknown account included),
    // and the accounts it locked: agent users, or administrators.
    int64_t PasswordChecks() const;
    int64_t Lockouts(bool admins) const;

    // Seconds since the epoch as ISO 8601 UTC ("2026-12-08T19:05:00Z").
    static std::string FormatTime(int64_t now);

private:
    // SettleLogin's answer when the password was changed after it was read.
    static constexpr int kPasswordChanged = -1;
    static constexpr int kLoginAttempts = 3;

    void CreateIfNew();
    // The tables and columns added after the first layout, created in a store that lacks them.
    void AddLaterTables();
    void PruneExchanges(CStoreConnection* db, const std::string& newest);
    // Checks a password of an account in table and settles the outcome; fills the hash's reader.
    int CheckAccount(const AccountTable& table, const std::string& id, const std::string& password,
                     int64_t now, const std::function<bool(std::string&)>& readHash);
    // The company, groups, policy set and levels; with hashes, the demonstration users too.
    void SeedDirectory(bool demo, const std::string& managerHash, const std::string& staffHash);
    void InsertUser(const std::string& userID, const std::string& passwordHash, const std::string& companyID,
                    const std::string& groupID, const std::string& positionID);
    // What a login needs: the stored hash and the user's policy; false when the user is unknown.
    bool ReadLogin(const std::string& userID, std::string& passwordHash, UserPolicy& policy);
    // The account now, under the write lock: 41001 removed, kPasswordChanged, 41002 locked, 0 open
    // (counted: failures or an expired lock to clear).
    int LoginState(const AccountTable& table, const std::string& userID, const std::string& passwordHash, int64_t now,
                   bool& counted);
    // Counts a failure or a success in one short write: 40000, 41001, 41002 or kPasswordChanged.
    int SettleLogin(const AccountTable& table, const std::string& userID, const std::string& passwordHash,
                    bool matches, int64_t now);
    bool ClearFailures(const AccountTable& table, const std::string& id);
    // After a successful login with a hash of an earlier scheme or cost: the password hashed anew
    // replaces it, unless the account's hash changed meanwhile. A failure leaves the old one.
    void UpgradeHash(const AccountTable& table, const std::string& id, const std::string& oldHash,
                     const std::string& password);
    // RememberClient's part for LoggedInFrom, inside its transaction.
    void RememberClientUser(const std::string& address, const std::string& userID, int64_t now);
    void AddHistory(const std::string& key, int32_t state, const std::string& start, const std::string& end,
                    const std::string& reason, const std::string& actor, int64_t now);
    DecisionResult Decide(const std::string& key, int32_t state, const std::string& start, const std::string& end,
                          const std::string& comment, const std::string& actor, int64_t now);

    StoreOptions m_options;
    bool m_bCreated = false;
    bool m_bPostgres = false;
    // Declared in the order they are opened: the writer creates a new store.
    std::mutex m_writeMutex; // serialises the writer and the journal, which never contend inside the process
    std::unique_ptr<CStoreConnection> m_pWriter;  // synchronous: every commit reaches the disk
    std::unique_ptr<CStoreConnection> m_pJournal; // relaxed: the last login per address, the exchange log
    std::mutex m_readMutex;
    std::unique_ptr<CStoreConnection> m_pReader;
    std::atomic<int64_t> m_nPasswordChecks{0};
    std::atomic<int64_t> m_nLockouts[2]{}; // users, administrators
};

} // namespace vlpolicy
