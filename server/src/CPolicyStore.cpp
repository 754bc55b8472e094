#include "CPolicyStore.h"

#include <string.h>

#include <time.h>

#include <algorithm>

#include "PasswordHash.h"
#include "store/CPgConnection.h"
#include "store/CSqliteConnection.h"

namespace vlpolicy {

namespace {

constexpr char kSchemaVersion[] = "1";
// The most exchange-log rows one call drops.
constexpr int64_t kPruneBatch = 512;

constexpr char kSchema[] = R"sql(
CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE companies(company_id TEXT PRIMARY KEY, super_key TEXT NOT NULL,
  dkms TEXT NOT NULL, dtss TEXT NOT NULL, dls TEXT NOT NULL);
CREATE TABLE user_groups(group_id TEXT PRIMARY KEY, company_id TEXT NOT NULL REFERENCES companies);
CREATE TABLE policy(id INTEGER PRIMARY KEY CHECK (id = 1), offline_policy INTEGER NOT NULL,
  online_control INTEGER NOT NULL, doc_exchange INTEGER NOT NULL, count_control INTEGER NOT NULL,
  time_sync INTEGER NOT NULL, protect_remote_tool INTEGER NOT NULL, app_flags BLOB NOT NULL,
  app_list TEXT NOT NULL);
CREATE TABLE users(user_id TEXT PRIMARY KEY, password_hash TEXT NOT NULL,
  company_id TEXT NOT NULL REFERENCES companies, group_id TEXT NOT NULL REFERENCES user_groups,
  position TEXT NOT NULL, failed_logins INTEGER NOT NULL DEFAULT 0, locked_until INTEGER NOT NULL DEFAULT 0,
  logins INTEGER NOT NULL DEFAULT 0);
CREATE TABLE levels(level INTEGER PRIMARY KEY, name TEXT NOT NULL, default_rights TEXT NOT NULL);
CREATE TABLE acl(user_id TEXT NOT NULL, level INTEGER NOT NULL, data BLOB NOT NULL,
  PRIMARY KEY (user_id, level));
CREATE TABLE takeouts(takeout_key TEXT PRIMARY KEY, user_id TEXT NOT NULL, state INTEGER NOT NULL,
  reason TEXT NOT NULL, requested_start TEXT NOT NULL, requested_end TEXT NOT NULL,
  approved_start TEXT NOT NULL DEFAULT '', approved_end TEXT NOT NULL DEFAULT '',
  created_at TEXT NOT NULL, updated_at TEXT NOT NULL);
CREATE INDEX takeouts_by_user ON takeouts(user_id, state);
CREATE TABLE takeout_history(id INTEGER PRIMARY KEY AUTOINCREMENT, takeout_key TEXT NOT NULL,
  at TEXT NOT NULL, state INTEGER NOT NULL, start_date TEXT NOT NULL, end_date TEXT NOT NULL,
  reason TEXT NOT NULL, actor TEXT NOT NULL);
CREATE TABLE client_logins(address TEXT PRIMARY KEY, user_id TEXT NOT NULL, at TEXT NOT NULL);
CREATE TABLE exchanges(id INTEGER PRIMARY KEY AUTOINCREMENT, at TEXT NOT NULL, client TEXT NOT NULL,
  kind TEXT NOT NULL, user_id TEXT NOT NULL, status INTEGER NOT NULL);
)sql";

// The same layout on PostgreSQL, with every later table: made whole on an empty database. The
// rowid columns keep the order rows came in, as SQLite's own rowid does.
constexpr char kPgSchema[] = R"sql(
CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE companies(company_id TEXT PRIMARY KEY, super_key TEXT NOT NULL,
  dkms TEXT NOT NULL, dtss TEXT NOT NULL, dls TEXT NOT NULL, rowid BIGINT GENERATED ALWAYS AS IDENTITY);
CREATE TABLE user_groups(group_id TEXT PRIMARY KEY, company_id TEXT NOT NULL REFERENCES companies,
  rowid BIGINT GENERATED ALWAYS AS IDENTITY);
CREATE TABLE policy(id BIGINT PRIMARY KEY CHECK (id = 1), offline_policy BIGINT NOT NULL,
  online_control BIGINT NOT NULL, doc_exchange BIGINT NOT NULL, count_control BIGINT NOT NULL,
  time_sync BIGINT NOT NULL, protect_remote_tool BIGINT NOT NULL, app_flags BYTEA NOT NULL,
  app_list TEXT NOT NULL);
CREATE TABLE users(user_id TEXT PRIMARY KEY, password_hash TEXT NOT NULL,
  company_id TEXT NOT NULL REFERENCES companies, group_id TEXT NOT NULL REFERENCES user_groups,
  position TEXT NOT NULL, failed_logins BIGINT NOT NULL DEFAULT 0, locked_until BIGINT NOT NULL DEFAULT 0,
  logins BIGINT NOT NULL DEFAULT 0);
CREATE TABLE levels(level BIGINT PRIMARY KEY, name TEXT NOT NULL, default_rights TEXT NOT NULL);
CREATE TABLE acl(user_id TEXT NOT NULL, level BIGINT NOT NULL, data BYTEA NOT NULL,
  PRIMARY KEY (user_id, level));
CREATE TABLE takeouts(takeout_key TEXT PRIMARY KEY, user_id TEXT NOT NULL, state BIGINT NOT NULL,
  reason TEXT NOT NULL, requested_start TEXT NOT NULL, requested_end TEXT NOT NULL,
  approved_start TEXT NOT NULL DEFAULT '', approved_end TEXT NOT NULL DEFAULT '',
  created_at TEXT NOT NULL, updated_at TEXT NOT NULL, rowid BIGINT GENERATED ALWAYS AS IDENTITY);
CREATE INDEX takeouts_by_user ON takeouts(user_id, state);
CREATE TABLE takeout_history(id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, takeout_key TEXT NOT NULL,
  at TEXT NOT NULL, state BIGINT NOT NULL, start_date TEXT NOT NULL, end_date TEXT NOT NULL,
  reason TEXT NOT NULL, actor TEXT NOT NULL);
CREATE TABLE client_logins(address TEXT PRIMARY KEY, user_id TEXT NOT NULL, at TEXT NOT NULL);
CREATE TABLE exchanges(id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, at TEXT NOT NULL, client TEXT NOT NULL,
  kind TEXT NOT NULL, user_id TEXT NOT NULL, status BIGINT NOT NULL);
CREATE TABLE admins(name TEXT PRIMARY KEY, password_hash TEXT NOT NULL,
  failed_logins BIGINT NOT NULL DEFAULT 0, locked_until BIGINT NOT NULL DEFAULT 0,
  logins BIGINT NOT NULL DEFAULT 0);
CREATE TABLE client_users(address TEXT NOT NULL, user_id TEXT NOT NULL, at BIGINT NOT NULL,
  PRIMARY KEY (address, user_id));
CREATE INDEX client_users_by_address ON client_users(address, at);
CREATE INDEX client_users_by_time ON client_users(at);
CREATE TABLE admin_sessions(id_hash TEXT PRIMARY KEY, name TEXT NOT NULL, token TEXT NOT NULL,
  last_used BIGINT NOT NULL);
CREATE INDEX admin_sessions_by_time ON admin_sessions(last_used);
)sql";

