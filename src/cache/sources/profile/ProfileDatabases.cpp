#include "cache/sources/profile/ProfileDatabases.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include <sqlite3.h>

#include "cache/sources/profile/SqliteAccess.h"

namespace sarnika::sources {

namespace fs = std::filesystem;

namespace {

// Firefox stores cookie expiry in milliseconds from this cookies.sqlite version on.
constexpr std::int64_t kFirefoxExpiryMillisSchema = 16;

FileTime fromUnixMicros(std::int64_t micros) {
    return micros > 0 ? fileTimeFromUnixMicros(micros) : 0;
}

FileTime fromUnixMillis(std::int64_t millis) {
    if (millis <= 0) {
        return 0;
    }
    const FileTime seconds = fileTimeFromUnixSeconds(millis / 1000);
    return seconds == 0 ? 0 : seconds + static_cast<FileTime>(millis % 1000) * 10'000;
}

FileTime fromUnixSeconds(std::int64_t seconds) {
    return seconds > 0 ? fileTimeFromUnixSeconds(seconds) : 0;
}

// An integer column; NULL reads as 0, anything else is a row we do not understand.
std::optional<std::int64_t> integerAt(const SqliteStatement& row, int column) {
    switch (row.columnType(column)) {
    case SQLITE_INTEGER:
        return row.columnInt64(column);
    case SQLITE_NULL:
        return 0;
    default:
        return std::nullopt;
    }
}

std::optional<std::string_view> textAt(const SqliteStatement& row, int column) {
    if (row.columnType(column) != SQLITE_TEXT) {
        return std::nullopt;
    }
    return row.columnBytes(column);
}

// One query over a table, with the checks and reasons every reader shares.
struct TableQuery {
    std::string_view table;
    std::vector<std::string_view> columns;
    std::string_view sql;
};

// Runs the query; `onRow` answers false for a row of unexpected types, which is skipped.
// `beforeQuery` may read more from the open database first.
void forEachRow(const fs::path& dbPath, const TableQuery& query, ReadReport& report,
                const std::function<bool(const SqliteStatement&)>& onRow,
                const std::function<void(const SqliteDatabase&)>& beforeQuery = {}) {
    auto opened = BrowserDatabase::openForReading(dbPath, report);
    if (!opened) {
        return;
    }
    SqliteDatabase* db = &opened->db;
    if (auto schema = db->requireTable(query.table, query.columns); !schema) {
        report.skip(dbPath.string() + ": " + schema.error().message);
        return;
    }
    if (beforeQuery) {
        beforeQuery(*db);
    }
    auto rows = db->prepare(query.sql);
    if (!rows) {
        report.skip(dbPath.string() + ": " + rows.error().message);
        return;
    }
    for (std::size_t index = 0;; ++index) {
        auto next = rows->step();
        if (!next) {
            report.skip(dbPath.string() + ": reading stopped: " + next.error().message);
            return;
        }
        if (!*next) {
            return;
        }
        if (!onRow(*rows)) {
            report.skip(dbPath.string() + ": " + std::string(query.table) + " row " +
                        std::to_string(index) + " has unexpected values");
        }
    }
}

struct CookieRow {
    std::string_view host;
    std::string_view path;
    FileTime created = 0;
    FileTime lastAccess = 0;
    FileTime expires = 0;
};

// Gathers cookies into one record per URL, in the order the URLs first appear.
class CookieRecords {
public:
    CookieRecords(const fs::path& db, std::string_view user) : m_db(db.string()), m_user(user) {}

    bool add(const CookieRow& cookie) {
        std::string_view host = cookie.host;
        if (!host.empty() && host.front() == '.') {
            host.remove_prefix(1);
        }
        if (host.empty()) {
            return false;
        }
        std::string url = "Cookie:" + m_user + "@" + std::string(host) +
                          (cookie.path.empty() ? std::string("/") : std::string(cookie.path));
        auto [slot, added] = m_index.try_emplace(url, m_records.size());
        if (added) {
            CacheRecord record;
            record.kind = RecordKind::Cookie;
            record.url = std::move(url);
            m_records.push_back(std::move(record));
            m_counts.push_back(0);
        }
        CacheRecord& record = m_records[slot->second];
        record.lastAccess = std::max(record.lastAccess, cookie.lastAccess);
        record.lastModified = std::max(record.lastModified, cookie.created);
        record.expires = std::max(record.expires, cookie.expires);
        ++m_counts[slot->second];
        return true;
    }

