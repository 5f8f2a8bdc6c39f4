#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "cache/sources/CacheRecord.h"

struct sqlite3;
struct sqlite3_stmt;

namespace sarnika::sources {

// The "file:" URI of a path for sqlite3_open_v2: absolute, every byte but letters, digits,
// "-._~" and "/" percent-encoded, then "?" and `query` when that is not empty.
std::string sqliteFileUri(const std::filesystem::path& path, std::string_view query);

// A prepared statement; finalized when it goes.
class SqliteStatement {
public:
    explicit SqliteStatement(sqlite3_stmt* statement) : m_statement(statement) {}

    // True with a row to read, false at the end.
    Result<bool> step();
    Status bindInt64(int index, std::int64_t value);
    Status bindText(int index, std::string_view value);

    // SQLITE_INTEGER, SQLITE_TEXT, SQLITE_BLOB, SQLITE_NULL or SQLITE_FLOAT.
    int columnType(int column) const;
    std::int64_t columnInt64(int column) const;
    // The bytes of a TEXT or BLOB value, valid until the next step.
    std::string_view columnBytes(int column) const;

private:
    struct Finalize {
        void operator()(sqlite3_stmt* statement) const;
    };
    std::unique_ptr<sqlite3_stmt, Finalize> m_statement;
};

// A connection; closed when it goes.
class SqliteDatabase {
public:
    // Read-only and immutable: SQLite takes no locks and creates no file beside the database.
    static Result<SqliteDatabase> openImmutable(const std::filesystem::path& path);
    // Read-write, for our own private copies only.
    static Result<SqliteDatabase> openWritable(const std::filesystem::path& path);

    Result<SqliteStatement> prepare(std::string_view sql) const;
    // Fails unless `table` is a real table (not a view) that has every one of `columns`.
    Status requireTable(std::string_view table, const std::vector<std::string_view>& columns) const;
    std::string lastError() const;

private:
    struct Close {
        void operator()(sqlite3* db) const;
    };
    static Result<SqliteDatabase> open(const std::filesystem::path& path, std::string_view query,
                                       int flags);
    explicit SqliteDatabase(sqlite3* db) : m_db(db) {}
    std::unique_ptr<sqlite3, Close> m_db;
};

// Copies a browser's file as ReadOnlyFile opens it (a regular file, no link) into a new file of
// ours, only the bytes it had when opened; the holes of a sparse file stay holes.
Status copyStoredBytes(const std::filesystem::path& from, const std::filesystem::path& to);

class PrivateCopy;

// A browser's database made ready for reading without touching it. When the browser left
// changes the immutable view would miss (a non-empty -wal, or a hot -journal after a crash or
// in mid-write), the database and that file are copied into a fresh folder of ours, the changes
// applied there, and the copy is read instead; the folder goes with the last BrowserDatabase
// that shares it, or on SIGINT/SIGTERM (see TemporaryCleanup.h). Side files that are no regular
// files, or larger than any a browser keeps (256 MiB), are left out with a note in the report.
class BrowserDatabase {
public:
    // Falls back to the database alone (noting why in `report`) when the copy cannot be made.
    static Result<BrowserDatabase> prepare(const std::filesystem::path& path, ReadReport& report);

    Result<SqliteDatabase> open() const;
    const std::filesystem::path& original() const { return m_original; }

    // prepare() and open() for a reader: a failure of either is the entry skipped in `report`.
    // The database stays readable while the returned BrowserDatabase lives.
    struct Opened;
    static std::optional<Opened> openForReading(const std::filesystem::path& path,
                                                ReadReport& report);
    bool readsCopy() const { return m_copy != nullptr; }

private:
    BrowserDatabase(std::filesystem::path original, std::filesystem::path readPath,
                    std::shared_ptr<const PrivateCopy> copy);
    std::filesystem::path m_original;
    std::filesystem::path m_readPath;
    std::shared_ptr<const PrivateCopy> m_copy;
};

struct BrowserDatabase::Opened {
    BrowserDatabase source; // declared first: it outlives the open database
    SqliteDatabase db;
};

} // namespace sarnika::sources