// Tables added after the first layout: a store made before them gets them when next opened.
constexpr char kAdminsTable[] = "admins";
constexpr char kLaterSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS admins(name TEXT PRIMARY KEY, password_hash TEXT NOT NULL,
  failed_logins INTEGER NOT NULL DEFAULT 0, locked_until INTEGER NOT NULL DEFAULT 0,
  logins INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS admin_sessions(id_hash TEXT PRIMARY KEY, name TEXT NOT NULL, token TEXT NOT NULL,
  last_used INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS admin_sessions_by_time ON admin_sessions(last_used);
)sql";
// The console's sign-ins: every instance on the store knows them.
constexpr char kSessionsTable[] = "admin_sessions";
// The count of successful logins of an account, added later to both account tables: a login that
// succeeds writes it, so that no login is answered before the store has taken a write.
constexpr char kLoginsColumn[] = "logins";

// Every user who logged in from an address, for requests that name a user: kept in the journal.
constexpr char kClientUsersTable[] = "client_users";
constexpr char kClientUsersSchema[] = R"sql(
CREATE TABLE IF NOT EXISTS client_users(address TEXT NOT NULL, user_id TEXT NOT NULL, at INTEGER NOT NULL,
  PRIMARY KEY (address, user_id));
CREATE INDEX IF NOT EXISTS client_users_by_address ON client_users(address, at);
CREATE INDEX IF NOT EXISTS client_users_by_time ON client_users(at);
)sql";

constexpr AccountTable kUsers = {"users", "user_id"};
constexpr AccountTable kAdmins = {kAdminsTable, "name"};

void Execute(CStoreConnection* db, const char* sql)
{
    db->Execute(sql);
}

// One statement of the engine; binds and reads by position (1-based binds, 0-based columns).
class Statement
{
public:
    Statement(CStoreConnection* db, const char* sql) : m_pStmt(db->Prepare(sql)) {}

    Statement& Bind(int index, const std::string& text)
    {
        m_pStmt->BindText(index, text);
        return *this;
    }
    Statement& Bind(int index, int64_t value)
    {
        m_pStmt->BindInt(index, value);
        return *this;
    }
    Statement& BindBlob(int index, const std::string& bytes)
    {
        m_pStmt->BindBlob(index, bytes);
        return *this;
    }
    // True while a row is there; false when done.
    bool Step() { return m_pStmt->Step(); }
    std::string Text(int column) { return m_pStmt->Text(column); }
    int64_t Int(int column) { return m_pStmt->Int(column); }

private:
    std::unique_ptr<CStoreStatement> m_pStmt;
};

// The store's write lock and a transaction now; rolled back unless committed.
class Transaction
{
public:
    explicit Transaction(CStoreConnection* db) : m_pDb(db) { m_pDb->Begin(); }
    ~Transaction()
    {
        if (!m_bDone)
            m_pDb->Rollback();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit()
    {
        m_pDb->Commit();
        m_bDone = true;
    }

private:
    CStoreConnection* m_pDb;
    bool m_bDone = false;
};

// The starting directory of a new store, and the demonstration directory.
struct DirectoryNames
{
    const char* company;
    const char* managers;
    const char* staff;
    const char* serverDomain; // the key servers' placeholder addresses
};
constexpr DirectoryNames kStartNames = {"COMPANY", "MANAGERS", "STAFF", "invalid"};
constexpr DirectoryNames kDemoNames = {"DEMOCO", "DEMO-MANAGERS", "DEMO-STAFF", "demo.invalid"};
constexpr char kDemoSuperKey[] = "DEMOSUPERKEY0001";
constexpr char kDemoAppList[] = "WINWORD.EXE|vlhook_word.dll|EXCEL.EXE|vlhook_excel.dll|"
                                "POWERPNT.EXE|vlhook_ppt.dll|NOTEPAD.EXE|vlhook_text.dll|";

struct DemoLevel
{
    int32_t level;
    const char* name;
    const char* defaultRights;
    const char* managerRights;
};

constexpr DemoLevel kDemoLevels[] = {
    {1, "Public", "RWPX", "RWPX"},
    {2, "Internal", "RWP", "RWPX"},
    {3, "Confidential", "R", "RWP"},
    {4, "Secret", "-", "R"},
};

// The ACL data of a user and level: "user:level:rights", zero-filled to 42 bytes.
std::string AclData(const std::string& userID, int32_t level, const std::string& rights)
{
    std::string data = userID + ":" + std::to_string(level) + ":" + rights;
    data.resize(sizeof(ACL_INFO), '\0');
    return data;
}

TakeOutRequest ReadTakeOut(Statement& row)
{
    TakeOutRequest request;
    request.key = row.Text(0);
    request.userID = row.Text(1);
    request.state = static_cast<int32_t>(row.Int(2));
    request.reason = row.Text(3);
    request.requestedStart = row.Text(4);
    request.requestedEnd = row.Text(5);
    request.approvedStart = row.Text(6);
    request.approvedEnd = row.Text(7);
    request.updatedAt = row.Text(8);
    return request;
}

constexpr char kTakeOutColumns[] = "SELECT takeout_key, user_id, state, reason, requested_start, requested_end, "
                                   "approved_start, approved_end, updated_at FROM takeouts ";

} // namespace

