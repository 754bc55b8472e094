#include "TestStore.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "PasswordHash.h"
#include "store/CPgConnection.h"
#include "store/CSqliteConnection.h"

namespace vlpolicy::test {

std::string EngineName(const ::testing::TestParamInfo<Engine>& info)
{
    return info.param == Engine::Sqlite ? "Sqlite" : "Postgres";
}

std::string TestStore::ClusterUri()
{
    const char* dir = getenv("VLPOLICYD_TEST_PG_DIR");
    struct stat info;
    if (dir == nullptr || stat((std::string(dir) + "/.s.PGSQL.5432").c_str(), &info) != 0)
        return std::string();
    return std::string("postgresql:///vlpolicy?host=") + dir + "&user=vlpolicy";
}

TestStore::TestStore(Engine engine, const std::string& folder) : m_engine(engine)
{
    if (engine == Engine::Sqlite) {
        m_locator = folder + "/policy.db";
        return;
    }
    const std::string cluster = ClusterUri();
    if (cluster.empty())
        return;
    m_schema = "t" + RandomHex(8);
    CPgConnection(cluster, false).Execute(("CREATE SCHEMA " + m_schema).c_str());
    m_locator = cluster + "&options=-c%20search_path%3D" + m_schema;
}

TestStore::~TestStore()
{
    if (m_schema.empty())
        return;
    try {
        CPgConnection(ClusterUri(), false).Execute(("DROP SCHEMA " + m_schema + " CASCADE").c_str());
    } catch (const std::exception&) {
        // The cluster goes at the end of the run in any case.
    }
}

void TestStore::Reset()
{
    if (m_engine == Engine::Sqlite) {
        std::filesystem::remove(m_locator);
        return;
    }
    CPgConnection(ClusterUri(), false)
        .Execute(("DROP SCHEMA " + m_schema + " CASCADE; CREATE SCHEMA " + m_schema).c_str());
}

std::unique_ptr<CStoreConnection> TestStore::Connect() const
{
    if (m_engine == Engine::Sqlite)
        return std::make_unique<CSqliteConnection>(m_locator, "FULL", 5000);
    return std::make_unique<CPgConnection>(m_locator, false);
}

std::unique_ptr<CStoreConnection> TestStore::HoldWrites() const
{
    std::unique_ptr<CStoreConnection> holder = Connect();
    if (m_engine == Engine::Sqlite)
        holder->Begin(); // the file's write lock
    else
        holder->Execute("BEGIN; LOCK TABLE users, admins IN EXCLUSIVE MODE");
    return holder;
}

} // namespace vlpolicy::test
