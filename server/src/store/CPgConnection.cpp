#include "store/CPgConnection.h"

#include <libpq-fe.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace vlpolicy {

namespace {

constexpr unsigned int kTextType = 25;  // text
constexpr unsigned int kInt8Type = 20;  // bigint
constexpr unsigned int kByteaType = 17; // bytea
// The advisory lock that stands for the store's write lock: a number of our own and the store's
// schema, so that stores in other schemas of the same database do not wait for each other.
constexpr char kWriteLock[] = "SELECT pg_advisory_xact_lock(1986621551, hashtext(current_schema()))";
// After a failed connection attempt, callers fail at once for this long instead of waiting for
// their own attempt each.
constexpr auto kReconnectPause = std::chrono::seconds(1);

struct ResultCloser
{
    void operator()(PGresult* result) const { PQclear(result); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultCloser>;

// The store's ?N placeholders as PostgreSQL's $N (outside quoted text).
std::string DollarParameters(const char* sql)
{
    std::string out;
    bool quoted = false;
    for (const char* p = sql; *p != '\0'; ++p) {
        if (*p == '\'')
            quoted = !quoted;
        if (!quoted && *p == '?' && p[1] >= '0' && p[1] <= '9')
            out += '$';
        else
            out += *p;
    }
    return out;
}

class CPgStatement : public CStoreStatement
{
public:
    CPgStatement(CPgConnection& connection, const char* sql) : m_connection(connection), m_sql(DollarParameters(sql)) {}

    void BindText(int index, const std::string& text) override { Set(index, text, kTextType, 0); }
    void BindInt(int index, int64_t value) override { Set(index, std::to_string(value), kInt8Type, 0); }
    void BindBlob(int index, const std::string& bytes) override { Set(index, bytes, kByteaType, 1); }
    bool Step() override
    {
        if (!m_pResult) {
            m_pResult.reset(static_cast<PGresult*>(m_connection.Run(m_sql, m_parameters)));
            m_nRow = -1;
        }
        return ++m_nRow < PQntuples(m_pResult.get());
    }
    std::string Text(int column) override
    {
        if (!HasValue(column))
            return std::string();
        const char* value = PQgetvalue(m_pResult.get(), m_nRow, column);
        if (PQftype(m_pResult.get(), column) != kByteaType)
            return std::string(value, static_cast<size_t>(PQgetlength(m_pResult.get(), m_nRow, column)));
        size_t size = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(value), &size);
        if (bytes == nullptr)
            throw CStoreError("store: unreadable bytes from the database");
        std::string out(reinterpret_cast<const char*>(bytes), size);
        PQfreemem(bytes);
        return out;
    }
    int64_t Int(int column) override
    {
        return HasValue(column) ? strtoll(PQgetvalue(m_pResult.get(), m_nRow, column), nullptr, 10) : 0;
    }

private:
    void Set(int index, const std::string& value, unsigned int type, int format)
    {
        if (index < 1 || index > 100)
            throw CStoreError("store: parameter out of range");
        const size_t at = static_cast<size_t>(index - 1);
        if (m_parameters.values.size() <= at) {
            m_parameters.values.resize(at + 1);
            m_parameters.bound.resize(at + 1, false);
            m_parameters.types.resize(at + 1, 0);
            m_parameters.formats.resize(at + 1, 0);
        }
        m_parameters.values[at] = value;
        m_parameters.bound[at] = true;
        m_parameters.types[at] = type;
        m_parameters.formats[at] = format;
    }
    bool HasValue(int column) const
    {
        return m_pResult && m_nRow >= 0 && m_nRow < PQntuples(m_pResult.get()) && column < PQnfields(m_pResult.get()) &&
               !PQgetisnull(m_pResult.get(), m_nRow, column);
    }

    CPgConnection& m_connection;
    std::string m_sql;
    CPgConnection::Parameters m_parameters;
    ResultPtr m_pResult;
    int m_nRow = -1;
};

void IgnoreNotice(void*, const char*) {}

} // namespace

bool IsPostgresLocator(const std::string& locator)
{
    return locator.rfind("postgresql://", 0) == 0 || locator.rfind("postgres://", 0) == 0;
}

CPgConnection::CPgConnection(const std::string& uri, bool relaxedCommit, int lockTimeoutMs, bool connectNow)
    : m_uri(uri), m_bRelaxedCommit(relaxedCommit),
      m_nLockTimeoutMs(std::max(1, std::min(lockTimeoutMs, kMaxStatementMs)))
{
    if (connectNow)
        Connection();
}

CPgConnection::~CPgConnection()
{
    Drop();
}

pg_conn* CPgConnection::Connection()
{
    if (m_pConn != nullptr)
        return m_pConn;
    if (m_lastFailedConnect != std::chrono::steady_clock::time_point{} &&
        std::chrono::steady_clock::now() - m_lastFailedConnect < kReconnectPause)
        throw CStoreError("store: the database is unreachable");
    // Our bounds first: the URI, processed after them, may set its own.
    const char* keywords[] = {"connect_timeout", "keepalives_idle", "keepalives_interval", "keepalives_count",
                              "tcp_user_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"3", "5", "2", "2", "4000", "vlpolicyd", m_uri.c_str(), nullptr};
    PGconn* conn = PQconnectdbParams(keywords, values, 1);
    if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
        std::string reason = conn ? PQerrorMessage(conn) : "out of memory";
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
            reason.pop_back();
        PQfinish(conn);
        m_lastFailedConnect = std::chrono::steady_clock::now();
        throw CStoreError("store: cannot reach the database: " + reason);
    }
    PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
    // A busy store makes a statement wait for its locks no longer than SQLite's busy time-out would;
    // a loaded machine does not make a statement that holds no lock fail before the 4 s bound.
    const std::string settings = "SET statement_timeout = " + std::to_string(kMaxStatementMs) +
                                 "; SET lock_timeout = " + std::to_string(m_nLockTimeoutMs) +
                                 "; SET synchronous_commit = " + (m_bRelaxedCommit ? "off" : "on");
    ResultPtr set(PQexec(conn, settings.c_str()));
    if (PQresultStatus(set.get()) != PGRES_COMMAND_OK) {
        const std::string reason = PQerrorMessage(conn);
        PQfinish(conn);
        m_lastFailedConnect = std::chrono::steady_clock::now();
        throw CStoreError("store: " + reason);
    }
    if (m_bEverConnected)
        ++m_nReconnects;
    m_bEverConnected = true;
    m_pConn = conn;
    return m_pConn;
}

void CPgConnection::Drop() noexcept
{
    PQfinish(m_pConn);
    m_pConn = nullptr;
    m_prepared.clear();
    m_bInTransaction = false;
}

void CPgConnection::Fail(const std::string& what)
{
    std::string reason = m_pConn ? PQerrorMessage(m_pConn) : "";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    if (m_pConn != nullptr && PQstatus(m_pConn) != CONNECTION_OK)
        Drop();
    throw CStoreError("store: " + what + (reason.empty() ? "" : ": " + reason));
}

void* CPgConnection::Run(const std::string& sql, const Parameters& parameters)
{
    // A read outside a transaction is tried once more on a new connection when the old one turns
    // out to be lost (the database restarted meanwhile); a write never is, as it may have been done.
    const bool retryable = !m_bInTransaction && sql.compare(0, 6, "SELECT") == 0;
    for (int attempt = 0;; ++attempt) {
        PGconn* conn = Connection();
        auto found = m_prepared.find(sql);
        if (found == m_prepared.end()) {
            const std::string name = "s" + std::to_string(m_prepared.size());
            ResultPtr prepared(PQprepare(conn, name.c_str(), sql.c_str(), static_cast<int>(parameters.types.size()),
                                         parameters.types.data()));
            if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) {
                if (retryable && attempt == 0 && PQstatus(conn) != CONNECTION_OK) {
                    Drop();
                    continue;
                }
                Fail("cannot prepare a statement");
            }
            found = m_prepared.emplace(sql, name).first;
        }
        std::vector<const char*> values(parameters.values.size());
        std::vector<int> lengths(parameters.values.size());
        for (size_t i = 0; i < values.size(); ++i) {
            values[i] = parameters.bound[i] ? parameters.values[i].data() : nullptr;
            lengths[i] = static_cast<int>(parameters.values[i].size());
        }
        ResultPtr result(PQexecPrepared(conn, found->second.c_str(), static_cast<int>(values.size()), values.data(),
                                        lengths.data(), parameters.formats.data(), 0));
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            m_nChanges = atoll(PQcmdTuples(result.get()));
            return result.release();
        }
        if (retryable && attempt == 0 && PQstatus(conn) != CONNECTION_OK) {
            Drop();
            continue;
        }
        const char* message = result ? PQresultErrorMessage(result.get()) : "";
        std::string reason = message && *message ? message : "";
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
            reason.pop_back();
        if (PQstatus(conn) != CONNECTION_OK)
            Fail("the database connection was lost");
        throw CStoreError("store: " + reason);
    }
}