namespace {

bool HasSchema(CStoreConnection* db)
{
    return db->HasTable("meta");
}

// The time days before an ISO 8601 UTC time, in the same form; empty when at is not one.
std::string DaysBefore(const std::string& at, int64_t days)
{
    struct tm utc = {};
    const char* end = strptime(at.c_str(), "%Y-%m-%dT%H:%M:%SZ", &utc);
    if (end == nullptr || *end != '\0')
        return std::string();
    return CPolicyStore::FormatTime(static_cast<int64_t>(timegm(&utc)) - days * 86400);
}

} // namespace

CPolicyStore::CPolicyStore(const std::string& path, const StoreOptions& options) : m_options(options)
{
    m_options.exchangeKeepRows = std::max<int64_t>(1, m_options.exchangeKeepRows);
    m_options.exchangeKeepDays = std::max<int64_t>(1, m_options.exchangeKeepDays);
    if (IsPostgresLocator(path)) {
        m_bPostgres = true;
        m_pWriter = std::make_unique<CPgConnection>(path, false, m_options.busyTimeoutMs);
        CreateIfNew();
        // These two connect when first used: a command that only reads opens one more connection.
        m_pJournal = std::make_unique<CPgConnection>(path, true, m_options.busyTimeoutMs, false);
        m_pReader = std::make_unique<CPgConnection>(path, false, m_options.busyTimeoutMs, false);
        return;
    }
    m_pWriter = std::make_unique<CSqliteConnection>(path, "FULL", m_options.busyTimeoutMs);
    // Only a store not yet in WAL mode is switched (that takes the write lock); one already in it,
    // the usual case beside a running server, is only read here.
    bool wal = false;
    {
        Statement mode(m_pWriter.get(), "PRAGMA journal_mode");
        wal = mode.Step() && mode.Text(0) == "wal";
    }
    if (!wal)
        Execute(m_pWriter.get(), "PRAGMA journal_mode=WAL");
    CreateIfNew();
    m_pJournal = std::make_unique<CSqliteConnection>(path, "NORMAL", m_options.busyTimeoutMs);
    m_pReader = std::make_unique<CSqliteConnection>(path, "FULL", m_options.busyTimeoutMs);
}

CPolicyStore::~CPolicyStore() = default;

void CPolicyStore::CreateIfNew()
{
    CStoreConnection* const db = m_pWriter.get();
    if (!HasSchema(db)) {
        // The demonstration passwords are hashed before the write lock is taken.
        std::string hashes[2];
        if (m_options.demo) {
            hashes[0] = HashPassword("demo-pass-01");
            hashes[1] = HashPassword("demo-pass-02");
        }
        Transaction transaction(db);
        if (!HasSchema(db)) { // another process may have created it meanwhile
            if (m_bPostgres) {
                Execute(db, kPgSchema);
            } else {
                Execute(db, kSchema);
                Execute(db, kLaterSchema);
                Execute(db, kClientUsersSchema);
            }
            Statement(db, "INSERT INTO meta(name, value) VALUES ('schema', ?1)")
                .Bind(1, std::string(kSchemaVersion))
                .Step();
            SeedDirectory(m_options.demo, hashes[0], hashes[1]);
            transaction.Commit();
            m_bCreated = true;
            return;
        }
    }
    Statement version(db, "SELECT value FROM meta WHERE name = 'schema'");
    if (!version.Step() || version.Text(0) != kSchemaVersion)
        throw CStoreError("the database has an unknown layout (not a vlpolicyd database of this version)");
    AddLaterTables();
}

void CPolicyStore::AddLaterTables()
{
    CStoreConnection* const db = m_pWriter.get();
    auto present = [db] {
        return db->HasTable(kAdminsTable) && db->HasTable(kClientUsersTable) && db->HasTable(kSessionsTable) &&
               db->HasColumn("users", kLoginsColumn) && db->HasColumn(kAdminsTable, kLoginsColumn);
    };
    if (present()) // the usual case: only read
        return;
    Transaction transaction(db);
    Execute(db, kLaterSchema);
    Execute(db, kClientUsersSchema);
    for (const char* table : {"users", kAdminsTable})
        if (!db->HasColumn(table, kLoginsColumn)) // checked again under the lock
            Execute(db, (std::string("ALTER TABLE ") + table + " ADD COLUMN " + kLoginsColumn +
                         " INTEGER NOT NULL DEFAULT 0")
                            .c_str());
    transaction.Commit();
}

void CPolicyStore::SeedDirectory(bool demo, const std::string& managerHash, const std::string& staffHash)
{
    CStoreConnection* const db = m_pWriter.get();
    const DirectoryNames& names = demo ? kDemoNames : kStartNames;
    // A store of its own has a super key nobody else knows; the demonstration's is the published one.
    const std::string superKey = demo ? std::string(kDemoSuperKey) : RandomHex(8);
    const std::string domain = names.serverDomain;
    Statement(db, "INSERT INTO companies VALUES (?1, ?2, ?3, ?4, ?5)")
        .Bind(1, std::string(names.company))
        .Bind(2, superKey)
        .Bind(3, "dkms." + domain + ":7001")
        .Bind(4, "dtss." + domain + ":7002")
        .Bind(5, "dls." + domain + ":7003")
        .Step();
    for (const char* group : {names.managers, names.staff})
        Statement(db, "INSERT INTO user_groups VALUES (?1, ?2)")
            .Bind(1, std::string(group))
            .Bind(2, std::string(names.company))
            .Step();
    // Recognisable values: each policy its own number, each kind's flag its place plus one.
    std::string flags(APP_FLAG_COUNT, '\0');
    for (int i = 0; i < APP_FLAG_COUNT; ++i)
        flags[static_cast<size_t>(i)] = static_cast<char>(i + 1);
    Statement(db, "INSERT INTO policy VALUES (1, 1, 2, 3, 4, 5, 6, ?1, ?2)")
        .BindBlob(1, flags)
        .Bind(2, std::string(kDemoAppList))
        .Step();
    for (const DemoLevel& level : kDemoLevels)
        Statement(db, "INSERT INTO levels VALUES (?1, ?2, ?3)")
            .Bind(1, static_cast<int64_t>(level.level))
            .Bind(2, std::string(level.name))
            .Bind(3, std::string(level.defaultRights))
            .Step();
    if (!demo)
        return;
    InsertUser("demo01", managerHash, names.company, names.managers, "P01");
    InsertUser("demo02", staffHash, names.company, names.staff, "P02");
    for (const DemoLevel& level : kDemoLevels)
        Statement(db, "UPDATE acl SET data = ?1 WHERE user_id = 'demo01' AND level = ?2")
            .BindBlob(1, AclData("demo01", level.level, level.managerRights))
            .Bind(2, static_cast<int64_t>(level.level))
            .Step();
}

