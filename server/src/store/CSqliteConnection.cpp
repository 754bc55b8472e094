#include "store/CSqliteConnection.h"

#include <sqlite3.h>

namespace vlpolicy {

namespace {

class CSqliteStatement : public CStoreStatement
{
public:
    CSqliteStatement(sqlite3* db, const char* sql) : m_pDb(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_pStmt, nullptr) != SQLITE_OK)
            throw CStoreError(std::string("store: ") + sqlite3_errmsg(db));
    }
    ~CSqliteStatement() override { sqlite3_finalize(m_pStmt); }
    CSqliteStatement(const CSqliteStatement&) = delete;
    CSqliteStatement& operator=(const CSqliteStatement&) = delete;

    void BindText(int index, const std::string& text) override
    {
        Check(sqlite3_bind_text(m_pStmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    }
    void BindInt(int index, int64_t value) override { Check(sqlite3_bind_int64(m_pStmt, index, value)); }
    void BindBlob(int index, const std::string& bytes) override
    {
        Check(sqlite3_bind_blob(m_pStmt, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT));
    }
    bool Step() override
    {
        const int rc = sqlite3_step(m_pStmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        throw CStoreError(std::string("store: ") + sqlite3_errmsg(m_pDb));
    }
    std::string Text(int column) override
    {
        const void* bytes = sqlite3_column_blob(m_pStmt, column);
        const int size = sqlite3_column_bytes(m_pStmt, column);
        return bytes ? std::string(static_cast<const char*>(bytes), static_cast<size_t>(size)) : std::string();
    }
    int64_t Int(int column) override { return sqlite3_column_int64(m_pStmt, column); }

private:
    void Check(int rc)
    {
        if (rc != SQLITE_OK)
            throw CStoreError(std::string("store: ") + sqlite3_errmsg(m_pDb));
    }

    sqlite3* m_pDb;
    sqlite3_stmt* m_pStmt = nullptr;
};

} // namespace

CSqliteConnection::CSqliteConnection(const std::string& path, const char* synchronous, int busyTimeoutMs)
{
    constexpr int kFlags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &m_pDb, kFlags, nullptr);
    if (rc != SQLITE_OK) {
        const std::string reason = m_pDb ? sqlite3_errmsg(m_pDb) : "out of memory";
        sqlite3_close(m_pDb);
        throw CStoreError("cannot open the database " + path + ": " + reason);
    }
    try {
        sqlite3_busy_timeout(m_pDb, busyTimeoutMs);
        Execute((std::string("PRAGMA synchronous=") + synchronous).c_str());
        Execute("PRAGMA foreign_keys=ON");
    } catch (...) {
        sqlite3_close(m_pDb);
        throw;
    }
}

CSqliteConnection::~CSqliteConnection()
{
    sqlite3_close(m_pDb);
}

std::unique_ptr<CStoreStatement> CSqliteConnection::Prepare(const char* sql)
{
    return std::make_unique<CSqliteStatement>(m_pDb, sql);
}

void CSqliteConnection::Execute(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(m_pDb, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : sqlite3_errmsg(m_pDb);
        sqlite3_free(error);
        throw CStoreError("store: " + message);
    }
}

int64_t CSqliteConnection::Changes()
{
    return sqlite3_changes(m_pDb);
}

void CSqliteConnection::Begin()
{
    Execute("BEGIN IMMEDIATE");
}

void CSqliteConnection::Commit()
{
    Execute("COMMIT");
}

void CSqliteConnection::Rollback() noexcept
{
    sqlite3_exec(m_pDb, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool CSqliteConnection::HasTable(const char* table)
{
    CSqliteStatement exists(m_pDb, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?1");
    exists.BindText(1, table);
    exists.Step();
    return exists.Int(0) != 0;
}

bool CSqliteConnection::HasColumn(const char* table, const char* column)
{
    CSqliteStatement exists(m_pDb, "SELECT count(*) FROM pragma_table_info(?1) WHERE name = ?2");
    exists.BindText(1, table);
    exists.BindText(2, column);
    exists.Step();
    return exists.Int(0) != 0;
}

} // namespace vlpolicy
