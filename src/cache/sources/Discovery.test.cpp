#include "cache/sources/Discovery.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "support/PosixFiles.h"
#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using Kind = SourceLocation::Kind;
using testing::TempDir;

const std::string kSqlite("SQLite format 3\0 rest of the header", 35);

std::vector<std::pair<Kind, std::string>> relative(const std::vector<SourceLocation>& found,
                                                   const fs::path& base) {
    std::vector<std::pair<Kind, std::string>> result;
    for (const SourceLocation& source : found) {
        result.emplace_back(source.kind,
                            source.path.lexically_relative(fs::canonical(base)).string());
    }
    std::sort(result.begin(), result.end());
    return result;
}

class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir.write("home/.config/chromium/Default/Cookies", kSqlite);
        dir.write("home/.config/chromium/Default/History", kSqlite);
        dir.write("home/.config/chromium/Default/Preferences", "{}");
        dir.write("home/.config/chromium/Profile 1/Network/Cookies", kSqlite);
        dir.write("home/.config/chromium/Default/Service Worker/CacheStorage/a/0123456789abcdef_0",
                  "x");
        dir.write("home/.config/chromium/Default/Login Data", kSqlite);
        dir.write("home/.cache/chromium/Default/Cache/Cache_Data/0123456789abcdef_0", "x");
        dir.write("home/.cache/chromium/Default/Cache/Cache_Data/index-dir/the-real-index", "x");
        dir.write("home/.cache/google-chrome/Default/Cache/Cache_Data/index", "not an index");
        dir.write("home/.config/mozilla/firefox/abc.default/cookies.sqlite", kSqlite);
        dir.write("home/.config/mozilla/firefox/abc.default/places.sqlite", kSqlite);
        dir.write("home/.config/mozilla/firefox/abc.default/storage/default/x/cookies.sqlite",
                  kSqlite);
        dir.write("home/.mozilla/firefox/old.default/places.sqlite", "not SQLite at all");
        dir.write("home/.cache/mozilla/firefox/abc.default/cache2/entries/ABCDEF", "x");
        dir.write("home/.wine/drive_c/users/me/Temporary Internet Files/Content.IE5/index.dat",
                  "Client UrlCache MMF Ver 5.2\0");
        dir.write("home/.wine/drive_c/users/me/Cookies/index.dat", "WINE URLCache Ver 0.2012001\0");
        dir.write(
            "home/.var/app/com.google.Chrome/cache/google-chrome/Default/Cache/Cache_Data/index",
            "\xC3\xCA\x03\xC1\x00\x00\x03\x00");
        dir.write("prefix/drive_c/users/you/Local Settings/History/History.IE5/index.dat",
                  "Client UrlCache MMF Ver 5.2\0");
        // Wine links the user's folders to the home folder: never follow such links.
        fs::create_directory_symlink(dir.path() / "home",
                                     dir.path() / "home/.wine/drive_c/users/me/Desktop");
    }

    TempDir dir;
};

TEST_F(DiscoveryTest, FindsEveryBrowserSourceOfTheUser) {
    UserEnvironment environment;
    environment.home = dir.path() / "home";
    environment.configHome = environment.home / ".config";
    environment.cacheHome = environment.home / ".cache";
    environment.winePrefixes = {environment.home / ".wine", dir.path() / "prefix"};
    const auto found = relative(discoverSources(environment), dir.path());
    const std::vector<std::pair<Kind, std::string>> expected = {
        {Kind::ChromiumCache, "home/.cache/chromium/Default/Cache/Cache_Data"},
        {Kind::ChromiumCache,
         "home/.var/app/com.google.Chrome/cache/google-chrome/Default/Cache/Cache_Data"},
        {Kind::ChromiumCookies, "home/.config/chromium/Default/Cookies"},
        {Kind::ChromiumCookies, "home/.config/chromium/Profile 1/Network/Cookies"},
        {Kind::ChromiumHistory, "home/.config/chromium/Default/History"},
        {Kind::FirefoxCache, "home/.cache/mozilla/firefox/abc.default/cache2"},
        {Kind::FirefoxCookies, "home/.config/mozilla/firefox/abc.default/cookies.sqlite"},
        {Kind::FirefoxHistory, "home/.config/mozilla/firefox/abc.default/places.sqlite"},
        {Kind::IndexDat, "home/.wine/drive_c/users/me/Cookies/index.dat"},
        {Kind::IndexDat,
         "home/.wine/drive_c/users/me/Temporary Internet Files/Content.IE5/index.dat"},
        {Kind::IndexDat, "prefix/drive_c/users/you/Local Settings/History/History.IE5/index.dat"},
    };
    EXPECT_EQ(found, expected);
}

