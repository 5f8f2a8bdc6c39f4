// Crafted caches: fifos, devices and links where cache files belong, and links the user names.
// Every scan runs under a watchdog, since the faults these cases catch are scans that block.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <sstream>

#include <gtest/gtest.h>

#include "cache/CacheAnalyzer.h"
#include "cache/IECache.h"
#include "cache/sources/BrowserCacheLayer.h"
#include "cache/sources/Discovery.h"
#include "cache/sources/FileAccess.h"
#include "support/PosixFiles.h"
#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using testing::sharedDir;
using testing::TempDir;

// Runs `scan` in a thread of its own; should it block, the test fails and the program ends,
// since a blocked thread can be neither joined nor left behind.
template<class Scan>
auto withWatchdog(Scan scan) {
    auto result = std::async(std::launch::async, std::move(scan));
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        static_cast<void>(std::fputs("the scan blocked for 60 s\n", stderr));
        std::_Exit(EXIT_FAILURE);
    }
    return result.get();
}

struct Listing {
    std::map<SourceLocation::Kind, std::size_t> content; // content records per kind of source
    std::string problems;
};

// Finds the sources under `folder` and reads them all, as `sarnika-cli --cache` does.
Listing listUnder(const fs::path& folder) {
    return withWatchdog([folder] {
        Listing listing;
        for (const SourceLocation& source : sourcesUnder(folder)) {
            ReadReport report;
            listing.content[source.kind] += readSource(source, "user", report).size();
            listing.problems += report.firstProblem + "\n";
        }
        return listing;
    });
}

fs::path unpack(const TempDir& dir, const char* tarball) {
    const fs::path sample = sharedDir() / "testdata" / "made-here" / tarball;
    const std::string command =
        "tar -C '" + dir.path().string() + "' -xzf '" + sample.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command; // NOLINT
    return dir.path() / "home";
}

void makeFifo(const fs::path& path) {
    fs::remove(path);
    ASSERT_TRUE(testing::makeFifo(path)) << path;
}

// Moves `file` out of the cache and leaves a link to it in its place.
void replaceByLink(const fs::path& file, const fs::path& elsewhere) {
    fs::rename(file, elsewhere);
    fs::create_symlink(elsewhere, file);
}

fs::path firstEntry(const fs::path& folder) {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().filename().string().size() >= 18) {
            names.push_back(entry.path());
        }
    }
    std::sort(names.begin(), names.end());
    return names.empty() ? fs::path() : names.front();
}

class HostileCache : public ::testing::Test {
protected:
    void SetUp() override {
        home = unpack(dir, "chromium-cache.tar.gz");
        unpack(dir, "firefox-cache.tar.gz");
        chromium = home / ".cache/chromium/Default/Cache/Cache_Data";
        firefox = home / ".cache/mozilla/firefox/olmoiuk7.swftest/cache2/entries";
        elsewhere = dir.path() / "private";
        fs::create_directories(elsewhere);
        before = listUnder(home);
        ASSERT_GT(before.content[SourceLocation::Kind::ChromiumCache], 1U);
        ASSERT_GT(before.content[SourceLocation::Kind::FirefoxCache], 1U);
    }

    TempDir dir;
    fs::path home;
    fs::path chromium;
    fs::path firefox;
    fs::path elsewhere;
    Listing before;
};

// --- fifos, devices and links inside a cache ---------------------------------------------

TEST_F(HostileCache, FifosWhereCacheFilesBelongAreRefusedWithoutWaiting) {
    makeFifo(chromium / "index");
    makeFifo(chromium / "index-dir/the-real-index");
    makeFifo(chromium / "00000000deadbeef_0");
    makeFifo(firefox / "0000000000000000000000000000000000000000");
    makeFifo(home / ".config/chromium/Default/History-journal");
    Listing after = listUnder(home);
    EXPECT_EQ(after.content, before.content) << after.problems;
    EXPECT_NE(after.problems.find("a fifo"), std::string::npos) << after.problems;
    // Named by the user, a fifo is refused as well, and so are devices.
    EXPECT_TRUE(listUnder(chromium / "index").content.empty());
    auto device = ReadOnlyFile::open(fs::path("/dev/null"), Links::Follow);
    ASSERT_FALSE(device);
    EXPECT_NE(device.error().message.find("a device"), std::string::npos);
}

TEST_F(HostileCache, LinksWhereCacheFilesBelongAreNotFollowed) {
    replaceByLink(firstEntry(chromium), elsewhere / "chromium_0");
    replaceByLink(firstEntry(firefox), elsewhere / "firefox");
    fs::create_symlink("/dev/zero", chromium / "00000000deadbeef_0");
    fs::create_symlink("/dev/zero", firefox / "0000000000000000000000000000000000000000");
    Listing after = listUnder(home);
    EXPECT_EQ(after.content[SourceLocation::Kind::ChromiumCache],
              before.content[SourceLocation::Kind::ChromiumCache] - 1);
    EXPECT_EQ(after.content[SourceLocation::Kind::FirefoxCache],
              before.content[SourceLocation::Kind::FirefoxCache] - 1);
    EXPECT_NE(after.problems.find("a symbolic link"), std::string::npos) << after.problems;
}

