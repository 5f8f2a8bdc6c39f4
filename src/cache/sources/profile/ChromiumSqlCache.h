#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "cache/sources/CacheRecord.h"

namespace sarnika::sources {

// Chromium's SQL cache backend: `cacheDir` holds `index` (a "SQLCache..." marker) and shards
// sqldb0, sqldb1, ... (SQLite, read immutable or through a private copy). Each live row of
// `resources` is one record: url from cache_key, headers and lastSync (response time) from
// head, lastAccess = last_used, size = body_end; deleted (doomed) rows are left out. The body is
// read on demand from the resource's blobs.
std::vector<CacheRecord> readChromiumSqlCache(const std::filesystem::path& cacheDir,
                                              ReadReport& report);

// Puts a body together from its blobs, given in the order of their start: they must follow one
// another from 0 without gap or overlap, each exactly end - start bytes, none past bodyEnd.
// Keeps at most `limit` bytes and tells when it has all it wants.
class SqlBodyAssembler {
public:
    SqlBodyAssembler(std::int64_t bodyEnd, std::uint64_t limit);

    Status add(std::int64_t start, std::int64_t end, std::string_view blob);
    bool complete() const { return m_failed.empty() && m_body.size() >= m_wanted; }
    // The body, or why the blobs did not make one.
    Result<std::string> finish();

private:
    std::int64_t m_bodyEnd = 0;
    std::uint64_t m_wanted = 0;
    std::int64_t m_next = 0;
    std::string m_body;
    std::string m_failed;
};

} // namespace sarnika::sources
