#include "store/CStoreCopy.h"

#include <sys/stat.h>

#include <memory>

#include "CPolicyStore.h"
#include "store/CPgConnection.h"
#include "store/CSqliteConnection.h"

namespace vlpolicy {

namespace {

// A column's kind, for binding its values in the target.
enum class Kind
{
    Text,
    Int,
    Blob
};

struct Column
{
    const char* name;
    Kind kind;
};

struct Table
{
    const char* name;
    std::vector<Column> columns;
    const char* order;    // the source's row order
    bool numbered = false; // its id is a generated number, kept as it is
};

// In the order the references allow.
const std::vector<Table>& Tables()
{
    static const std::vector<Table> tables = {
        {"companies",
         {{"company_id", Kind::Text}, {"super_key", Kind::Text}, {"dkms", Kind::Text}, {"dtss", Kind::Text},
          {"dls", Kind::Text}},
         "rowid"},
        {"user_groups", {{"group_id", Kind::Text}, {"company_id", Kind::Text}}, "rowid"},
        {"policy",
         {{"id", Kind::Int}, {"offline_policy", Kind::Int}, {"online_control", Kind::Int}, {"doc_exchange", Kind::Int},
          {"count_control", Kind::Int}, {"time_sync", Kind::Int}, {"protect_remote_tool", Kind::Int},
          {"app_flags", Kind::Blob}, {"app_list", Kind::Text}},
         "id"},
        {"levels", {{"level", Kind::Int}, {"name", Kind::Text}, {"default_rights", Kind::Text}}, "level"},
        {"users",
         {{"user_id", Kind::Text}, {"password_hash", Kind::Text}, {"company_id", Kind::Text}, {"group_id", Kind::Text},
          {"position", Kind::Text}, {"failed_logins", Kind::Int}, {"locked_until", Kind::Int}, {"logins", Kind::Int}},
         "user_id"},
        {"acl", {{"user_id", Kind::Text}, {"level", Kind::Int}, {"data", Kind::Blob}}, "user_id, level"},
        {"takeouts",
         {{"takeout_key", Kind::Text}, {"user_id", Kind::Text}, {"state", Kind::Int}, {"reason", Kind::Text},
          {"requested_start", Kind::Text}, {"requested_end", Kind::Text}, {"approved_start", Kind::Text},
          {"approved_end", Kind::Text}, {"created_at", Kind::Text}, {"updated_at", Kind::Text}},
         "rowid"},
        {"takeout_history",
         {{"id", Kind::Int}, {"takeout_key", Kind::Text}, {"at", Kind::Text}, {"state", Kind::Int},
          {"start_date", Kind::Text}, {"end_date", Kind::Text}, {"reason", Kind::Text}, {"actor", Kind::Text}},
         "id", true},
        {"admins",
         {{"name", Kind::Text}, {"password_hash", Kind::Text}, {"failed_logins", Kind::Int},
          {"locked_until", Kind::Int}, {"logins", Kind::Int}},
         "name"},
        {"admin_sessions",
         {{"id_hash", Kind::Text}, {"name", Kind::Text}, {"token", Kind::Text}, {"last_used", Kind::Int}},
         "id_hash"},
        {"client_logins", {{"address", Kind::Text}, {"user_id", Kind::Text}, {"at", Kind::Text}}, "address"},
        {"client_users", {{"address", Kind::Text}, {"user_id", Kind::Text}, {"at", Kind::Int}}, "address, user_id"},
        {"exchanges",
         {{"id", Kind::Int}, {"at", Kind::Text}, {"client", Kind::Text}, {"kind", Kind::Text}, {"user_id", Kind::Text},
          {"status", Kind::Int}},
         "id", true},
    };
    return tables;
}

std::unique_ptr<CStoreConnection> Open(const std::string& locator)
{
    if (IsPostgresLocator(locator))
        return std::make_unique<CPgConnection>(locator, false);
    return std::make_unique<CSqliteConnection>(locator, "FULL", 5000);
}

// Copies one table's rows, a page at a time when the rows are numbered (the exchange log may be
// long); returns the count.
int64_t CopyTable(const Table& table, CStoreConnection& source, CStoreConnection& target, bool targetIsPostgres)
{
    std::string names, places;
    for (size_t i = 0; i < table.columns.size(); ++i) {
        names += std::string(i ? ", " : "") + table.columns[i].name;
        places += std::string(i ? ", " : "") + "?" + std::to_string(i + 1);
    }
    const std::string insert = std::string("INSERT INTO ") + table.name + "(" + names + ")" +
                               (table.numbered && targetIsPostgres ? " OVERRIDING SYSTEM VALUE" : "") + " VALUES (" +
                               places + ")";
    constexpr int64_t kPage = 5000;
    const std::string select = std::string("SELECT ") + names + " FROM " + table.name +
                               (table.numbered ? " WHERE id > ?1 ORDER BY id LIMIT ?2" : std::string(" ORDER BY ") +
                                                                                             table.order);
    int64_t count = 0;
    int64_t after = -1;
    for (;;) {
        std::unique_ptr<CStoreStatement> rows = source.Prepare(select.c_str());
        if (table.numbered) {
            rows->BindInt(1, after);
            rows->BindInt(2, kPage);
        }
        int64_t page = 0;
        while (rows->Step()) {
            std::unique_ptr<CStoreStatement> row = target.Prepare(insert.c_str());
            for (size_t i = 0; i < table.columns.size(); ++i) {
                const int column = static_cast<int>(i);
                switch (table.columns[i].kind) {
                case Kind::Text:
                    row->BindText(column + 1, rows->Text(column));
                    break;
                case Kind::Int:
                    row->BindInt(column + 1, rows->Int(column));
                    break;
                case Kind::Blob:
                    row->BindBlob(column + 1, rows->Text(column));
                    break;
                }
            }
            row->Step();
            if (table.numbered)
                after = rows->Int(0);
            ++page;
        }
        count += page;
        if (!table.numbered || page < kPage)
            break;
    }
    if (table.numbered && targetIsPostgres)
        target.Execute((std::string("SELECT setval(pg_get_serial_sequence('") + table.name + "', 'id'), max(id)) FROM " +
                        table.name + " HAVING max(id) IS NOT NULL")
                           .c_str());
    return count;
}

} // namespace

std::vector<std::pair<std::string, int64_t>> CStoreCopy::Copy(const std::string& from, const std::string& to)
{
    struct stat info;
    if (IsPostgresLocator(from) ? !Open(from)->HasTable("meta") : stat(from.c_str(), &info) != 0)
        throw CStoreError("the source holds no store");
    if (!IsPostgresLocator(to) && stat(to.c_str(), &info) == 0)
        throw CStoreError("the target exists already");
    if (IsPostgresLocator(to) && Open(to)->HasTable("meta"))
        throw CStoreError("the target holds a store already");
    {
        // The source is checked (and an earlier SQLite layout completed) as any open does; the
        // target gets the layout and the starting directory, which the copy replaces.
        CPolicyStore source(from);
        CPolicyStore target(to);
        if (!target.Created())
            throw CStoreError("the target holds a store already");
    }
    std::unique_ptr<CStoreConnection> source = Open(from);
    std::unique_ptr<CStoreConnection> target = Open(to);
    // The source is read in one transaction of its own, so that the copy is of one moment.
    if (IsPostgresLocator(from))
        source->Execute("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    else
        source->Execute("BEGIN");
    target->Begin();
    try {
        for (const char* table : {"acl", "users", "user_groups", "companies", "policy", "levels"})
            target->Execute((std::string("DELETE FROM ") + table).c_str());
        std::vector<std::pair<std::string, int64_t>> counts;
        for (const Table& table : Tables())
            counts.emplace_back(table.name, CopyTable(table, *source, *target, IsPostgresLocator(to)));
        target->Commit();
        source->Rollback();
        return counts;
    } catch (...) {
        target->Rollback();
        source->Rollback();
        throw;
    }
}

} // namespace vlpolicy
