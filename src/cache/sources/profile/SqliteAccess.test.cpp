#include "cache/sources/profile/SqliteAccess.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>

#include <gtest/gtest.h>

#include "cache/sources/TemporaryCleanup.h"
#include "support/PosixFiles.h"
#include "support/profile/ProfileTestSupport.h"

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

// --- crafted side files, access times and interrupted runs ---------------------------------

// Prepares `path` in a thread of its own; should that block, the program fails at once.
Result<BrowserDatabase> prepareWithWatchdog(const fs::path& path, ReadReport& report) {
    auto prepared = std::async(std::launch::async,
                               [&path, &report] { return BrowserDatabase::prepare(path, report); });
    if (prepared.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        static_cast<void>(std::fputs("preparing the database blocked for 60 s\n", stderr));
        std::_Exit(EXIT_FAILURE);
    }
    return prepared.get();
}

fs::path sideFile(const fs::path& db, const char* suffix) {
    fs::path side = db;
    side += suffix;
    return side;
}

// A database in WAL mode with changes only its -wal holds, as a running browser leaves it.
struct PendingLog {
    explicit PendingLog(const fs::path& db) : path(db), writer(db) {
        writer.exec("CREATE TABLE t(x); INSERT INTO t VALUES (1); PRAGMA journal_mode=WAL;"
                    "PRAGMA wal_autocheckpoint=0; INSERT INTO t VALUES (2);");
    }
    fs::path path;
    TestConnection writer;
};

TEST(SqliteHostileSideFiles, FifosAndLinksBesideADatabaseAreLeftOut) {
    const TempDir dir;
    const TemporaryFolderOverride useTmp(dir.path());
    const fs::path path = dir.path() / "History";
    {
        const TestConnection writer(path);
        writer.exec("CREATE TABLE t(x); INSERT INTO t VALUES (1);");
    }
    ASSERT_TRUE(testing::makeFifo(sideFile(path, "-journal")));
    const fs::path secret = dir.write("private", std::string(4096, 's'));
    fs::create_symlink(secret, sideFile(path, "-wal"));
    ReadReport report;
    auto source = prepareWithWatchdog(path, report);
    ASSERT_TRUE(source) << source.error().message;
    EXPECT_FALSE(source->readsCopy());
    EXPECT_EQ(countRows(*source, "t"), "1");
    EXPECT_EQ(report.skipped, 2U);
    EXPECT_NE(report.firstProblem.find("refused"), std::string::npos) << report.firstProblem;
}

TEST(SqliteHostileSideFiles, HugeLogsAreLeftOutAndSparseFilesCopiedSparse) {
    const TempDir dir;
    const fs::path tmp = dir.path() / "tmp";
    fs::create_directories(tmp);
    const TemporaryFolderOverride useTmp(tmp);
    const PendingLog log(dir.path() / "History");
    const fs::path& path = log.path;
    // 300 MiB of log, nearly all of it a hole: over the cap, and never copied.
    fs::resize_file(sideFile(path, "-wal"), 300ULL << 20U);
    ReadReport report;
    auto source = prepareWithWatchdog(path, report);
    ASSERT_TRUE(source);
    EXPECT_FALSE(source->readsCopy());
    EXPECT_EQ(countRows(*source, "t"), "1");
    EXPECT_NE(report.firstProblem.find("-wal: 314572800 bytes"), std::string::npos)
        << report.firstProblem;
    EXPECT_EQ(privateCopies(tmp), 0U);

    // Under the cap, a sparse file is copied with its holes.
    const fs::path sparse = dir.path() / "sparse";
    {
        std::ofstream out(sparse, std::ios::binary);
        out << "head";
        out.seekp(16LL << 20);
        out << "middle";
        ASSERT_TRUE(out.flush());
    }
    fs::resize_file(sparse, 32ULL << 20U);
    ASSERT_TRUE(copyStoredBytes(sparse, tmp / "copy"));
    EXPECT_EQ(fs::file_size(tmp / "copy"), 32ULL << 20U);
    EXPECT_LT(testing::allocatedBytes(tmp / "copy"), 1ULL << 20U);
    const std::string bytes = testing::readWholeFile(tmp / "copy");
    EXPECT_EQ(bytes.substr(0, 4), "head");
    EXPECT_EQ(bytes.substr(16U << 20U, 6), "middle");
    EXPECT_EQ(bytes.find_first_not_of('\0', 4), 16U << 20U);
}

TEST(SqliteHostileSideFiles, ReadingKeepsTheAccessTimes) {
    const TempDir dir;
    const fs::path path = dir.path() / "places.sqlite";
    {
        const TestConnection writer(path);
        writer.exec("CREATE TABLE t(x); INSERT INTO t VALUES (1);");
    }
    // An access time older than the modification time: relatime would update it.
    ASSERT_TRUE(testing::setAccessTime(path, 1'000'000'000));
    ReadReport report;
    auto source = prepareWithWatchdog(path, report);
    ASSERT_TRUE(source);
    EXPECT_EQ(countRows(*source, "t"), "1");
    EXPECT_EQ(testing::accessTime(path), 1'000'000'000);
}

// A run stopped by a signal leaves no copy of a browser's database behind; one killed outright
// leaves a folder that the next run removes.
TEST(SqliteHostileSideFiles, InterruptedRunsLeaveNoCopies) {
    const TempDir dir;
    const fs::path tmp = dir.path() / "tmp";
    fs::create_directories(tmp);
    const TemporaryFolderOverride useTmp(tmp);
    const PendingLog log(dir.path() / "History");
    const fs::path& path = log.path;
    const auto stopAfterCopying = [&path](int signal) {
        const testing::ChildEnd end = testing::runInChild([&path, signal] {
            installTemporaryCleanup();
            ReadReport report;
            auto source = BrowserDatabase::prepare(path, report);
            static_cast<void>(std::raise(source && source->readsCopy() ? signal : 0));
            return 3;
        });
        return end.signal != 0 ? end.signal : -1;
    };
    EXPECT_EQ(stopAfterCopying(SIGINT), SIGINT);
    EXPECT_EQ(stopAfterCopying(SIGTERM), SIGTERM);
    EXPECT_EQ(privateCopies(tmp), 0U);

    EXPECT_EQ(stopAfterCopying(SIGKILL), SIGKILL);
    ASSERT_EQ(privateCopies(tmp), 1U);
    // Folders of running processes stay, and so do names that are no folders of ours.
    fs::create_directory(tmp / "sarnika-db-1-abcdef");
    dir.write("tmp/sarnika-db-999999999-abcdef", "not a folder");
    EXPECT_EQ(removeLeftTemporaryFolders(tmp), 1);
    EXPECT_EQ(privateCopies(tmp), 2U);
    EXPECT_TRUE(fs::is_directory(tmp / "sarnika-db-1-abcdef"));
}

} // namespace
} // namespace sarnika::sources
