#include "cache/sources/profile/ChromiumSqlCache.h"

#include <algorithm>
#include <limits>
#include <optional>

#include <zlib.h>

#include <gtest/gtest.h>

#include "cache/sources/BrowserCacheLayer.h"
#include "cache/sources/Discovery.h"
#include "support/profile/ProfileTestSupport.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using testing::expectedRecords;
using testing::folderState;
using testing::readWholeFile;
using testing::TempDir;
using testing::TestConnection;
using testing::unpackSample;

constexpr std::uint64_t kAll = std::numeric_limits<std::uint64_t>::max();

fs::path unpackSqlCache(const TempDir& dir) {
    return unpackSample(dir, "chromium-sql-cache.tar.gz") / "home-sql" / ".cache" / "chromium" /
           "Default" / "Cache" / "Cache_Data";
}

fs::path siteFile(const std::string& name) {
    return testing::sharedDir() / "testdata" / "made-here" / "site" / name;
}

// The served file behind a sample URL, where the site has one.
std::optional<std::string> siteFileOf(const std::string& url) {
    const std::string origin = "http://127.0.0.1:18473";
    const std::string crossOrigin = "http://localhost:18473";
    std::string path;
    if (url.rfind(origin, 0) == 0) {
        path = url.substr(origin.size());
    } else if (url.rfind(crossOrigin, 0) == 0) {
        path = url.substr(crossOrigin.size());
    } else {
        return std::nullopt;
    }
    if (path == "/play/movie7") {
        return "movie7.bin";
    }
    if (path == "/dl?id=9") {
        return "dl9.bin";
    }
    path = path.substr(0, path.find('?'));
    const std::string name = path.substr(path.rfind('/') + 1);
    return fs::exists(siteFile(name)) ? std::optional(name) : std::nullopt;
}

std::string gunzip(const std::string& data) {
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, 16 + MAX_WBITS), Z_OK);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    std::string out;
    char buffer[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        rc = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
    }
    EXPECT_EQ(rc, Z_STREAM_END);
    inflateEnd(&stream);
    return out;
}

const CacheRecord& recordOf(const std::vector<CacheRecord>& records, std::string_view suffix) {
    const auto found = std::find_if(records.begin(), records.end(), [&](const CacheRecord& r) {
        return r.url.size() >= suffix.size() &&
               r.url.compare(r.url.size() - suffix.size(), suffix.size(), suffix) == 0;
    });
    if (found == records.end()) {
        ADD_FAILURE() << "no record for " << suffix;
        static const CacheRecord kNone;
        return kNone;
    }
    return *found;
}

std::string bodyError(const CacheRecord& record) {
    if (!record.body) {
        return "no body reader";
    }
    auto body = record.body(kAll);
    return body ? "read " + std::to_string(body->size()) + " bytes" : body.error().message;
}

TEST(ChromiumSqlCache, ListsWhatTheReferenceReaderLists) {
    const TempDir dir;
    const fs::path cache = unpackSqlCache(dir);
    ReadReport report;
    auto records = readChromiumSqlCache(cache, report);
    EXPECT_EQ(report.skipped, 0U) << report.firstProblem;
    auto expected = expectedRecords("sql-cache", cache);
    std::sort(records.begin(), records.end(),
              [](const auto& a, const auto& b) { return a.url < b.url; });
    std::sort(expected.begin(), expected.end(),
              [](const auto& a, const auto& b) { return a.url < b.url; });
    ASSERT_EQ(records.size(), 15U);
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(expected[i].url);
        EXPECT_EQ(records[i].kind, RecordKind::Content);
        EXPECT_EQ(records[i].url, expected[i].url);
        EXPECT_EQ(records[i].size, expected[i].size);
        EXPECT_EQ(records[i].lastAccess, expected[i].lastAccess);
        ASSERT_FALSE(expected[i].lastSyncUnixMicros.empty());
        const FileTime sync = fileTimeFromUnixMicros(std::stoll(expected[i].lastSyncUnixMicros));
        EXPECT_LE(std::max(records[i].lastSync, sync) - std::min(records[i].lastSync, sync), 10U);
        EXPECT_EQ(records[i].headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0U);
        EXPECT_EQ(records[i].headers.substr(records[i].headers.size() - 4), "\r\n\r\n");
        EXPECT_NE(records[i].identity.find("sqldb"), std::string::npos);
    }
}