TEST_F(DiscoveryTest, SearchesAnyFolderOrFile) {
    const auto found = relative(sourcesUnder(dir.path() / "home/.cache"), dir.path());
    ASSERT_EQ(found.size(), 2U);
    EXPECT_EQ(found[0].first, Kind::ChromiumCache);
    EXPECT_EQ(found[1].first, Kind::FirefoxCache);
    const fs::path indexDat = dir.path() / "home/.wine/drive_c/users/me/Cookies/index.dat";
    const auto single = sourcesUnder(indexDat);
    ASSERT_EQ(single.size(), 1U);
    EXPECT_EQ(single[0].kind, Kind::IndexDat);
    EXPECT_TRUE(sourcesUnder(dir.path() / "missing").empty());
}

// Caches of the Flash years: Opera's Presto cache and Firefox's cache before cache2, in a home
// as those browsers left them.
TEST(DiscoveryOfOldCaches, FindsOperaAndOldFirefoxCachesOfTheUser) {
    TempDir dir;
    const fs::path samples = testing::sharedDir() / "testdata" / "external";
    const fs::path home = dir.path() / "home";
    fs::create_directories(home / ".mozilla/firefox/old.default");
    fs::create_directories(home / ".opera");
    const auto copy = fs::copy_options::recursive;
    fs::copy(samples / "opera11-cache/cache", home / ".opera/cache", copy);
    fs::copy(samples / "firefox-oldcache/firefox_cache1",
             home / ".mozilla/firefox/old.default/Cache", copy);
    UserEnvironment environment;
    environment.home = home;
    environment.configHome = home / ".config";
    environment.cacheHome = home / ".cache";
    const auto found = relative(discoverSources(environment), dir.path());
    const std::vector<std::pair<Kind, std::string>> expected = {
        {Kind::FirefoxOldCache, "home/.mozilla/firefox/old.default/Cache"},
        {Kind::OperaCache, "home/.opera/cache"}};
    EXPECT_EQ(found, expected);
    EXPECT_EQ(describeSource({Kind::FirefoxOldCache, home / ".mozilla/firefox/old.default/Cache"})
                  .profile,
              "old.default");
    EXPECT_EQ(describeSource({Kind::OperaCache, home / ".opera/cache"}).family, "Opera");
}