// A cache that keeps its bodies as files (index.dat) offers them to be saved as they are:
// only regular files in the cache's own folders may be offered.
TEST(HostileIndexDat, OffersOnlyRegularFilesOfTheCacheItself) {
    const TempDir dir;
    const fs::path cache = dir.path() / "Content.IE5";
    const fs::path secret = dir.write("private/secret.swf", "FWS\x0A private");
    dir.write("Content.IE5/AAAA1111/real[1].swf", "FWS\x0A\x20\x00\x00\x00 a movie....");
    fs::create_symlink(secret, cache / "AAAA1111/stolen[1].swf");
    fs::create_symlink("/dev/zero", cache / "AAAA1111/zero[1].swf");
    ASSERT_TRUE(testing::makeFifo(cache / "AAAA1111/fifo[1].swf"));
    fs::create_directory_symlink(dir.path() / "private", cache / "BBBB2222");

    std::vector<CacheRecord> records;
    for (const char* name :
         {"AAAA1111/real[1].swf", "AAAA1111/stolen[1].swf", "AAAA1111/zero[1].swf",
          "AAAA1111/fifo[1].swf", "BBBB2222/secret.swf"}) {
        CacheRecord record;
        record.url = std::string("http://evil.test/") + name;
        record.localFile = (cache / name).string();
        record.size = 20;
        record.identity = name;
        records.push_back(record);
    }
    TIECache::ResetLibraryFlagForTesting();
    BrowserCacheLayer::Options options;
    options.sources = {{SourceLocation::Kind::IndexDat, cache / "index.dat"}};
    options.extractionRoot = dir.path() / "extracted";
    options.reader = [&records](const SourceLocation&, std::string_view, ReadReport&) {
        return records;
    };
    BrowserCacheLayer layer(options);
    const UtcLocalTime utc;
    TCacheAnalyzer analyzer(layer, utc);
    withWatchdog([&analyzer] {
        analyzer.Rescan();
        return 0;
    });
    const std::string movies = analyzer.GetFlashMovies();
    EXPECT_NE(movies.find("real[1].swf"), std::string::npos) << movies;
    EXPECT_EQ(movies.find("Content.IE5/AAAA1111/stolen"), std::string::npos) << movies;
    EXPECT_EQ(movies.find("zero"), std::string::npos) << movies;
    EXPECT_EQ(movies.find("fifo"), std::string::npos) << movies;
    EXPECT_EQ(movies.find("secret"), std::string::npos) << movies;
    EXPECT_EQ(layer.report().entriesSkipped, 4U);
    TIECache::ResetLibraryFlagForTesting();
}

// --- links the user gave -------------------------------------------------------------------

TEST_F(HostileCache, FollowsTheLinksTheUserNamesButNoneInside) {
    // --cache LINK to a database (sarnika-cli's own test links a cache folder).
    fs::create_symlink(home / ".config/chromium/Default/History", dir.path() / "history-link");
    const auto history = sourcesUnder(dir.path() / "history-link");
    ASSERT_EQ(history.size(), 1U);
    EXPECT_EQ(history[0].kind, SourceLocation::Kind::ChromiumHistory);
    // A link inside the named folder stays unfollowed, even to a cache.
    fs::create_directories(dir.path() / "disk");
    fs::create_directory_symlink(chromium, dir.path() / "disk/Cache_Data");
    EXPECT_TRUE(sourcesUnder(dir.path() / "disk").empty());
}

TEST_F(HostileCache, FollowsLinkedBrowserFoldersOnceEach) {
    // A profile-sync tool keeps the cache folder elsewhere and leaves a link to it; another
    // link loops back to the root.
    fs::rename(home / ".cache/mozilla", dir.path() / "synced-mozilla");
    fs::create_directory_symlink(dir.path() / "synced-mozilla", home / ".cache/mozilla");
    fs::create_directory_symlink(home / ".cache/mozilla",
                                 dir.path() / "synced-mozilla/firefox/loop");
    fs::create_directory_symlink(home / ".cache/chromium", home / ".cache/chromium/Default/again");
    UserEnvironment environment;
    environment.home = home;
    environment.configHome = home / ".config";
    environment.cacheHome = home / ".cache";
    const auto found = withWatchdog([&environment] { return discoverSources(environment); });
    std::map<SourceLocation::Kind, int> kinds;
    for (const SourceLocation& source : found) {
        ++kinds[source.kind];
    }
    EXPECT_EQ(kinds[SourceLocation::Kind::FirefoxCache], 1);
    EXPECT_EQ(kinds[SourceLocation::Kind::ChromiumCache], 1);
}

} // namespace
} // namespace sarnika::sources
