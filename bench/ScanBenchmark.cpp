// Times a full scan (Rescan, SortMultimediaBySize, GetFlashMovies) over an in-memory cache of
// 100,000 entries, 1,000 of them multimedia with real files, and prints entries per second.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "cache/CacheAnalyzer.h"
#include "cache/ListUrlCache.h"

namespace {

using namespace sarnika;

constexpr int kEntries = 100'000;
constexpr int kMultimedia = 1'000;
constexpr int kRuns = 5;

std::vector<CacheEntrySource> makeEntries(const std::filesystem::path& folder) {
    std::mt19937 random(42);
    std::vector<CacheEntrySource> entries;
    entries.reserve(kEntries);
    const char* kOtherKinds[] = {"gif", "htm", "js", "css", "png", "json"};
    for (int i = 0; i < kEntries; ++i) {
        CacheEntrySource entry;
        const bool multimedia = i % (kEntries / kMultimedia) == 0;
        if (i % 50 == 1) {
            entry.SourceUrlName = "Cookie:user@site" + std::to_string(i) + ".example/";
            entry.CacheEntryType = CacheEntryBits::Cookie;
        } else if (i % 50 == 2) {
            entry.SourceUrlName = "Visited: user@https://site" + std::to_string(i) + ".example/";
            entry.CacheEntryType = CacheEntryBits::UrlHistory;
        } else if (multimedia) {
            const std::string name = "movie" + std::to_string(i);
            const std::filesystem::path file = folder / (name + "[1].swf");
            std::ofstream(file, std::ios::binary)
                << std::string(static_cast<std::size_t>(random() % 65536), 'F');
            entry.SourceUrlName = "https://games.example/swf/" + name + ".swf";
            entry.LocalFileName = file.string();
        } else {
            const char* kind = kOtherKinds[static_cast<std::size_t>(i) % std::size(kOtherKinds)];
            entry.SourceUrlName = "https://cdn.example/asset/" + std::to_string(i) + "." + kind;
            entry.LocalFileName = (folder / ("asset" + std::to_string(i) + "[1]." + kind)).string();
        }
        entry.HeaderInfo = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n";
        entry.Size = 1024;
        entry.LastModifiedTime = fileTimeFromUnixSeconds(1'600'000'000 + i);
        entry.LastAccessTime = entry.LastModifiedTime;
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace

int main() {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("sarnika-bench-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(folder);
    ListUrlCache cache(makeEntries(folder));
    const UtcLocalTime utc;
    TIECache::CheckLibrary(cache);

    double best = 1e300;
    std::size_t movies = 0;
    for (int run = 0; run < kRuns; ++run) {
        TCacheAnalyzer analyzer(cache, utc);
        const auto start = std::chrono::steady_clock::now();
        analyzer.Rescan();
        analyzer.SortMultimediaBySize();
        const std::string text = analyzer.GetFlashMovies();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
        movies = analyzer.MultimediaEntries().size();
    }
    std::filesystem::remove_all(folder);

    std::printf("scan of %d entries (%zu multimedia with files), best of %d runs\n", kEntries,
                movies, kRuns);
    std::printf("  Rescan + SortMultimediaBySize + GetFlashMovies: %.1f ms\n", best * 1000);
    std::printf("  %.0f entries per second\n", kEntries / best);
    return 0;
}