void CPolicyStore::InsertUser(const std::string& userID, const std::string& passwordHash,
                              const std::string& companyID, const std::string& groupID,
                              const std::string& positionID)
{
    CStoreConnection* const db = m_pWriter.get();
    Statement company(db, "SELECT count(*) FROM companies WHERE company_id = ?1");
    company.Bind(1, companyID).Step();
    if (company.Int(0) == 0)
        throw CStoreError("unknown company " + companyID);
    Statement group(db, "SELECT count(*) FROM user_groups WHERE group_id = ?1 AND company_id = ?2");
    group.Bind(1, groupID).Bind(2, companyID).Step();
    if (group.Int(0) == 0)
        throw CStoreError("unknown group " + groupID + " in company " + companyID);
    Statement exists(db, "SELECT count(*) FROM users WHERE user_id = ?1");
    exists.Bind(1, userID).Step();
    if (exists.Int(0) != 0)
        throw CStoreError("user " + userID + " exists already");
    Statement(db, "INSERT INTO users(user_id, password_hash, company_id, group_id, position) "
                  "VALUES (?1, ?2, ?3, ?4, ?5)")
        .Bind(1, userID)
        .Bind(2, passwordHash)
        .Bind(3, companyID)
        .Bind(4, groupID)
        .Bind(5, positionID)
        .Step();
    Statement levels(db, "SELECT level, default_rights FROM levels ORDER BY level");
    while (levels.Step()) {
        const int32_t level = static_cast<int32_t>(levels.Int(0));
        Statement(db, "INSERT INTO acl VALUES (?1, ?2, ?3)")
            .Bind(1, userID)
            .Bind(2, static_cast<int64_t>(level))
            .BindBlob(3, AclData(userID, level, levels.Text(1)))
            .Step();
    }
}

int CPolicyStore::Login(const std::string& userID, const std::string& password, int64_t now, UserPolicy& policy)
{
    UserPolicy found;
    const int status = CheckAccount(kUsers, userID, password, now,
                                    [&](std::string& hash) { return ReadLogin(userID, hash, found); });
    if (status == 40000)
        policy = std::move(found);
    return status;
}

int CPolicyStore::CheckAccount(const AccountTable& table, const std::string& id, const std::string& password,
                               int64_t now, const std::function<bool(std::string&)>& readHash)
{
    // The password is checked with no lock held and no transaction open: what the login needs is
    // read first, and the outcome is settled afterwards against the row as it is then.
    for (int attempt = 0; attempt < kLoginAttempts; ++attempt) {
        std::string passwordHash;
        if (!readHash(passwordHash)) {
            VerifyNothing(password);
            ++m_nPasswordChecks;
            return 41001;
        }
        const bool matches = VerifyPassword(password, passwordHash);
        ++m_nPasswordChecks;
        const int status = SettleLogin(table, id, passwordHash, matches, now);
        if (status == kPasswordChanged)
            continue; // checked against a password that is no longer the account's: check again
        if (status == 40000 && NeedsRehash(passwordHash))
            UpgradeHash(table, id, passwordHash, password);
        return status;
    }
    return 41001;
}

bool CPolicyStore::ReadLogin(const std::string& userID, std::string& passwordHash, UserPolicy& out)
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    CStoreConnection* const db = m_pReader.get();
    Statement user(db, "SELECT u.password_hash, u.group_id, u.position, u.company_id, c.super_key, c.dkms, c.dtss, "
                       "c.dls FROM users u JOIN companies c ON c.company_id = u.company_id WHERE u.user_id = ?1");
    if (!user.Bind(1, userID).Step())
        return false;
    passwordHash = user.Text(0);
    out.userID = userID;
    out.groupID = user.Text(1);
    out.positionID = user.Text(2);
    out.companyID = user.Text(3);
    out.superKey = user.Text(4);
    out.dkms = user.Text(5);
    out.dtss = user.Text(6);
    out.dls = user.Text(7);
    Statement set(db, "SELECT offline_policy, online_control, doc_exchange, count_control, time_sync, "
                      "protect_remote_tool, app_flags, app_list FROM policy WHERE id = 1");
    if (!set.Step())
        throw CStoreError("store: the policy set is missing");
    out.nOfflinePolicy = static_cast<uint8_t>(set.Int(0));
    out.nOnlineControl = static_cast<uint8_t>(set.Int(1));
    out.nDocExchangePolicy = static_cast<uint8_t>(set.Int(2));
    out.nCountControl = static_cast<uint8_t>(set.Int(3));
    out.nTimeSync = static_cast<uint8_t>(set.Int(4));
    out.nProtectRemoteTool = static_cast<uint8_t>(set.Int(5));
    const std::string flags = set.Text(6);
    memcpy(out.abAppFlags, flags.data(), std::min(flags.size(), sizeof(out.abAppFlags)));
    out.appList = set.Text(7);
    return true;
}

int CPolicyStore::LoginState(const AccountTable& table, const std::string& userID, const std::string& passwordHash,
                             int64_t now, bool& counted)
{
    Statement row(m_pWriter.get(), (std::string("SELECT password_hash, failed_logins, locked_until FROM ") +
                                    table.table + " WHERE " + table.idColumn + " = ?1")
                                       .c_str());
    if (!row.Bind(1, userID).Step())
        return 41001;
    if (row.Text(0) != passwordHash)
        return kPasswordChanged;
    if (row.Int(2) > now)
        return 41002;
    counted = row.Int(1) != 0 || row.Int(2) != 0;
    return 0;
}

