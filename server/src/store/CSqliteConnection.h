// CSqliteConnection.h - a connection to a SQLite store file: WAL mode, a busy timeout, foreign
// keys on, the sync level its owner asks for. Begin takes the file's write lock at once
// (BEGIN IMMEDIATE), which serialises writers of every process sharing the file.
#pragma once

#include "store/CStoreConnection.h"

struct sqlite3;

namespace vlpolicy {

class CSqliteConnection : public CStoreConnection
{
public:
    // synchronous: "FULL" or "NORMAL". Throws CStoreError when the file cannot be opened.
    CSqliteConnection(const std::string& path, const char* synchronous, int busyTimeoutMs);
    ~CSqliteConnection() override;
    CSqliteConnection(const CSqliteConnection&) = delete;
    CSqliteConnection& operator=(const CSqliteConnection&) = delete;

    std::unique_ptr<CStoreStatement> Prepare(const char* sql) override;
    void Execute(const char* sql) override;
    int64_t Changes() override;
    void Begin() override;
    void Commit() override;
    void Rollback() noexcept override;
    bool HasTable(const char* table) override;
    bool HasColumn(const char* table, const char* column) override;

    // The raw handle, for the file's own settings (journal mode).
    sqlite3* Handle() const { return m_pDb; }

private:
    sqlite3* m_pDb = nullptr;
};

} // namespace vlpolicy