TEST(ChromiumSqlCache, BodiesAreTheServedFilesAndLeaveTheCacheAsItWas) {
    const TempDir dir;
    const fs::path cache = unpackSqlCache(dir);
    const auto before = folderState(cache);
    ReadReport report;
    const auto records = readChromiumSqlCache(cache, report);
    std::size_t compared = 0;
    for (const CacheRecord& record : records) {
        SCOPED_TRACE(record.url);
        ASSERT_TRUE(record.body);
        const auto body = record.body(kAll);
        ASSERT_TRUE(body) << body.error().message;
        EXPECT_EQ(body->size(), record.size);
        const auto file = siteFileOf(record.url);
        if (!file) {
            continue;
        }
        const std::string served = readWholeFile(siteFile(*file));
        // gz.swf was sent gzip-encoded and is kept so.
        EXPECT_EQ(*file == "gz.swf" ? gunzip(*body) : *body, served);
        ++compared;
    }
    EXPECT_EQ(compared, 13U);
    EXPECT_EQ(gunzip(*recordOf(records, "/swf/gz.swf").body(kAll)).size(), 30720U);
    EXPECT_EQ(folderState(cache), before);
}

TEST(ChromiumSqlCache, BodyLimitCutsAcrossBlobs) {
    const TempDir dir;
    ReadReport report;
    const auto records = readChromiumSqlCache(unpackSqlCache(dir), report);
    // huge.swf is stored as two blobs, the first 475030 bytes long.
    const CacheRecord& huge = recordOf(records, "/swf/huge.swf");
    const std::string served = readWholeFile(siteFile("huge.swf"));
    for (const std::uint64_t limit : {0ULL, 100ULL, 475030ULL, 475035ULL, 614400ULL, 1ULL << 40U}) {
        const auto body = huge.body(limit);
        ASSERT_TRUE(body) << body.error().message;
        EXPECT_EQ(*body, served.substr(0, limit)) << limit;
    }
}

TEST(ChromiumSqlCache, DamagedShardsAndEntriesAreSkippedWithAReason) {
    const TempDir dir;
    const fs::path cache = unpackSqlCache(dir);
    {
        const TestConnection shard0(cache / "sqldb0");
        shard0.exec("UPDATE resources SET doomed = 1 WHERE cache_key LIKE '%/Intro.SWF';"
                    "UPDATE resources SET head = x'0102' WHERE cache_key LIKE '%/movie7';"
                    "UPDATE resources SET body_end = 'big' WHERE cache_key LIKE '%id=9';");
        const TestConnection shard1(cache / "sqldb1");
        const std::string song = "(SELECT res_id FROM resources WHERE cache_key LIKE '%/song.mp3')";
        shard1.exec(
            "DELETE FROM blobs WHERE start = 475030;"
            "UPDATE blobs SET start = 1 WHERE res_id = "
            "(SELECT res_id FROM resources WHERE cache_key LIKE '%/big.swf');"
            "UPDATE blobs SET \"end\" = \"end\" + 1 WHERE res_id = "
            "(SELECT res_id FROM resources WHERE cache_key LIKE '%/cross.swf');"
            "INSERT INTO blobs(res_id, start, \"end\", check_sum, blob) SELECT res_id, 5, \"end\", "
            "0, substr(blob, 6) FROM blobs WHERE res_id = " +
            song +
            ";"
            "UPDATE blobs SET \"end\" = 10, blob = substr(blob, 1, 10) WHERE start = 0 AND "
            "res_id = " +
            song + ";");
    }
    dir.write(fs::relative(cache / "sqldb2", dir.path()).string(), std::string(9000, '\x33'));

    ReadReport report;
    const auto records = readChromiumSqlCache(cache, report);
    EXPECT_EQ(records.size(), 3U + 5U);
    EXPECT_EQ(report.skipped, 3U);
    EXPECT_NE(report.firstProblem.find("bad response info"), std::string::npos)
        << report.firstProblem;
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [](const CacheRecord& r) {
                                return r.url.find("Intro.SWF") != std::string::npos;
                            }),
              0);
    EXPECT_EQ(bodyError(recordOf(records, "/huge.swf")), "body blobs end at byte 475030 of 614400");
    EXPECT_EQ(bodyError(recordOf(records, "/big.swf")), "body has a gap at byte 0");
    EXPECT_EQ(bodyError(recordOf(records, "/cross.swf")),
              "body blob at byte 0 holds 12288 bytes, not 12289");
    EXPECT_EQ(bodyError(recordOf(records, "/song.mp3")), "body blobs overlap at byte 5");
    EXPECT_EQ(bodyError(recordOf(records, "/packed.swf")), "read 51226 bytes");
}