int CPolicyStore::SettleLogin(const AccountTable& table, const std::string& userID, const std::string& passwordHash,
                              bool matches, int64_t now)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    bool counted = false;
    if (matches) {
        if (const int state = LoginState(table, userID, passwordHash, now, counted))
            return state;
    }
    // Every attempt is written before it is answered, a success too: while the store cannot write
    // (busy beyond its time-out, disk full, read-only) the statement throws and the attempt is
    // refused, so that wrong guesses cannot go on uncounted while a right one still gets in.
    // One statement reads and writes the counts under the database's write lock, so that failures
    // at the same time each count once; it changes nothing when the account is locked by then, or
    // removed, or has another password. A failure, and a success that clears failures, is
    // synchronous (a lock-out survives a crash); the usual success only adds to the count of
    // logins, through the journal's connection, which a power cut may lose without harm.
    CStoreConnection* const db = matches && !counted ? m_pJournal.get() : m_pWriter.get();
    const std::string where =
        std::string(" WHERE ") + table.idColumn + " = ?1 AND password_hash = ?2 AND locked_until <= ?3";
    Statement update(db, ((matches ? std::string("UPDATE ") + table.table +
                                         " SET failed_logins = 0, locked_until = 0, logins = logins + 1"
                                   : std::string("UPDATE ") + table.table +
                                         " SET failed_logins = "
                                         "CASE WHEN failed_logins + 1 >= ?4 THEN 0 ELSE failed_logins + 1 END, "
                                         "locked_until = CASE WHEN failed_logins + 1 >= ?4 THEN ?3 + ?5 ELSE 0 END") +
                          where + (matches ? "" : " RETURNING locked_until"))
                             .c_str());
    update.Bind(1, userID).Bind(2, passwordHash).Bind(3, now);
    if (!matches)
        update.Bind(4, int64_t{kLockThreshold}).Bind(5, kLockSeconds);
    bool changed = false;
    if (matches) {
        update.Step();
        changed = db->Changes() != 0;
    } else if (update.Step()) {
        // The failure was counted; this one may have locked the account.
        changed = true;
        if (update.Int(0) > now)
            ++m_nLockouts[&table == &kAdmins ? 1 : 0];
        while (update.Step()) {
        }
    }
    if (changed)
        return matches ? 40000 : 41001;
    if (const int state = LoginState(table, userID, passwordHash, now, counted))
        return state;
    // Open again by now (unlocked between the two statements): a success stands, a failure is
    // checked once more so that it is counted.
    return matches ? 40000 : kPasswordChanged;
}

void CPolicyStore::UpgradeHash(const AccountTable& table, const std::string& id, const std::string& oldHash,
                               const std::string& password)
{
    try {
        const std::string newHash = HashPassword(password); // before the write lock
        std::lock_guard<std::mutex> lock(m_writeMutex);
        Statement(m_pWriter.get(), (std::string("UPDATE ") + table.table + " SET password_hash = ?3 WHERE " +
                                    table.idColumn + " = ?1 AND password_hash = ?2")
                                       .c_str())
            .Bind(1, id)
            .Bind(2, oldHash)
            .Bind(3, newHash)
            .Step();
    } catch (const std::exception&) {
        // The login stands; the old hash still verifies and is replaced at a later login.
    }
}

void CPolicyStore::RememberClient(const std::string& address, const std::string& userID, int64_t now)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    CStoreConnection* const db = m_pJournal.get();
    Transaction transaction(db);
    Statement(db, "INSERT INTO client_logins VALUES (?1, ?2, ?3) "
                  "ON CONFLICT(address) DO UPDATE SET user_id = excluded.user_id, at = excluded.at")
        .Bind(1, address)
        .Bind(2, userID)
        .Bind(3, FormatTime(now))
        .Step();
    RememberClientUser(address, userID, now);
    transaction.Commit();
}

void CPolicyStore::RememberClientUser(const std::string& address, const std::string& userID, int64_t now)
{
    CStoreConnection* const db = m_pJournal.get();
    Statement(db, "INSERT INTO client_users VALUES (?1, ?2, ?3) "
                  "ON CONFLICT(address, user_id) DO UPDATE SET at = excluded.at")
        .Bind(1, address)
        .Bind(2, userID)
        .Bind(3, now)
        .Step();
    // Bounded: the newest users of an address, and nothing older than the longest memory.
    Statement(db, "DELETE FROM client_users WHERE address = ?1 AND at < (SELECT at FROM client_users "
                  "WHERE address = ?1 ORDER BY at DESC LIMIT 1 OFFSET ?2)")
        .Bind(1, address)
        .Bind(2, int64_t{kClientUsersPerAddress - 1})
        .Step();
    Statement(db, "DELETE FROM client_users WHERE at < ?1").Bind(1, now - kClientMemoryMaxSeconds).Step();
}

bool CPolicyStore::LoggedInFrom(const std::string& address, const std::string& userID, int64_t since)
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    Statement row(m_pReader.get(), "SELECT count(*) FROM client_users WHERE address = ?1 AND user_id = ?2 AND at >= ?3");
    row.Bind(1, address).Bind(2, userID).Bind(3, since).Step();
    return row.Int(0) != 0;
}

std::optional<std::string> CPolicyStore::ClientUser(const std::string& address)
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    CStoreConnection* const db = m_pReader.get();
    Statement row(db, "SELECT user_id FROM client_logins WHERE address = ?1");
    if (!row.Bind(1, address).Step())
        return std::nullopt;
    return row.Text(0);
}

bool CPolicyStore::UserExists(const std::string& userID)
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    CStoreConnection* const db = m_pReader.get();
    Statement row(db, "SELECT count(*) FROM users WHERE user_id = ?1");
    row.Bind(1, userID).Step();
    return row.Int(0) != 0;
}

void CPolicyStore::AddHistory(const std::string& key, int32_t state, const std::string& start,
                              const std::string& end, const std::string& reason, const std::string& actor,
                              int64_t now)
{
    Statement(m_pWriter.get(), "INSERT INTO takeout_history(takeout_key, at, state, start_date, end_date, "
                               "reason, actor) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)")
        .Bind(1, key)
        .Bind(2, FormatTime(now))
        .Bind(3, static_cast<int64_t>(state))
        .Bind(4, start)
        .Bind(5, end)
        .Bind(6, reason)
        .Bind(7, actor)
        .Step();
}

