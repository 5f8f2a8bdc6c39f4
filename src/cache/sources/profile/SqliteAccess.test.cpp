#include "cache/sources/profile/SqliteAccess.h"

#include <gtest/gtest.h>

#include "cache/sources/profile/ProfileTestSupport.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using testing::folderState;
using testing::TempDir;
using testing::TemporaryFolderOverride;
using testing::TestConnection;

std::size_t privateCopies(const fs::path& tmp) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(tmp)) {
        count += entry.path().filename().string().rfind("sarnika-db-", 0) == 0 ? 1 : 0;
    }
    return count;
}

std::string countRows(const BrowserDatabase& source, const std::string& table) {
    auto db = source.open();
    if (!db) {
        return "error: " + db.error().message;
    }
    auto count = db->prepare("SELECT count(*) FROM " + table);
    if (!count || !count->step().ok()) {
        return "error";
    }
    return std::to_string(count->columnInt64(0));
}

TEST(SqliteAccess, FileUrisEncodeWhatSqliteWouldReadAsSyntax) {
    EXPECT_EQ(sqliteFileUri("/p/a b/c?d#e%f.db", "mode=ro&immutable=1"),
              "file:///p/a%20b/c%3Fd%23e%25f.db?mode=ro&immutable=1");
    // A leading "//" must not turn into an authority.
    EXPECT_EQ(sqliteFileUri("//host/x", "").rfind("file:///", 0), 0U);
    EXPECT_EQ(sqliteFileUri("/\xC3\xBC&=;", ""), "file:///%C3%BC%26%3D%3B");
    const std::string relative = sqliteFileUri("rel/x.db", "");
    EXPECT_EQ(relative.rfind("file:///", 0), 0U);
    EXPECT_EQ(relative.substr(relative.size() - 9), "/rel/x.db");
}

TEST(SqliteAccess, OpensDatabasesInAwkwardFoldersWithoutTouchingThem) {
    const TempDir dir;
    const fs::path folder = dir.path() / "we?ird #1 100% dir";
    fs::create_directories(folder);
    const fs::path path = folder / "a&b=c.db";
    {
        const TestConnection writer(path);
        writer.exec("CREATE TABLE t(x); INSERT INTO t VALUES (1), (2);");
    }
    const auto before = folderState(dir.path());
    ReadReport report;
    auto source = BrowserDatabase::prepare(path, report);
    ASSERT_TRUE(source) << source.error().message;
    EXPECT_FALSE(source->readsCopy());
    EXPECT_EQ(countRows(*source, "t"), "2");
    EXPECT_EQ(folderState(dir.path()), before);
    EXPECT_EQ(report.skipped, 0U);
}

TEST(SqliteAccess, CopiesOnlyWhenSideFilesHoldChanges) {
    const TempDir dir;
    const fs::path tmp = dir.path() / "tmp";
    fs::create_directories(tmp);
    const TemporaryFolderOverride useTmp(tmp);
    const fs::path profile = dir.path() / "profile";
    fs::create_directories(profile);
    const fs::path path = profile / "places.sqlite";
    {
        const TestConnection writer(path);
        writer.exec("CREATE TABLE t(x); INSERT INTO t VALUES (1);");
    }
    // An empty -wal and a journal whose header was zeroed after commit hold nothing.
    dir.write("profile/places.sqlite-wal", "");
    dir.write("profile/places.sqlite-journal", std::string(512, '\0'));
    ReadReport report;
    {
        auto quiet = BrowserDatabase::prepare(path, report);
        ASSERT_TRUE(quiet);
        EXPECT_FALSE(quiet->readsCopy());
        EXPECT_EQ(privateCopies(tmp), 0U);
    }
    fs::remove(profile / "places.sqlite-journal");

    const TestConnection writer(path);
    writer.exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                "INSERT INTO t VALUES (2), (3);");
    const auto before = folderState(profile);
    {
        auto live = BrowserDatabase::prepare(path, report);
        ASSERT_TRUE(live);
        EXPECT_TRUE(live->readsCopy());
        EXPECT_EQ(privateCopies(tmp), 1U);
        const BrowserDatabase shared = *live;
        EXPECT_EQ(countRows(shared, "t"), "3");
    }
    EXPECT_EQ(privateCopies(tmp), 0U);
    EXPECT_EQ(folderState(profile), before);
    EXPECT_EQ(report.skipped, 0U);
}

TEST(SqliteAccess, FallsBackToTheDatabaseAloneWhenNoCopyCanBeMade) {
    const TempDir dir;
    const fs::path path = dir.path() / "cookies.sqlite";
    const TestConnection writer(path);
    writer.exec("CREATE TABLE t(x); INSERT INTO t VALUES (1); PRAGMA journal_mode=WAL;"
                "PRAGMA wal_autocheckpoint=0; INSERT INTO t VALUES (2);");
    const TemporaryFolderOverride useTmp(dir.path() / "no such folder");
    ReadReport report;
    auto source = BrowserDatabase::prepare(path, report);
    ASSERT_TRUE(source);
    EXPECT_FALSE(source->readsCopy());
    EXPECT_EQ(countRows(*source, "t"), "1");
    EXPECT_EQ(report.skipped, 1U);
    EXPECT_NE(report.firstProblem.find("-wal left out"), std::string::npos) << report.firstProblem;
}

} // namespace
} // namespace sarnika::sources
