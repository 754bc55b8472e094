// CPgConnection.h - a connection to a PostgreSQL store through libpq, from a connection URI
// (postgresql://...). Every statement is prepared once per connection and run with its values
// bound; the ?N of the store's SQL become $N. Nothing waits without bound: the connection attempt
// has a time-out (connect_timeout, 3 s unless the URI sets one), every statement one of 4 s
// (statement_timeout), a wait for a lock the store's busy time-out (lock_timeout, at most 4 s), and a TCP connection that stops answering is given up (keepalives,
// tcp_user_timeout). Begin also takes the store's write lock, a transaction-scoped advisory lock,
// so that writers of every instance are serialised as SQLite's file lock serialises processes.
#pragma once

#include <chrono>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/CStoreConnection.h"

struct pg_conn;

namespace vlpolicy {

class CPgConnection : public CStoreConnection
{
public:
    // relaxedCommit: commits need not wait for the disk (synchronous_commit off), for rows a crash
    // may lose without harm. lockTimeoutMs: the longest a statement waits for a lock (at most 4 s, the
    // longest any statement may take).
    // Connects at the first use unless connectNow (which throws CStoreError when the database
    // cannot be reached).
    CPgConnection(const std::string& uri, bool relaxedCommit, int lockTimeoutMs = kMaxStatementMs,
                  bool connectNow = true);
    static constexpr int kMaxStatementMs = 4000;
    ~CPgConnection() override;
    CPgConnection(const CPgConnection&) = delete;
    CPgConnection& operator=(const CPgConnection&) = delete;

    std::unique_ptr<CStoreStatement> Prepare(const char* sql) override;
    void Execute(const char* sql) override;
    int64_t Changes() override { return m_nChanges; }
    void Begin() override;
    void Commit() override;
    void Rollback() noexcept override;
    bool HasTable(const char* table) override;
    bool HasColumn(const char* table, const char* column) override;
    int64_t Reconnects() const override { return m_nReconnects; }

    // For the statements: runs sql (already in $N form) with the values; the result is the caller's.
    struct Parameters
    {
        std::vector<std::string> values;
        std::vector<bool> bound;
        std::vector<unsigned int> types;
        std::vector<int> formats;
    };
    void* Run(const std::string& sql, const Parameters& parameters);

private:
    pg_conn* Connection();
    void Drop() noexcept;
    // Throws CStoreError with the connection's message; drops a connection that is lost.
    [[noreturn]] void Fail(const std::string& what);

    std::string m_uri;
    bool m_bRelaxedCommit;
    int m_nLockTimeoutMs;
    pg_conn* m_pConn = nullptr;
    bool m_bEverConnected = false;
    bool m_bInTransaction = false;
    int64_t m_nChanges = 0;
    int64_t m_nReconnects = 0;
    std::chrono::steady_clock::time_point m_lastFailedConnect{};
    std::unordered_map<std::string, std::string> m_prepared; // SQL -> statement name, per connection
};

} // namespace vlpolicy