std::string CPolicyStore::CreateTakeOut(const std::string& userID, const std::string& start, const std::string& end,
                                        const std::string& reason, int64_t now)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    CStoreConnection* const db = m_pWriter.get();
    Transaction transaction(db);
    // At most one request in force per user: a new one cancels the earlier.
    Statement earlier(db, "SELECT takeout_key FROM takeouts WHERE user_id = ?1 AND state IN (0, 1)");
    earlier.Bind(1, userID);
    std::vector<std::string> superseded;
    while (earlier.Step())
        superseded.push_back(earlier.Text(0));
    for (const std::string& key : superseded) {
        Statement(db, "UPDATE takeouts SET state = 4, updated_at = ?2 WHERE takeout_key = ?1")
            .Bind(1, key)
            .Bind(2, FormatTime(now))
            .Step();
        AddHistory(key, TAKEOUT_CANCELLED, "", "", "", "superseded", now);
    }
    const std::string key = RandomHex(16);
    Statement(db, "INSERT INTO takeouts(takeout_key, user_id, state, reason, requested_start, requested_end, "
                  "created_at, updated_at) VALUES (?1, ?2, 0, ?3, ?4, ?5, ?6, ?6)")
        .Bind(1, key)
        .Bind(2, userID)
        .Bind(3, reason)
        .Bind(4, start)
        .Bind(5, end)
        .Bind(6, FormatTime(now))
        .Step();
    AddHistory(key, TAKEOUT_REQUESTED, start, end, reason, userID, now);
    transaction.Commit();
    return key;
}

std::optional<TakeOutRequest> CPolicyStore::FindTakeOut(const std::string& key)
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    CStoreConnection* const db = m_pReader.get();
    Statement row(db, (std::string(kTakeOutColumns) + "WHERE takeout_key = ?1 AND state <> 5").c_str());
    if (!row.Bind(1, key).Step())
        return std::nullopt;
    return ReadTakeOut(row);
}

std::optional<std::string> CPolicyStore::EditTakeOut(const std::string& userID, const std::string& start,
                                                     const std::string& end, const std::string& reason, int64_t now)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    CStoreConnection* const db = m_pWriter.get();
    Transaction transaction(db);
    Statement current(db, "SELECT takeout_key FROM takeouts WHERE user_id = ?1 AND state IN (0, 1) "
                          "ORDER BY created_at DESC LIMIT 1");
    if (!current.Bind(1, userID).Step())
        return std::nullopt;
    const std::string key = current.Text(0);
    Statement(db, "UPDATE takeouts SET state = 0, reason = ?2, requested_start = ?3, requested_end = ?4, "
                  "approved_start = '', approved_end = '', updated_at = ?5 WHERE takeout_key = ?1")
        .Bind(1, key)
        .Bind(2, reason)
        .Bind(3, start)
        .Bind(4, end)
        .Bind(5, FormatTime(now))
        .Step();
    AddHistory(key, TAKEOUT_REQUESTED, start, end, reason, userID, now);
    transaction.Commit();
    return key;
}

bool CPolicyStore::DeleteTakeOut(const std::string& key, const std::string& actor, int64_t now)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    CStoreConnection* const db = m_pWriter.get();
    Transaction transaction(db);
    Statement update(db, "UPDATE takeouts SET state = 5, updated_at = ?2 WHERE takeout_key = ?1 AND state <> 5");
    update.Bind(1, key).Bind(2, FormatTime(now)).Step();
    if (db->Changes() == 0)
        return false;
    AddHistory(key, TAKEOUT_DELETED, "", "", "", actor, now);
    transaction.Commit();
    return true;
}

DecisionResult CPolicyStore::Decide(const std::string& key, int32_t state, const std::string& start,
                                    const std::string& end, const std::string& comment, const std::string& actor,
                                    int64_t now)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    CStoreConnection* const db = m_pWriter.get();
    Transaction transaction(db);
    Statement row(db, "SELECT state, requested_start, requested_end FROM takeouts WHERE takeout_key = ?1");
    if (!row.Bind(1, key).Step())
        return DecisionResult::UnknownKey;
    const int64_t current = row.Int(0);
    if (current == TAKEOUT_DELETED)
        return DecisionResult::UnknownKey;
    if (current != TAKEOUT_REQUESTED && current != TAKEOUT_APPROVED)
        return DecisionResult::NotOpen;
    const bool approve = state == TAKEOUT_APPROVED;
    const std::string approvedStart = approve ? (start.empty() ? row.Text(1) : start) : std::string();
    const std::string approvedEnd = approve ? (end.empty() ? row.Text(2) : end) : std::string();
    Statement(db, "UPDATE takeouts SET state = ?2, approved_start = ?3, approved_end = ?4, updated_at = ?5 "
                  "WHERE takeout_key = ?1")
        .Bind(1, key)
        .Bind(2, static_cast<int64_t>(state))
        .Bind(3, approvedStart)
        .Bind(4, approvedEnd)
        .Bind(5, FormatTime(now))
        .Step();
    AddHistory(key, state, approvedStart, approvedEnd, comment, actor, now);
    transaction.Commit();
    return DecisionResult::Done;
}

DecisionResult CPolicyStore::Approve(const std::string& key, const std::string& start, const std::string& end,
                                     int64_t now, const std::string& comment, const std::string& actor)
{
    return Decide(key, TAKEOUT_APPROVED, start, end, comment, actor, now);
}

DecisionResult CPolicyStore::Refuse(const std::string& key, int64_t now, const std::string& comment,
                                    const std::string& actor)
{
    return Decide(key, TAKEOUT_REFUSED, "", "", comment, actor, now);
}

DecisionResult CPolicyStore::Cancel(const std::string& key, int64_t now)
{
    return Decide(key, TAKEOUT_CANCELLED, "", "", "", "admin", now);
}

std::vector<TakeOutEvent> CPolicyStore::TakeOutHistory()
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    Statement rows(m_pReader.get(), "SELECT takeout_key, at, state, start_date, end_date, reason, actor "
                                    "FROM takeout_history ORDER BY id");
    std::vector<TakeOutEvent> list;
    while (rows.Step())
        list.push_back({rows.Text(0), rows.Text(1), static_cast<int32_t>(rows.Int(2)), rows.Text(3), rows.Text(4),
                        rows.Text(5), rows.Text(6)});
    return list;
}

