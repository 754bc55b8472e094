// CStoreConnection.h - one connection to the store's database, whichever engine holds it. The
// store's rules are written once above this; an engine answers the same SQL (numbered parameters
// ?1, ?2, ...; values are always bound, never written into the text) and says what its catalogue
// holds. A connection is used by one thread at a time: its owner serialises it.
//
// Failures throw CStoreError: the database's refusals as well as a lost connection. A connection
// that was lost is opened again at its next use, not before (and not sooner than a second after
// the last failed attempt, so that callers queued behind a dead database fail quickly).
#pragma once

#include <stdint.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace vlpolicy {

class CStoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One statement: bound by position (1-based), run by Step, read by column (0-based). Text reads a
// BLOB's bytes as well; a NULL reads as empty text or 0.
class CStoreStatement
{
public:
    virtual ~CStoreStatement() = default;
    virtual void BindText(int index, const std::string& text) = 0;
    virtual void BindInt(int index, int64_t value) = 0;
    virtual void BindBlob(int index, const std::string& bytes) = 0;
    // True while a row is there; false when done. The first call runs the statement.
    virtual bool Step() = 0;
    virtual std::string Text(int column) = 0;
    virtual int64_t Int(int column) = 0;
};

class CStoreConnection
{
public:
    virtual ~CStoreConnection() = default;
    virtual std::unique_ptr<CStoreStatement> Prepare(const char* sql) = 0;
    // Runs statements without parameters (the schema, for instance).
    virtual void Execute(const char* sql) = 0;
    // Rows changed by the last statement that ran on this connection.
    virtual int64_t Changes() = 0;
    // A write transaction: it holds the store's one write lock (every process, every instance)
    // until Commit or Rollback, so that a read-then-write inside it sees no other writer.
    virtual void Begin() = 0;
    virtual void Commit() = 0;
    // Never throws: a lost connection has no transaction left to end.
    virtual void Rollback() noexcept = 0;
    virtual bool HasTable(const char* table) = 0;
    virtual bool HasColumn(const char* table, const char* column) = 0;
    // Times this connection was opened again after it was lost.
    virtual int64_t Reconnects() const { return 0; }
};

// The engine a --db value names: a libpq URI (postgresql:// or postgres://) or a SQLite file path.
bool IsPostgresLocator(const std::string& locator);

} // namespace vlpolicy
