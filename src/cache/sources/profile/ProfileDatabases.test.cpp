#include "cache/sources/profile/ProfileDatabases.h"

#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

#include "support/profile/ProfileTestSupport.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using testing::ExpectedRecord;
using testing::expectedRecords;
using testing::folderState;
using testing::TempDir;
using testing::TestConnection;
using testing::unpackSample;

using Reader =
    std::function<std::vector<CacheRecord>(const fs::path&, std::string_view, ReadReport&)>;

constexpr std::string_view kUser = "archivist";

fs::path findFile(const fs::path& root, const std::string& name) {
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename() == name) {
            return entry.path();
        }
    }
    ADD_FAILURE() << "no " << name << " below " << root;
    return root / name;
}

void expectMatches(std::vector<CacheRecord> records, std::vector<ExpectedRecord> expected,
                   RecordKind kind) {
    std::sort(records.begin(), records.end(),
              [](const auto& a, const auto& b) { return a.url < b.url; });
    std::sort(expected.begin(), expected.end(),
              [](const auto& a, const auto& b) { return a.url < b.url; });
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        SCOPED_TRACE(expected[i].url);
        EXPECT_EQ(records[i].kind, kind);
        EXPECT_EQ(records[i].url, expected[i].url);
        EXPECT_EQ(records[i].size, expected[i].size);
        EXPECT_EQ(records[i].lastAccess, expected[i].lastAccess);
        EXPECT_EQ(records[i].lastModified, expected[i].lastModified);
        EXPECT_EQ(records[i].expires, expected[i].expires);
        EXPECT_EQ(records[i].useCount, expected[i].useCount);
        EXPECT_TRUE(records[i].headers.empty());
        EXPECT_FALSE(records[i].body);
    }
}

struct Profile {
    const char* tarball;
    bool firefox;
};
constexpr Profile kProfiles[] = {{"chromium-cache.tar.gz", false},
                                 {"chromium-blockfile-cache.tar.gz", false},
                                 {"chromium-sql-cache.tar.gz", false},
                                 {"firefox-cache.tar.gz", true}};

struct ProfileFiles {
    fs::path cookies;
    fs::path history;
};

ProfileFiles profileFiles(const fs::path& root, bool firefox) {
    return firefox ? ProfileFiles{findFile(root, "cookies.sqlite"), findFile(root, "places.sqlite")}
                   : ProfileFiles{findFile(root, "Cookies"), findFile(root, "History")};
}

TEST(ProfileDatabases, MatchTheReferenceReadersOnMadeHereProfiles) {
    for (const Profile& profile : kProfiles) {
        SCOPED_TRACE(profile.tarball);
        const TempDir dir;
        const ProfileFiles files =
            profileFiles(unpackSample(dir, profile.tarball), profile.firefox);
        ReadReport report;
        const auto cookies = profile.firefox ? readFirefoxCookies(files.cookies, kUser, report)
                                             : readChromiumCookies(files.cookies, kUser, report);
        const auto history = profile.firefox ? readFirefoxHistory(files.history, kUser, report)
                                             : readChromiumHistory(files.history, kUser, report);
        EXPECT_EQ(report.skipped, 0U) << report.firstProblem;
        const char* browser = profile.firefox ? "firefox" : "chromium";
        expectMatches(cookies,
                      expectedRecords(std::string(browser) + "-cookies", files.cookies, kUser),
                      RecordKind::Cookie);
        expectMatches(history,
                      expectedRecords(std::string(browser) + "-history", files.history, kUser),
                      RecordKind::History);
        // Two cookies on one host and path make one entry; the unvisited bookmarks none.
        ASSERT_EQ(cookies.size(), 1U);
        EXPECT_EQ(cookies[0].url, "Cookie:archivist@127.0.0.1/");
        EXPECT_LT(cookies[0].lastModified, cookies[0].expires);
        ASSERT_EQ(history.size(), 3U);
        EXPECT_EQ(history[0].url, "Visited: archivist@http://127.0.0.1:18473/index.html");
        EXPECT_NE(history[0].identity, history[1].identity);
    }
}

TEST(ProfileDatabases, ReadingLeavesEveryProfileFileAsItWas) {
    for (const Profile& profile : kProfiles) {
        SCOPED_TRACE(profile.tarball);
        const TempDir dir;
        const ProfileFiles files =
            profileFiles(unpackSample(dir, profile.tarball), profile.firefox);
        const fs::path folder = files.cookies.parent_path();
        const auto before = folderState(folder);
        ReadReport report;
        (void)readChromiumCookies(files.cookies, kUser, report);
        (void)readChromiumHistory(files.history, kUser, report);
        (void)readFirefoxCookies(files.cookies, kUser, report);
        (void)readFirefoxHistory(files.history, kUser, report);
        EXPECT_EQ(folderState(folder), before);
    }
}