std::vector<TakeOutRequest> CPolicyStore::ListTakeOuts()
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    CStoreConnection* const db = m_pReader.get();
    Statement rows(db, (std::string(kTakeOutColumns) + "ORDER BY created_at, rowid").c_str());
    std::vector<TakeOutRequest> list;
    while (rows.Step())
        list.push_back(ReadTakeOut(rows));
    return list;
}

std::vector<DocLevelEntry> CPolicyStore::Levels()
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    CStoreConnection* const db = m_pReader.get();
    Statement rows(db, "SELECT level, name FROM levels ORDER BY level LIMIT 10");
    std::vector<DocLevelEntry> list;
    while (rows.Step())
        list.push_back({static_cast<int32_t>(rows.Int(0)), rows.Text(1)});
    return list;
}

int CPolicyStore::Acl(const std::string& userID, int32_t level, std::string& data)
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    CStoreConnection* const db = m_pReader.get();
    Statement user(db, "SELECT count(*) FROM users WHERE user_id = ?1");
    user.Bind(1, userID).Step();
    if (user.Int(0) == 0)
        return 41001;
    Statement row(db, "SELECT data FROM acl WHERE user_id = ?1 AND level = ?2");
    if (!row.Bind(1, userID).Bind(2, static_cast<int64_t>(level)).Step())
        return 45005;
    data = row.Text(0);
    return 40000;
}

void CPolicyStore::AddUser(const std::string& userID, const std::string& password, const std::string& companyID,
                           const std::string& groupID, const std::string& positionID)
{
    const std::string passwordHash = HashPassword(password); // before the write lock
    std::lock_guard<std::mutex> lock(m_writeMutex);
    Transaction transaction(m_pWriter.get());
    InsertUser(userID, passwordHash, companyID, groupID, positionID);
    transaction.Commit();
}

std::vector<UserEntry> CPolicyStore::ListUsers()
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    CStoreConnection* const db = m_pReader.get();
    Statement rows(db, "SELECT user_id, company_id, group_id, position, failed_logins, locked_until "
                       "FROM users ORDER BY user_id");
    std::vector<UserEntry> list;
    while (rows.Step())
        list.push_back({rows.Text(0), rows.Text(1), rows.Text(2), rows.Text(3), static_cast<int>(rows.Int(4)),
                        rows.Int(5)});
    return list;
}

bool CPolicyStore::RemoveUser(const std::string& userID)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    CStoreConnection* const db = m_pWriter.get();
    Transaction transaction(db);
    Statement(db, "DELETE FROM users WHERE user_id = ?1").Bind(1, userID).Step();
    if (db->Changes() == 0)
        return false;
    Statement(db, "DELETE FROM acl WHERE user_id = ?1").Bind(1, userID).Step();
    Statement(db, "DELETE FROM client_logins WHERE user_id = ?1").Bind(1, userID).Step();
    Statement(db, "DELETE FROM client_users WHERE user_id = ?1").Bind(1, userID).Step();
    transaction.Commit();
    return true;
}

bool CPolicyStore::UnlockUser(const std::string& userID)
{
    return ClearFailures(kUsers, userID);
}

bool CPolicyStore::ClearFailures(const AccountTable& table, const std::string& id)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    CStoreConnection* const db = m_pWriter.get();
    Statement(db, (std::string("UPDATE ") + table.table + " SET failed_logins = 0, locked_until = 0 WHERE " +
                   table.idColumn + " = ?1")
                      .c_str())
        .Bind(1, id)
        .Step();
    return db->Changes() != 0;
}

std::optional<UserEntry> CPolicyStore::FindUser(const std::string& userID)
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    Statement row(m_pReader.get(), "SELECT user_id, company_id, group_id, position, failed_logins, locked_until "
                                   "FROM users WHERE user_id = ?1");
    if (!row.Bind(1, userID).Step())
        return std::nullopt;
    return UserEntry{row.Text(0), row.Text(1), row.Text(2), row.Text(3), static_cast<int>(row.Int(4)), row.Int(5)};
}

void CPolicyStore::AddAdmin(const std::string& name, const std::string& password)
{
    const std::string passwordHash = HashPassword(password); // before the write lock
    std::lock_guard<std::mutex> lock(m_writeMutex);
    CStoreConnection* const db = m_pWriter.get();
    Transaction transaction(db);
    Statement exists(db, "SELECT count(*) FROM admins WHERE name = ?1");
    exists.Bind(1, name).Step();
    if (exists.Int(0) != 0)
        throw CStoreError("administrator " + name + " exists already");
    Statement(db, "INSERT INTO admins(name, password_hash) VALUES (?1, ?2)").Bind(1, name).Bind(2, passwordHash).Step();
    transaction.Commit();
}

std::vector<AdminEntry> CPolicyStore::ListAdmins()
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    Statement rows(m_pReader.get(), "SELECT name, failed_logins, locked_until FROM admins ORDER BY name");
    std::vector<AdminEntry> list;
    while (rows.Step())
        list.push_back({rows.Text(0), static_cast<int>(rows.Int(1)), rows.Int(2)});
    return list;
}

bool CPolicyStore::RemoveAdmin(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    CStoreConnection* const db = m_pWriter.get();
    Statement(db, "DELETE FROM admins WHERE name = ?1").Bind(1, name).Step();
    return db->Changes() != 0;
}

bool CPolicyStore::UnlockAdmin(const std::string& name)
{
    return ClearFailures(kAdmins, name);
}

bool CPolicyStore::AdminExists(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    Statement row(m_pReader.get(), "SELECT count(*) FROM admins WHERE name = ?1");
    row.Bind(1, name).Step();
    return row.Int(0) != 0;
}

int CPolicyStore::AdminLogin(const std::string& name, const std::string& password, int64_t now)
{
    return CheckAccount(kAdmins, name, password, now, [&](std::string& hash) {
        std::lock_guard<std::mutex> lock(m_readMutex);
        Statement row(m_pReader.get(), "SELECT password_hash FROM admins WHERE name = ?1");
        if (!row.Bind(1, name).Step())
            return false;
        hash = row.Text(0);
        return true;
    });
}

