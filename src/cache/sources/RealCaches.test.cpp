// A full scan over real browser caches: the made-here samples, or caches that the real
// browsers wrote just now (SARNIKA_REAL_CACHES = the OUT folder of make_caches.sh).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "cache/CacheAnalyzer.h"
#include "cache/sources/BrowserCacheLayer.h"
#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

using sarnika::testing::contentOf;

namespace fs = std::filesystem;
using testing::sharedDir;
using testing::TempDir;

std::string run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string output;
    std::array<char, 4096> buffer{};
    while (pipe && std::fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr) {
        output += buffer.data();
    }
    return output;
}

struct ServedFile {
    std::string file;
    std::string path;
};

std::vector<ServedFile> servedFiles(const fs::path& site) {
    const std::string lines = run("python3 -c \"import json,sys; [print(e['file'] + '\\t' + "
                                  "e['path']) for e in json.load(open(sys.argv[1]))]\" '" +
                                  (site / "manifest.json").string() + "'");
    std::vector<ServedFile> files;
    std::istringstream text(lines);
    for (std::string line; std::getline(text, line);) {
        const std::size_t tab = line.find('\t');
        files.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return files;
}

// Hash (by content) and modification time of every file below a folder.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file(error) && !it->is_symlink(error)) {
            const auto mtime = fs::last_write_time(it->path(), error).time_since_epoch().count();
            files[it->path().string()] =
                std::to_string(std::hash<std::string>{}(contentOf(it->path()))) + "@" +
                std::to_string(mtime);
        }
    }
    return files;
}

class RealCaches : public ::testing::Test {
protected:
    void SetUp() override {
        TIECache::ResetLibraryFlagForTesting();
        if (const char* fresh = std::getenv("SARNIKA_REAL_CACHES")) { // NOLINT
            root = fs::path(fresh) / "work";
            site = fs::path(fresh) / "site";
        } else {
            const fs::path samples = sharedDir() / "testdata" / "made-here";
            for (const char* tarball : {"chromium-cache.tar.gz", "chromium-blockfile-cache.tar.gz",
                                        "chromium-sql-cache.tar.gz", "firefox-cache.tar.gz"}) {
                const std::string command = "tar -C '" + dir.path().string() + "' -xzf '" +
                                            (samples / tarball).string() + "'";
                ASSERT_EQ(std::system(command.c_str()), 0) << command; // NOLINT
            }
            root = dir.path();
            site = samples / "site";
        }
    }
    void TearDown() override { TIECache::ResetLibraryFlagForTesting(); }

    // Scans as the program does with HOME at `home`; answers URL -> local files.
    std::multimap<std::string, std::string> scan(const fs::path& home, std::string& order) {
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_CACHE_HOME");
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("WINEPREFIX");
        BrowserCacheLayer layer(BrowserCacheLayer::currentUserOptions());
        const UtcLocalTime utc;
        TCacheAnalyzer analyzer(layer, utc);
        analyzer.Rescan();
        analyzer.SortMultimediaBySize();
        std::multimap<std::string, std::string> movies;
        std::istringstream text(analyzer.GetFlashMovies());
        std::int32_t previous = INT32_MAX;
        for (std::string file, url; std::getline(text, file) && std::getline(text, url);) {
            file.pop_back();
            url.pop_back();
            const std::int32_t size = TCacheAnalyzer::LocalFileSize(file);
            EXPECT_LE(size, previous) << "not largest first at " << url;
            previous = size;
            order += url + "\n";
            movies.emplace(url, file);
        }
        EXPECT_EQ(layer.report().sourcesFailed, 0U);
        EXPECT_FALSE(analyzer.CookieEntries().empty());
        EXPECT_FALSE(analyzer.HistoryEntries().empty());
        return movies;
    }

    TempDir dir;
    fs::path root;
    fs::path site;
};

TEST_F(RealCaches, EveryCachedMovieIsListedWithTheServedBytes) {
    const std::vector<ServedFile> served = servedFiles(site);
    ASSERT_GE(served.size(), 10U);
    // The first home holds both Chromium's and Firefox's caches.
    const std::vector<std::pair<std::string, std::size_t>> homes = {
        {"home", 2}, {"home-blockfile", 1}, {"home-sql", 1}};
    for (const auto& [name, copies] : homes) {
        SCOPED_TRACE(name);
        const fs::path home = root / name;
        const auto before = snapshot(home / ".config");
        const auto cacheBefore = snapshot(home / ".cache" / "chromium");
        const auto firefoxBefore = snapshot(home / ".cache" / "mozilla");
        std::string order;
        const auto movies = scan(home, order);
        for (const ServedFile& file : served) {
            const bool swfUrl = file.path.find(".swf") != std::string::npos ||
                                file.path.find(".SWF") != std::string::npos;
            std::size_t found = 0;
            for (const auto& [url, local] : movies) {
                if (url.size() >= file.path.size() &&
                    url.compare(url.size() - file.path.size(), file.path.size(), file.path) == 0) {
                    ++found;
                    EXPECT_EQ(contentOf(local), contentOf(site / file.file)) << url;
                }
            }
            EXPECT_EQ(found, swfUrl ? copies : 0U) << file.path;
        }
        // Reading changed nothing in the browsers' folders and added nothing there.
        EXPECT_EQ(snapshot(home / ".config"), before);
        EXPECT_EQ(snapshot(home / ".cache" / "chromium"), cacheBefore);
        EXPECT_EQ(snapshot(home / ".cache" / "mozilla"), firefoxBefore);
        // A second scan finds the same movies in the same order.
        std::string again;
        EXPECT_EQ(scan(home, again), movies);
        EXPECT_EQ(again, order);
    }
}

} // namespace
} // namespace sarnika::sources