std::unique_ptr<CStoreStatement> CPgConnection::Prepare(const char* sql)
{
    return std::make_unique<CPgStatement>(*this, sql);
}

void CPgConnection::Execute(const char* sql)
{
    PGconn* conn = Connection();
    ResultPtr result(PQexec(conn, sql));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        Fail("statement failed");
    m_nChanges = atoll(PQcmdTuples(result.get()));
    // A transaction begun here is one a lost connection cannot be retried into.
    if (strncmp(sql, "BEGIN", 5) == 0)
        m_bInTransaction = true;
    else if (strncmp(sql, "COMMIT", 6) == 0 || strncmp(sql, "ROLLBACK", 8) == 0)
        m_bInTransaction = false;
}

void CPgConnection::Begin()
{
    Execute((std::string("BEGIN; ") + kWriteLock).c_str());
}

void CPgConnection::Commit()
{
    PGconn* conn = Connection();
    ResultPtr result(PQexec(conn, "COMMIT"));
    m_bInTransaction = false;
    // A transaction that failed part-way answers COMMIT with ROLLBACK: that is no commit.
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK || strcmp(PQcmdStatus(result.get()), "COMMIT") != 0)
        Fail("the transaction was not committed");
}

void CPgConnection::Rollback() noexcept
{
    m_bInTransaction = false;
    if (m_pConn == nullptr || PQstatus(m_pConn) != CONNECTION_OK)
        return;
    PQclear(PQexec(m_pConn, "ROLLBACK"));
    if (PQstatus(m_pConn) != CONNECTION_OK)
        Drop();
}

bool CPgConnection::HasTable(const char* table)
{
    CPgStatement exists(*this, "SELECT count(*) FROM pg_catalog.pg_tables "
                               "WHERE schemaname = current_schema() AND tablename = ?1");
    exists.BindText(1, table);
    exists.Step();
    return exists.Int(0) != 0;
}

bool CPgConnection::HasColumn(const char* table, const char* column)
{
    CPgStatement exists(*this, "SELECT count(*) FROM pg_catalog.pg_attribute a JOIN pg_catalog.pg_class c "
                               "ON c.oid = a.attrelid JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
                               "WHERE n.nspname = current_schema() AND c.relname = ?1 AND a.attname = ?2 "
                               "AND a.attnum > 0 AND NOT a.attisdropped");
    exists.BindText(1, table);
    exists.BindText(2, column);
    exists.Step();
    return exists.Int(0) != 0;
}

} // namespace vlpolicy