TEST(ChromiumSqlCache, BodyRefusesAnEntryChangedSinceListing) {
    const TempDir dir;
    const fs::path cache = unpackSqlCache(dir);
    ReadReport report;
    const auto records = readChromiumSqlCache(cache, report);
    {
        const TestConnection shard(cache / "sqldb2");
        shard.exec(
            "UPDATE resources SET check_sum = check_sum + 1 WHERE cache_key LIKE '%tiny.swf';"
            "DELETE FROM resources WHERE cache_key LIKE '%pic.png';");
    }
    for (const char* url : {"/tiny.swf", "/pic.png"}) {
        const auto body = recordOf(records, url).body(kAll);
        ASSERT_FALSE(body);
        EXPECT_EQ(body.error().code, Error::Code::NotFound);
    }
    EXPECT_TRUE(recordOf(records, "/clip.swf?a=1").body(kAll));
}

TEST(ChromiumSqlCache, ReadsAShardABrowserHoldsInWalMode) {
    const TempDir dir;
    const fs::path tmp = dir.path() / "tmp";
    fs::create_directories(tmp);
    const testing::TemporaryFolderOverride useTmp(tmp);
    const fs::path cache = unpackSqlCache(dir);
    const TestConnection writer(cache / "sqldb2");
    writer.exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                "INSERT INTO resources(res_id, last_used, hints, body_end, bytes_usage, doomed,"
                " check_sum, cache_key_hash, cache_key, head) SELECT 50, last_used, hints,"
                " body_end, bytes_usage, 0, check_sum, cache_key_hash,"
                " '1/0/_dk_http://a.org http://a.org http://a.org/new.swf', head FROM resources"
                " WHERE cache_key LIKE '%tiny.swf';"
                "INSERT INTO blobs(res_id, start, \"end\", check_sum, blob) SELECT 50, start,"
                " \"end\", check_sum, blob FROM blobs WHERE res_id ="
                " (SELECT res_id FROM resources WHERE cache_key LIKE '%tiny.swf');");
    const auto before = folderState(cache);
    {
        ReadReport report;
        const auto records = readChromiumSqlCache(cache, report);
        EXPECT_EQ(report.skipped, 0U) << report.firstProblem;
        EXPECT_EQ(records.size(), 16U);
        const auto body = recordOf(records, "http://a.org/new.swf").body(kAll);
        ASSERT_TRUE(body) << body.error().message;
        EXPECT_EQ(*body, readWholeFile(siteFile("tiny.swf")));
        EXPECT_FALSE(fs::is_empty(tmp));
    }
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_EQ(folderState(cache), before);
}