std::string CPolicyStore::DefaultCompany()
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    CStoreConnection* const db = m_pReader.get();
    Statement row(db, "SELECT company_id FROM companies ORDER BY rowid LIMIT 1");
    return row.Step() ? row.Text(0) : std::string();
}

std::string CPolicyStore::DefaultGroup()
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    CStoreConnection* const db = m_pReader.get();
    Statement row(db, "SELECT group_id FROM user_groups ORDER BY rowid DESC LIMIT 1");
    return row.Step() ? row.Text(0) : std::string();
}

void CPolicyStore::LogExchange(const ExchangeEntry& entry)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    CStoreConnection* const db = m_pJournal.get();
    Transaction transaction(db);
    Statement(db, "INSERT INTO exchanges(at, client, kind, user_id, status) VALUES (?1, ?2, ?3, ?4, ?5)")
        .Bind(1, entry.at)
        .Bind(2, entry.client)
        .Bind(3, entry.kind)
        .Bind(4, entry.userID)
        .Bind(5, static_cast<int64_t>(entry.status))
        .Step();
    PruneExchanges(db, entry.at);
    transaction.Commit();
}

void CPolicyStore::PruneExchanges(CStoreConnection* db, const std::string& newest)
{
    // Rows are numbered in the order they come, so the oldest are the lowest numbers: those past
    // the row limit go, and the leading ones older than the age limit (a row that came out of
    // order, after the clock was set back, waits for the rows before it). Each step only reads
    // the ends of the table unless rows are due, and drops at most kPruneBatch.
    Statement first(db, "SELECT id, at FROM exchanges ORDER BY id LIMIT 1");
    if (!first.Step())
        return;
    const int64_t firstID = first.Int(0);
    const std::string firstAt = first.Text(1);
    Statement last(db, "SELECT max(id) FROM exchanges");
    last.Step();
    int64_t dropTo = last.Int(0) - m_options.exchangeKeepRows; // every row up to this number goes
    const std::string cutoff = DaysBefore(newest, m_options.exchangeKeepDays);
    if (!cutoff.empty() && firstAt < cutoff) {
        Statement oldest(db, "SELECT id, at FROM exchanges ORDER BY id LIMIT ?1");
        oldest.Bind(1, kPruneBatch);
        while (oldest.Step() && oldest.Text(1) < cutoff)
            dropTo = std::max(dropTo, oldest.Int(0));
    }
    dropTo = std::min(dropTo, firstID + kPruneBatch - 1);
    if (dropTo >= firstID)
        Statement(db, "DELETE FROM exchanges WHERE id <= ?1").Bind(1, dropTo).Step();
}

std::vector<ExchangeEntry> CPolicyStore::LastExchanges(int count)
{
    std::lock_guard<std::mutex> lock(m_readMutex);
    CStoreConnection* const db = m_pReader.get();
    Statement rows(db, "SELECT at, client, kind, user_id, status FROM "
                       "(SELECT * FROM exchanges ORDER BY id DESC LIMIT ?1) AS recent ORDER BY id");
    rows.Bind(1, static_cast<int64_t>(count));
    std::vector<ExchangeEntry> list;
    while (rows.Step())
        list.push_back({rows.Text(0), rows.Text(1), rows.Text(2), rows.Text(3), static_cast<int>(rows.Int(4))});
    return list;
}

std::string CPolicyStore::FormatTime(int64_t now)
{
    const time_t seconds = static_cast<time_t>(now);
    struct tm utc;
    gmtime_r(&seconds, &utc);
    char text[32];
    strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

void CPolicyStore::OpenAdminSession(const std::string& idHash, const std::string& name, const std::string& token,
                                    int64_t now, int64_t idleSeconds)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    CStoreConnection* const db = m_pWriter.get();
    Transaction transaction(db);
    // Ended sessions are dropped here, so the table holds only those of the last idle period.
    Statement(db, "DELETE FROM admin_sessions WHERE last_used < ?1").Bind(1, now - idleSeconds).Step();
    Statement(db, "INSERT INTO admin_sessions(id_hash, name, token, last_used) VALUES (?1, ?2, ?3, ?4)")
        .Bind(1, idHash)
        .Bind(2, name)
        .Bind(3, token)
        .Bind(4, now)
        .Step();
    transaction.Commit();
}

bool CPolicyStore::UseAdminSession(const std::string& idHash, int64_t now, int64_t idleSeconds, std::string& name,
                                   std::string& token)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    // One statement finds the session and starts its idle time again, so that a sign-out or an
    // expiry on another instance is never undone by a use that read the row before it.
    CStoreConnection* const db = m_pJournal.get();
    Statement use(db, "UPDATE admin_sessions SET last_used = ?2 WHERE id_hash = ?1 AND last_used >= ?3 "
                      "RETURNING name, token");
    if (use.Bind(1, idHash).Bind(2, now).Bind(3, now - idleSeconds).Step()) {
        name = use.Text(0);
        token = use.Text(1);
        return true;
    }
    Statement(db, "DELETE FROM admin_sessions WHERE id_hash = ?1").Bind(1, idHash).Step();
    return false;
}

void CPolicyStore::CloseAdminSession(const std::string& idHash)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    Statement(m_pWriter.get(), "DELETE FROM admin_sessions WHERE id_hash = ?1").Bind(1, idHash).Step();
}

bool CPolicyStore::Ping()
{
    try {
        std::lock_guard<std::mutex> lock(m_readMutex);
        Statement row(m_pReader.get(), "SELECT 1");
        return row.Step() && row.Int(0) == 1;
    } catch (const std::exception&) {
        return false;
    }
}

int64_t CPolicyStore::PasswordChecks() const
{
    return m_nPasswordChecks;
}

int64_t CPolicyStore::Lockouts(bool admins) const
{
    return m_nLockouts[admins ? 1 : 0];
}

int64_t CPolicyStore::Reconnects()
{
    int64_t count = 0;
    {
        std::lock_guard<std::mutex> lock(m_writeMutex);
        count += m_pWriter->Reconnects() + m_pJournal->Reconnects();
    }
    std::lock_guard<std::mutex> lock(m_readMutex);
    return count + m_pReader->Reconnects();
}

} // namespace vlpolicy