    std::vector<CacheRecord> take() {
        for (std::size_t i = 0; i < m_records.size(); ++i) {
            CacheRecord& record = m_records[i];
            record.identity = m_db + "#" + record.url + "|" + std::to_string(m_counts[i]) + "|" +
                              std::to_string(record.lastAccess) + "|" +
                              std::to_string(record.lastModified) + "|" +
                              std::to_string(record.expires);
        }
        return std::move(m_records);
    }

private:
    std::string m_db;
    std::string m_user;
    std::vector<CacheRecord> m_records;
    std::vector<std::size_t> m_counts;
    std::unordered_map<std::string, std::size_t> m_index;
};

// Reads rows of (id, url, visit count, last visit) into history records.
std::vector<CacheRecord> readHistory(const fs::path& dbPath, std::string_view user,
                                     const TableQuery& query, FileTime (*toFileTime)(std::int64_t),
                                     ReadReport& report) {
    std::vector<CacheRecord> records;
    const std::string prefix = "Visited: " + std::string(user) + "@";
    forEachRow(dbPath, query, report, [&](const SqliteStatement& row) {
        const auto id = integerAt(row, 0);
        const auto url = textAt(row, 1);
        const auto visits = integerAt(row, 2);
        const auto lastVisit = integerAt(row, 3);
        if (!id || !url || url->empty() || !visits || !lastVisit || *visits < 0) {
            return false;
        }
        CacheRecord record;
        record.kind = RecordKind::History;
        record.url = prefix + std::string(*url);
        record.lastAccess = toFileTime(*lastVisit);
        record.useCount = static_cast<std::uint32_t>(
            std::min<std::int64_t>(*visits, std::numeric_limits<std::uint32_t>::max()));
        record.identity = dbPath.string() + "#" + std::to_string(*id) + "|" +
                          std::to_string(*visits) + "|" + std::to_string(*lastVisit);
        records.push_back(std::move(record));
        return true;
    });
    return records;
}

FileTime fromWindowsMicros(std::int64_t micros) {
    return fileTimeFromWindowsMicros(micros);
}

} // namespace

std::vector<CacheRecord> readChromiumCookies(const fs::path& cookiesDb, std::string_view user,
                                             ReadReport& report) {
    const TableQuery query{
        "cookies",
        {"host_key", "path", "creation_utc", "last_access_utc", "expires_utc"},
        "SELECT host_key, path, creation_utc, last_access_utc, expires_utc FROM cookies"};
    CookieRecords records(cookiesDb, user);
    forEachRow(cookiesDb, query, report, [&](const SqliteStatement& row) {
        const auto host = textAt(row, 0);
        const auto path = textAt(row, 1);
        const auto created = integerAt(row, 2);
        const auto access = integerAt(row, 3);
        const auto expires = integerAt(row, 4);
        if (!host || !path || !created || !access || !expires) {
            return false;
        }
        return records.add({*host, *path, fileTimeFromWindowsMicros(*created),
                            fileTimeFromWindowsMicros(*access),
                            fileTimeFromWindowsMicros(*expires)});
    });
    return records.take();
}

std::vector<CacheRecord> readFirefoxCookies(const fs::path& cookiesSqlite, std::string_view user,
                                            ReadReport& report) {
    const TableQuery query{
        "moz_cookies",
        {"host", "path", "creationTime", "lastAccessed", "expiry"},
        "SELECT host, path, creationTime, lastAccessed, expiry FROM moz_cookies"};
    std::int64_t schema = 0;
    const auto readSchema = [&](const SqliteDatabase& db) {
        auto version = db.prepare("PRAGMA user_version");
        if (!version) {
            return;
        }
        const auto row = version->step();
        if (row && *row && version->columnType(0) == SQLITE_INTEGER) {
            schema = version->columnInt64(0);
        }
    };
    CookieRecords records(cookiesSqlite, user);
    forEachRow(
        cookiesSqlite, query, report,
        [&](const SqliteStatement& row) {
            const auto host = textAt(row, 0);
            const auto path = textAt(row, 1);
            const auto created = integerAt(row, 2);
            const auto access = integerAt(row, 3);
            const auto expiry = integerAt(row, 4);
            if (!host || !path || !created || !access || !expiry) {
                return false;
            }
            return records.add({*host, *path, fromUnixMicros(*created), fromUnixMicros(*access),
                                schema >= kFirefoxExpiryMillisSchema ? fromUnixMillis(*expiry)
                                                                     : fromUnixSeconds(*expiry)});
        },
        readSchema);
    return records.take();
}

std::vector<CacheRecord> readChromiumHistory(const fs::path& historyDb, std::string_view user,
                                             ReadReport& report) {
    // A URL counts as visited when any of its visit figures says so; the last visit falls
    // back to the visits table when the urls row lacks it.
    const TableQuery query{
        "urls",
        {"id", "url", "visit_count", "last_visit_time"},
        "SELECT u.id, u.url, u.visit_count, CASE WHEN u.last_visit_time > 0 THEN "
        "u.last_visit_time ELSE (SELECT max(v.visit_time) FROM visits v WHERE v.url = u.id) END "
        "FROM urls u WHERE u.visit_count > 0 OR u.last_visit_time > 0 OR "
        "EXISTS (SELECT 1 FROM visits v WHERE v.url = u.id) ORDER BY u.id"};
    return readHistory(historyDb, user, query, fromWindowsMicros, report);
}

std::vector<CacheRecord> readFirefoxHistory(const fs::path& placesSqlite, std::string_view user,
                                            ReadReport& report) {
    const TableQuery query{
        "moz_places",
        {"id", "url", "visit_count", "last_visit_date"},
        "SELECT p.id, p.url, p.visit_count, CASE WHEN p.last_visit_date > 0 THEN "
        "p.last_visit_date ELSE (SELECT max(v.visit_date) FROM moz_historyvisits v "
        "WHERE v.place_id = p.id) END FROM moz_places p WHERE p.visit_count > 0 OR "
        "p.last_visit_date > 0 OR EXISTS (SELECT 1 FROM moz_historyvisits v "
        "WHERE v.place_id = p.id) ORDER BY p.id"};
    return readHistory(placesSqlite, user, query, fromUnixMicros, report);
}

} // namespace sarnika::sources