TEST(ProfileDatabases, SeeRowsABrowserStillHoldsInItsWal) {
    const TempDir dir;
    const ProfileFiles files = profileFiles(unpackSample(dir, "firefox-cache.tar.gz"), true);
    const fs::path folder = files.cookies.parent_path();
    const TestConnection cookieWriter(files.cookies);
    cookieWriter.exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                      "INSERT INTO moz_cookies(name, value, host, path, expiry, lastAccessed,"
                      " creationTime) VALUES ('k', 'v', '.example.org', '/games',"
                      " 1799223095279, 1796631095279339, 1796631095279000);");
    const TestConnection placesWriter(files.history);
    placesWriter.exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                      "INSERT INTO moz_places(id, url, guid, visit_count, last_visit_date) VALUES"
                      " (100, 'http://example.org/game.swf', 'abcdefghijkl', 2, 1796631099000000);"
                      "INSERT INTO moz_historyvisits(place_id, visit_date, visit_type) VALUES"
                      " (100, 1796631099000000, 1);");
    ASSERT_GT(fs::file_size(fs::path(files.history.string() + "-wal")), 0U);
    const auto before = folderState(folder);

    ReadReport report;
    const auto cookies = readFirefoxCookies(files.cookies, kUser, report);
    const auto history = readFirefoxHistory(files.history, kUser, report);
    EXPECT_EQ(report.skipped, 0U) << report.firstProblem;
    EXPECT_EQ(folderState(folder), before);
    ASSERT_EQ(cookies.size(), 2U);
    EXPECT_EQ(cookies[1].url, "Cookie:archivist@example.org/games");
    EXPECT_EQ(cookies[1].expires, fileTimeFromUnixSeconds(1799223095) + 279ULL * 10'000);
    ASSERT_EQ(history.size(), 4U);
    EXPECT_EQ(history[3].url, "Visited: archivist@http://example.org/game.swf");
    EXPECT_EQ(history[3].useCount, 2U);
    expectMatches(history, expectedRecords("firefox-history", files.history, kUser),
                  RecordKind::History);
}

TEST(ProfileDatabases, ReadWhatACrashedBrowserLeftInTheWal) {
    const TempDir dir;
    const ProfileFiles files = profileFiles(unpackSample(dir, "firefox-cache.tar.gz"), true);
    const fs::path crashed = dir.path() / "crashed";
    fs::create_directories(crashed);
    {
        const TestConnection writer(files.history);
        writer.exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                    "UPDATE moz_places SET visit_count = 7 WHERE url LIKE '%index.html'");
        // What is on disk while the writer has not checkpointed: the state after a crash.
        fs::copy_file(files.history, crashed / "places.sqlite");
        fs::copy_file(files.history.string() + "-wal", crashed / "places.sqlite-wal");
    }
    const auto before = folderState(crashed);
    ReadReport report;
    const auto history = readFirefoxHistory(crashed / "places.sqlite", kUser, report);
    EXPECT_EQ(folderState(crashed), before); // above all, no -shm
    ASSERT_EQ(history.size(), 3U);
    EXPECT_EQ(history[0].useCount, 7U);
}

TEST(ProfileDatabases, LeaveOutATransactionStillInFlight) {
    const TempDir dir;
    const ProfileFiles files = profileFiles(unpackSample(dir, "chromium-cache.tar.gz"), false);
    const std::string committed = testing::readWholeFile(files.history);
    const TestConnection writer(files.history);
    // A tiny page cache makes SQLite write uncommitted pages into the file mid-transaction: read
    // as it is, the file would show no URLs at all.
    writer.exec("PRAGMA cache_size=1; BEGIN; DELETE FROM urls;"
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400)"
                " INSERT INTO urls(url, title, visit_count, last_visit_time)"
                " SELECT 'http://example.org/' || i, hex(randomblob(300)), 1, 13441104690000000"
                " FROM n;");
    ASSERT_NE(testing::readWholeFile(files.history), committed);
    const auto before = folderState(files.history.parent_path());
    ReadReport report;
    const auto history = readChromiumHistory(files.history, kUser, report);
    EXPECT_EQ(report.skipped, 0U) << report.firstProblem;
    EXPECT_EQ(history.size(), 3U);
    EXPECT_EQ(folderState(files.history.parent_path()), before);
    writer.exec("ROLLBACK");
}

TEST(ProfileDatabases, DamagedDatabasesGiveNoRecordsAndAReason) {
    const TempDir dir;
    const ProfileFiles files = profileFiles(unpackSample(dir, "chromium-cache.tar.gz"), false);
    const std::string history = testing::readWholeFile(files.history);
    std::vector<fs::path> damaged = {
        dir.path() / "absent",
        dir.path(),
        dir.write("empty", ""),
        dir.write("garbage", std::string(10000, '\xA5')),
        dir.write("truncated", history.substr(0, 4096 + 100)),
        dir.write("header-only", history.substr(0, 100)),
    };
    {
        const fs::path other = dir.path() / "other-schema";
        const TestConnection writer(other);
        writer.exec("CREATE TABLE other(x); CREATE VIEW cookies AS SELECT 1 AS host_key;"
                    "CREATE TABLE moz_places(id, url);");
        damaged.push_back(other);
    }
    const Reader readers[] = {readChromiumCookies, readChromiumHistory, readFirefoxCookies,
                              readFirefoxHistory};
    for (const fs::path& path : damaged) {
        for (const Reader& read : readers) {
            SCOPED_TRACE(path.string());
            ReadReport report;
            EXPECT_TRUE(read(path, kUser, report).empty());
            EXPECT_EQ(report.skipped, 1U);
            EXPECT_FALSE(report.firstProblem.empty());
        }
    }
}

