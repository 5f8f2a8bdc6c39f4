#include "cache/sources/profile/ChromiumSqlCache.h"

#include <algorithm>
#include <string>
#include <utility>

#include <sqlite3.h>

#include "cache/sources/ChromiumResponse.h"
#include "cache/sources/profile/SqliteAccess.h"

namespace sarnika::sources {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kShardPrefix = "sqldb";

bool isShardName(const std::string& name) {
    if (name.size() <= kShardPrefix.size() || name.size() > kShardPrefix.size() + 9 ||
        name.compare(0, kShardPrefix.size(), kShardPrefix) != 0) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kShardPrefix.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<fs::path> listShards(const fs::path& cacheDir, std::error_code& ec) {
    std::vector<fs::path> shards;
    for (fs::directory_iterator it(cacheDir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (isShardName(it->path().filename().string()) && it->is_regular_file(typeError)) {
            shards.push_back(it->path());
        }
    }
    // sqldb2 before sqldb10.
    std::sort(shards.begin(), shards.end(), [](const fs::path& a, const fs::path& b) {
        const std::string x = a.filename().string();
        const std::string y = b.filename().string();
        return x.size() != y.size() ? x.size() < y.size() : x < y;
    });
    return shards;
}

struct ResourceKey {
    std::int64_t resId = 0;
    std::int64_t bodyEnd = 0;
    std::int64_t checkSum = 0;
};

// The body as the blobs hold it now, provided the resource is still the one listed.
Result<std::string> readBody(const BrowserDatabase& shard, const ResourceKey& key,
                             std::uint64_t limit) {
    SARNIKA_TRY_ASSIGN(db, shard.open());
    SARNIKA_TRY_ASSIGN(
        current, db.prepare("SELECT body_end, check_sum, doomed FROM resources WHERE res_id = ?1"));
    SARNIKA_TRY(current.bindInt64(1, key.resId));
    SARNIKA_TRY_ASSIGN(found, current.step());
    if (!found || current.columnType(0) != SQLITE_INTEGER ||
        current.columnInt64(0) != key.bodyEnd || current.columnInt64(1) != key.checkSum ||
        current.columnInt64(2) != 0) {
        return makeError(Error::Code::NotFound, shard.original().string() + ": entry " +
                                                    std::to_string(key.resId) +
                                                    " changed or went since it was listed");
    }
    SqlBodyAssembler body(key.bodyEnd, limit);
    if (body.complete()) {
        return body.finish();
    }
    SARNIKA_TRY_ASSIGN(
        blobs,
        db.prepare("SELECT start, \"end\", blob FROM blobs WHERE res_id = ?1 ORDER BY start"));
    SARNIKA_TRY(blobs.bindInt64(1, key.resId));
    while (!body.complete()) {
        SARNIKA_TRY_ASSIGN(row, blobs.step());
        if (!row) {
            break;
        }
        if (blobs.columnType(0) != SQLITE_INTEGER || blobs.columnType(1) != SQLITE_INTEGER ||
            blobs.columnType(2) != SQLITE_BLOB) {
            return makeError(Error::Code::Malformed, shard.original().string() + ": entry " +
                                                         std::to_string(key.resId) +
                                                         " has a blob of unexpected types");
        }
        SARNIKA_TRY(body.add(blobs.columnInt64(0), blobs.columnInt64(1), blobs.columnBytes(2)));
    }
    return body.finish();
}

void readShard(const fs::path& shard, std::vector<CacheRecord>& records, ReadReport& report) {
    auto opened = BrowserDatabase::openForReading(shard, report);
    if (!opened) {
        return;
    }
    SqliteDatabase* db = &opened->db;
    Status schema = db->requireTable("resources", {"res_id", "last_used", "body_end", "doomed",
                                                   "check_sum", "cache_key", "head"});
    if (schema) {
        schema = db->requireTable("blobs", {"res_id", "start", "end", "blob"});
    }
    if (!schema) {
        report.skip(shard.string() + ": " + schema.error().message);
        return;
    }
    auto rows = db->prepare("SELECT res_id, last_used, body_end, doomed, check_sum, cache_key, "
                            "head FROM resources ORDER BY res_id");
    if (!rows) {
        report.skip(shard.string() + ": " + rows.error().message);
        return;
    }
    for (;;) {
        auto next = rows->step();
        if (!next) {
            report.skip(shard.string() + ": reading stopped: " + next.error().message);
            return;
        }
        if (!*next) {
            return;
        }
        bool typesOk = rows->columnType(5) == SQLITE_TEXT && rows->columnType(6) == SQLITE_BLOB;
        for (int column = 0; column < 5; ++column) {
            typesOk = typesOk && rows->columnType(column) == SQLITE_INTEGER;
        }
        const ResourceKey key{rows->columnInt64(0), rows->columnInt64(2), rows->columnInt64(4)};
        if (!typesOk || key.bodyEnd < 0) {
            report.skip(shard.string() + ": resource row with unexpected values");
            continue;
        }
        if (rows->columnInt64(3) != 0) {
            continue; // doomed: deleted by the browser
        }
        auto info = parseChromiumResponseInfo(rows->columnBytes(6));
        if (!info) {
            report.skip(shard.string() + ": entry " + std::to_string(key.resId) +
                        ": bad response info: " + info.error().message);
            continue;
        }
        CacheRecord record;
        record.url = urlFromChromiumKey(rows->columnBytes(5));
        record.headers = std::move(info->headers);
        record.size = static_cast<std::uint64_t>(key.bodyEnd);
        record.lastAccess = fileTimeFromWindowsMicros(rows->columnInt64(1));
        record.lastSync = info->responseTime;
        record.identity = shard.string() + "#" + std::to_string(key.resId) + "|" +
                          std::to_string(key.checkSum) + "|" + std::to_string(key.bodyEnd);
        record.body = [source = opened->source, key](std::uint64_t limit) {
            return readBody(source, key, limit);
        };
        records.push_back(std::move(record));
    }
}

} // namespace

SqlBodyAssembler::SqlBodyAssembler(std::int64_t bodyEnd, std::uint64_t limit) : m_bodyEnd(bodyEnd) {
    if (bodyEnd < 0) {
        m_failed = "negative body length " + std::to_string(bodyEnd);
    } else {
        m_wanted = std::min(static_cast<std::uint64_t>(bodyEnd), limit);
    }
}

Status SqlBodyAssembler::add(std::int64_t start, std::int64_t end, std::string_view blob) {
    if (m_failed.empty()) {
        if (start > m_next) {
            m_failed = "body has a gap at byte " + std::to_string(m_next);
        } else if (start < m_next) {
            m_failed = "body blobs overlap at byte " + std::to_string(start);
        } else if (end < start) {
            m_failed = "body blob at byte " + std::to_string(start) + " ends before it starts";
        } else if (static_cast<std::uint64_t>(end - start) != blob.size()) {
            m_failed = "body blob at byte " + std::to_string(start) + " holds " +
                       std::to_string(blob.size()) + " bytes, not " + std::to_string(end - start);
        } else if (end > m_bodyEnd) {
            m_failed = "body blob runs past the body's end " + std::to_string(m_bodyEnd);
        } else {
            const auto room = static_cast<std::size_t>(m_wanted - m_body.size());
            m_body.append(blob.substr(0, std::min(room, blob.size())));
            m_next = end;
        }
    }
    if (!m_failed.empty()) {
        return makeError(Error::Code::Malformed, m_failed);
    }
    return {};
}

Result<std::string> SqlBodyAssembler::finish() {
    if (m_failed.empty() && m_body.size() < m_wanted) {
        m_failed =
            "body blobs end at byte " + std::to_string(m_next) + " of " + std::to_string(m_bodyEnd);
    }
    if (!m_failed.empty()) {
        return makeError(Error::Code::Malformed, m_failed);
    }
    return std::move(m_body);
}

std::vector<CacheRecord> readChromiumSqlCache(const fs::path& cacheDir, ReadReport& report) {
    std::error_code ec;
    const std::vector<fs::path> shards = listShards(cacheDir, ec);
    if (ec) {
        report.skip(cacheDir.string() + ": " + ec.message());
        return {};
    }
    if (shards.empty()) {
        report.skip(cacheDir.string() + ": no sqldb shards");
        return {};
    }
    std::vector<CacheRecord> records;
    for (const fs::path& shard : shards) {
        readShard(shard, records, report);
    }
    return records;
}

} // namespace sarnika::sources