TEST(ChromiumSqlCache, FoldersWithoutShardsGiveAReason) {
    const TempDir dir;
    for (const fs::path& folder : {dir.path(), dir.path() / "absent"}) {
        ReadReport report;
        EXPECT_TRUE(readChromiumSqlCache(folder, report).empty());
        EXPECT_EQ(report.skipped, 1U);
        EXPECT_FALSE(report.firstProblem.empty());
    }
    // Journals and names that merely start like a shard are no shards.
    dir.write("sqldb0-journal", "");
    dir.write("sqldbx", "");
    ReadReport report;
    EXPECT_TRUE(readChromiumSqlCache(dir.path(), report).empty());
    EXPECT_NE(report.firstProblem.find("no sqldb shards"), std::string::npos);
}

// The `index` file only marks the backend: one changed byte must not hide intact shards.
TEST(ChromiumSqlCache, ADamagedMarkerStillListsTheShards) {
    const TempDir dir;
    const fs::path cache = unpackSqlCache(dir);
    ReadReport intact;
    const std::size_t listed = readChromiumSqlCache(cache, intact).size();
    ASSERT_GT(listed, 0U);
    std::string marker = readWholeFile(cache / "index");
    ASSERT_EQ(marker.size(), 17U);
    marker[3] = 'X';
    dir.write((cache / "index").lexically_relative(dir.path()).string(), marker);
    const auto found = sourcesUnder(dir.path());
    const auto source = std::find_if(found.begin(), found.end(), [](const SourceLocation& s) {
        return s.kind == SourceLocation::Kind::ChromiumCache;
    });
    ASSERT_NE(source, found.end());
    ReadReport report;
    EXPECT_EQ(readSource(*source, "user", report).size(), listed);
}

TEST(SqlBodyAssembler, JoinsBlobsInOrderUpToTheLimit) {
    for (const std::uint64_t limit : {0ULL, 1ULL, 3ULL, 4ULL, 9ULL, 10ULL, 100ULL}) {
        SqlBodyAssembler body(9, limit);
        for (const auto& [start, end, blob] :
             {std::tuple{0, 3, "abc"}, std::tuple{3, 4, "d"}, std::tuple{4, 9, "efghi"}}) {
            if (body.complete()) {
                break;
            }
            ASSERT_TRUE(body.add(start, end, blob));
        }
        EXPECT_TRUE(body.complete());
        const auto result = body.finish();
        ASSERT_TRUE(result) << result.error().message;
        EXPECT_EQ(*result, std::string("abcdefghi").substr(0, limit));
    }
    SqlBodyAssembler empty(0, kAll);
    EXPECT_TRUE(empty.complete());
    EXPECT_EQ(*empty.finish(), "");
}

TEST(SqlBodyAssembler, RefusesBadRangesAndKeepsTheFirstFailure) {
    const auto failure = [](std::int64_t bodyEnd,
                            std::initializer_list<std::tuple<int, int, std::string_view>> blobs) {
        SqlBodyAssembler body(bodyEnd, kAll);
        for (const auto& [start, end, blob] : blobs) {
            (void)body.add(start, end, blob);
        }
        const auto result = body.finish();
        return result ? std::string("ok") : result.error().message;
    };
    // Gaps, overlaps and short blobs are also met in DamagedShardsAndEntriesAreSkipped.
    EXPECT_EQ(failure(4, {{0, 2, "ab"}, {2, 4, "cd"}}), "ok");
    EXPECT_EQ(failure(4, {{0, 5, "abcde"}}), "body blob runs past the body's end 4");
    EXPECT_EQ(failure(4, {{0, -1, ""}}), "body blob at byte 0 ends before it starts");
    EXPECT_EQ(failure(4, {{0, 2, "ab"}}), "body blobs end at byte 2 of 4");
    EXPECT_EQ(failure(-1, {}), "negative body length -1");
    // The first failure stays, whatever comes after it.
    EXPECT_EQ(failure(4, {{0, 1, "a"}, {3, 4, "d"}, {1, 3, "bc"}}), "body has a gap at byte 1");
}

} // namespace
} // namespace sarnika::sources