TEST(DiscoveryDescription, NamesTheBrowserAndProfile) {
    const auto describe = [](Kind kind, const char* path) {
        const SourceDescription d = describeSource({kind, path});
        return d.family + "|" + d.profile;
    };
    EXPECT_EQ(describe(Kind::ChromiumCache, "/h/.cache/chromium/Default/Cache/Cache_Data"),
              "Chromium|Default");
    EXPECT_EQ(describe(Kind::ChromiumCache, "/h/.cache/google-chrome/Profile 2/Cache"),
              "Google Chrome|Profile 2");
    EXPECT_EQ(describe(Kind::ChromiumCookies,
                       "/h/.config/BraveSoftware/Brave-Browser/Default/Network/Cookies"),
              "Brave|Default");
    EXPECT_EQ(describe(Kind::ChromiumHistory, "/h/.config/microsoft-edge/Default/History"),
              "Microsoft Edge|Default");
    EXPECT_EQ(describe(Kind::FirefoxCache, "/h/.cache/mozilla/firefox/abc.default/cache2"),
              "Firefox|abc.default");
    EXPECT_EQ(describe(Kind::FirefoxHistory, "/h/.librewolf/x.default/places.sqlite"),
              "LibreWolf|x.default");
    EXPECT_EQ(describe(Kind::IndexDat,
                       "/h/.wine/drive_c/users/me/Temporary Internet Files/Content.IE5/index.dat"),
              "Wine|me");
    EXPECT_EQ(describe(Kind::IndexDat,
                       "/mnt/Documents and Settings/Ann/Local Settings/Temporary Internet "
                       "Files/Content.IE5/index.dat"),
              "Internet Explorer|Ann");
    EXPECT_EQ(describeSource({Kind::FirefoxCache, "/x/cache2"}).folder, "/x/cache2");
}

// Another machine's disk: the homes under Users, Documents and Settings and home, each searched
// where its browsers keep their files in that system's layout, in any case of the names; a
// cache elsewhere in a home and a link out of the disk are left alone.
TEST(DiscoveryOfWholeDisks, FindsTheCachesOfEveryUserInTheirPlaces) {
    const TempDir dir;
    const std::string ieIndex("Client UrlCache MMF Ver 5.2\0", 28);
    dir.write("disk/Documents and Settings/Ann/Local Settings/Temporary Internet "
              "Files/Content.IE5/index.dat",
              ieIndex);
    dir.write("disk/Documents and Settings/Ann/Application Data/Mozilla/Firefox/Profiles/a.default/"
              "cookies.sqlite",
              kSqlite);
    dir.write("disk/Documents and Settings/Dee/LOCAL SETTINGS/application data/Google/Chrome/User "
              "Data/Default/Cache/0123456789abcdef_0",
              "x");
    dir.write("disk/Users/Ben/AppData/Local/Microsoft/Windows/INetCache/Low/IE/ABCD1234/a[1].swf",
              "x");
    dir.write("disk/Users/Ben/AppData/Local/Microsoft/Windows/WebCache/WebCacheV01.dat", "");
    dir.write("disk/Users/Ben/Documents/backup/Cache_Data/0123456789abcdef_0", "x");
    dir.write("disk/Users/cy/Library/Caches/com.apple.Safari/Cache.db", "");
    dir.write("disk/home/eve/.mozilla/firefox/e.default/cache2/entries/ABCDEF", "x");
    dir.write("disk/home/eve/.wine/drive_c/users/wine/Local Settings/Temporary Internet "
              "Files/Content.IE5/index.dat",
              ieIndex);
    dir.write("elsewhere/Default/Cache/0123456789abcdef_0", "x");
    fs::create_directory_symlink(dir.path() / "elsewhere",
                                 dir.path() / "disk/Users/Ben/AppData/Local/Vivaldi");

    std::vector<fs::path> unreadable;
    const std::vector<SourceLocation> found = sourcesUnder(dir.path() / "disk", &unreadable);
    std::vector<std::string> seen;
    for (const SourceLocation& source : found) {
        const SourceDescription about = describeSource(source);
        seen.push_back(
            about.user + " " + about.family + " " +
            source.path.lexically_relative(fs::canonical(dir.path() / "disk")).generic_string());
    }
    std::sort(seen.begin(), seen.end());
    const std::string xp = "Documents and Settings/";
    const std::string ieFolder = "Local Settings/Temporary Internet Files/Content.IE5/index.dat";
    const std::string windows = "Users/Ben/AppData/Local/Microsoft/Windows/";
    const std::vector<std::string> expected = {
        "Ann Firefox " + xp +
            "Ann/Application Data/Mozilla/Firefox/Profiles/a.default/cookies.sqlite",
        "Ann Internet Explorer " + xp + "Ann/" + ieFolder,
        "Ben Internet Explorer " + windows + "INetCache/Low/IE",
        "Ben Internet Explorer " + windows + "WebCache/WebCacheV01.dat",
        "Dee Google Chrome " + xp +
            "Dee/LOCAL SETTINGS/application data/Google/Chrome/User Data/Default/Cache",
        "cy Safari Users/cy/Library/Caches/com.apple.Safari/Cache.db",
        "eve Firefox home/eve/.mozilla/firefox/e.default/cache2",
        "wine Wine home/eve/.wine/drive_c/users/wine/" + ieFolder,
    };
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(unreadable.empty());

    // One home alone: its user is the folder's name.
    const auto home = sourcesUnder(dir.path() / "disk/Users/Ben");
    ASSERT_EQ(home.size(), 2U);
    EXPECT_EQ(home[0].user, "Ben");
    EXPECT_EQ(home[1].user, "Ben");
}