TEST(ProfileDatabases, SkipRowsOfUnexpectedTypesAndMergeCookiesPerHostAndPath) {
    const TempDir dir;
    const fs::path path = dir.path() / "Cookies";
    {
        const TestConnection writer(path);
        writer.exec(
            "CREATE TABLE cookies(host_key, path, creation_utc, last_access_utc, expires_utc);"
            "INSERT INTO cookies VALUES"
            " ('.example.org', '/', 13300000000000000, 13300000000000009, 13400000000000000),"
            " ('example.org', '/', 13300000000000005, 13300000000000001, 0),"
            " ('example.org', '/games', 13300000000000000, 13300000000000000, 0),"
            " (x'61', '/', 1, 1, 1), ('a.org', '/', 'yesterday', 1, 1), ('', '/', 1, 1, 1),"
            " ('b.org', NULL, 1, 1, 1), ('c.org', '/', 1.5, 1, 1);");
    }
    ReadReport report;
    const auto cookies = readChromiumCookies(path, "u", report);
    EXPECT_EQ(report.skipped, 5U);
    ASSERT_EQ(cookies.size(), 2U);
    EXPECT_EQ(cookies[0].url, "Cookie:u@example.org/");
    EXPECT_EQ(cookies[0].lastAccess, 133000000000000090U);
    EXPECT_EQ(cookies[0].lastModified, 133000000000000050U);
    EXPECT_EQ(cookies[0].expires, 134000000000000000U);
    EXPECT_EQ(cookies[1].url, "Cookie:u@example.org/games");
    EXPECT_EQ(cookies[1].expires, 0U);
    EXPECT_NE(cookies[0].identity, cookies[1].identity);
}

TEST(ProfileDatabases, HistoryKeepsVisitedUrlsOnly) {
    const TempDir dir;
    const fs::path path = dir.path() / "History";
    {
        const TestConnection writer(path);
        writer.exec("CREATE TABLE urls(id INTEGER PRIMARY KEY, url, visit_count, last_visit_time);"
                    "CREATE TABLE visits(id INTEGER PRIMARY KEY, url, visit_time);"
                    "INSERT INTO urls VALUES (1, 'http://a/', 2, 13300000000000000),"
                    " (2, 'http://never/', 0, 0), (3, 'http://visits-only/', 0, 0),"
                    " (4, NULL, 1, 1), (5, 'http://r/', 1.5, 1);"
                    "INSERT INTO visits(url, visit_time) VALUES (3, 13300000000000007),"
                    " (3, 13300000000000003);");
    }
    ReadReport report;
    const auto history = readChromiumHistory(path, "u", report);
    EXPECT_EQ(report.skipped, 2U);
    ASSERT_EQ(history.size(), 2U);
    EXPECT_EQ(history[0].url, "Visited: u@http://a/");
    EXPECT_EQ(history[0].useCount, 2U);
    EXPECT_EQ(history[0].lastAccess, 133000000000000000U);
    EXPECT_EQ(history[1].url, "Visited: u@http://visits-only/");
    EXPECT_EQ(history[1].useCount, 0U);
    EXPECT_EQ(history[1].lastAccess, 133000000000000070U);
}

TEST(ProfileDatabases, FirefoxCookieExpiryUnitFollowsTheSchema) {
    const TempDir dir;
    for (const auto& [version, expiry] :
         {std::pair{15, 1799223095LL}, std::pair{16, 1799223095000LL}}) {
        const fs::path path = dir.path() / ("cookies" + std::to_string(version) + ".sqlite");
        {
            const TestConnection writer(path);
            writer.exec("CREATE TABLE moz_cookies(host, path, creationTime, lastAccessed, expiry);"
                        "PRAGMA user_version=" +
                        std::to_string(version) +
                        "; INSERT INTO moz_cookies VALUES ('h.org', '/', 1796631095279339, "
                        "1796631095279340, " +
                        std::to_string(expiry) + ");");
        }
        ReadReport report;
        const auto cookies = readFirefoxCookies(path, "u", report);
        ASSERT_EQ(cookies.size(), 1U);
        EXPECT_EQ(cookies[0].expires, fileTimeFromUnixSeconds(1799223095));
        EXPECT_EQ(cookies[0].lastModified, fileTimeFromUnixMicros(1796631095279339));
        EXPECT_EQ(cookies[0].lastAccess, fileTimeFromUnixMicros(1796631095279340));
    }
}

} // namespace
} // namespace sarnika::sources
