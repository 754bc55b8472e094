// TestStore.h - the engines the server's tests run on, and a new, empty store of either: a file
// in the test's folder (SQLite), or a schema of its own in the tests' private PostgreSQL cluster
// (pg_cluster.sh, started once for all tests by CTest; VLPOLICYD_TEST_PG_DIR names its folder).
// Suites take the engine as their parameter: INSTANTIATE_TEST_SUITE_P(Engines, Suite, kEngines, EngineName).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "store/CStoreConnection.h"

namespace vlpolicy::test {

enum class Engine
{
    Sqlite,
    Postgres
};

inline void PrintTo(Engine engine, std::ostream* out)
{
    *out << (engine == Engine::Sqlite ? "Sqlite" : "Postgres");
}

inline const auto kEngines = ::testing::Values(Engine::Sqlite, Engine::Postgres);
std::string EngineName(const ::testing::TestParamInfo<Engine>& info);

class TestStore
{
public:
    TestStore(Engine engine, const std::string& folder);
    ~TestStore();
    TestStore(const TestStore&) = delete;
    TestStore& operator=(const TestStore&) = delete;

    // False when the engine is PostgreSQL and no test cluster runs here (the test skips).
    bool Available() const { return !m_locator.empty(); }
    // The --db value of the store.
    const std::string& Locator() const { return m_locator; }
    // Empty again, as if never opened.
    void Reset();
    // A connection of its own to the store's database.
    std::unique_ptr<CStoreConnection> Connect() const;
    // A connection that holds off every write to the accounts (users, admins) until it goes.
    std::unique_ptr<CStoreConnection> HoldWrites() const;

    // The test cluster's URI (without a schema), or "" when none runs.
    static std::string ClusterUri();

private:
    Engine m_engine;
    std::string m_locator;
    std::string m_schema; // PostgreSQL: the schema that holds the store
};

} // namespace vlpolicy::test