// A home of the disk that cannot be read is named once and skipped; the others are read.
TEST(DiscoveryOfWholeDisks, NamesAnUnreadableFolderOnceAndGoesOn) {
    const TempDir dir;
    dir.write("disk/Users/Ann/AppData/Local/Chromium/User Data/Default/Cache/0123456789abcdef_0",
              "x");
    dir.write("disk/Users/Zed/AppData/Local/Chromium/User Data/Default/Cache/0123456789abcdef_0",
              "x");
    const fs::path disk = fs::canonical(dir.path() / "disk");
    // Root reads everything: the scan runs as "nobody", which may enter the test's folder.
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    fs::permissions(disk / "Users/Zed", fs::perms::none);
    const testing::ChildEnd end = testing::runInChild([&disk] {
        if (testing::runsAsRoot() && !testing::becomeNobody()) {
            return 3;
        }
        std::vector<fs::path> unreadable;
        const std::vector<SourceLocation> found = sourcesUnder(disk, &unreadable);
        if (found.size() != 1 || found[0].user != "Ann") {
            return 1;
        }
        return unreadable == std::vector<fs::path>{disk / "Users/Zed"} ? 0 : 2;
    });
    fs::permissions(disk / "Users/Zed", fs::perms::owner_all);
    EXPECT_EQ(end.exitCode, 0) << "1: wrong sources, 2: wrong unreadable folders, 3: no setuid";
}

// The user's own browsers belong to the user; a Wine prefix names its own users. Opera keeps
// one profile per user: the folder above its cache is no profile.
TEST_F(DiscoveryTest, NamesTheUserOfEverySource) {
    UserEnvironment environment;
    environment.home = dir.path() / "home";
    environment.configHome = environment.home / ".config";
    environment.cacheHome = environment.home / ".cache";
    environment.winePrefixes = {dir.path() / "prefix"};
    environment.userName = "me";
    for (const SourceLocation& source : discoverSources(environment)) {
        const bool wine = source.path.string().find("drive_c") != std::string::npos;
        EXPECT_EQ(describeSource(source).user, wine ? "you" : "me") << source.path;
    }
    const SourceDescription opera =
        describeSource({Kind::OperaCache, "/d/Documents and Settings/Al/Application "
                                          "Data/Opera/Opera Next/profile/cache4"});
    EXPECT_EQ(opera.family + "|" + opera.profile + "|" + opera.user, "Opera Next||Al");
}

TEST(UserEnvironmentTest, FollowsTheXdgVariables) {
    setenv("HOME", "/home/someone", 1);
    setenv("XDG_CACHE_HOME", "/var/cache/someone", 1);
    setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
    const UserEnvironment environment = UserEnvironment::current();
    EXPECT_EQ(environment.home, "/home/someone");
    EXPECT_EQ(environment.cacheHome, "/var/cache/someone");
    EXPECT_EQ(environment.configHome, "/home/someone/.config");
    EXPECT_EQ(environment.winePrefixes.front(), "/home/someone/.wine");
}

} // namespace
} // namespace sarnika::sources
