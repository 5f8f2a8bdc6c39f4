// Scans synthetic Chromium and Firefox caches through the cache layer (Rescan) and compares the
// speed with a floor: a loop that only opens each entry file and reads the bytes holding its key.
//   bench_layer HOME   (HOME as written by tools/make_synthetic_caches.py)
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "cache/CacheAnalyzer.h"
#include "cache/sources/BrowserCacheLayer.h"
#include "cache/sources/FileAccess.h"

namespace {

namespace fs = std::filesystem;
using namespace sarnika;
using namespace sarnika::sources;
using Clock = std::chrono::steady_clock;

std::uint32_t u32At(const std::string& bytes, std::size_t at, bool bigEndian) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[at + (bigEndian ? i : 3 - i)]);
        value = (value << 8U) | byte;
    }
    return value;
}

// Opens the entry and reads the header and the key that follows it.
std::size_t chromiumKeyBytes(const fs::path& file) {
    auto entry = ReadOnlyFile::open(file);
    if (!entry) {
        return 0;
    }
    auto header = entry->read(0, 24);
    if (!header || header->size() < 24) {
        return 0;
    }
    auto key = entry->read(24, u32At(*header, 12, false));
    return key ? key->size() : 0;
}

// Opens the entry and reads the trailer and the metadata header with the key.
std::size_t firefoxKeyBytes(const fs::path& file) {
    auto entry = ReadOnlyFile::open(file);
    if (!entry || entry->size() < 8) {
        return 0;
    }
    auto trailer = entry->read(entry->size() - 8, 8);
    if (!trailer || trailer->size() < 8) {
        return 0;
    }
    const std::uint64_t offset = u32At(*trailer, 4, true) & 0x7FFFFFFFU;
    const std::uint64_t chunks = (offset + 262143) / 262144;
    auto meta = entry->read(offset, 4 + 2 * chunks + 32 + 4096);
    return meta ? meta->size() : 0;
}

double seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void report(const char* name, const fs::path& folder, const std::vector<fs::path>& files,
            SourceLocation::Kind kind, std::size_t (*floorRead)(const fs::path&)) {
    const fs::path extraction =
        fs::temp_directory_path() / ("sarnika-bench-" + std::to_string(std::random_device()()));
    BrowserCacheLayer::Options options;
    options.sources = {{kind, folder}};
    options.extractionRoot = extraction;
    options.reader = readSource;
    BrowserCacheLayer layer(options);
    const UtcLocalTime utc;

    auto floorPass = [&] {
        std::size_t bytes = 0;
        for (const fs::path& file : files) {
            bytes += floorRead(file);
        }
        if (bytes == 0) {
            std::puts("floor read nothing");
        }
    };
    std::size_t movies = 0;
    double sortAndQuery = 0;
    // The scan proper; the sort looks every file up afresh on each comparison, so it is timed
    // on its own.
    auto scan = [&] {
        TCacheAnalyzer analyzer(layer, utc);
        analyzer.Rescan();
        sortAndQuery = seconds([&] {
            analyzer.SortMultimediaBySize();
            const std::string text = analyzer.GetFlashMovies();
        });
        movies = analyzer.MultimediaEntries().size();
    };

    auto readerPass = [&] {
        ReadReport readReport;
        const auto records = readSource(options.sources[0], "user", readReport);
        if (records.size() != files.size()) {
            std::printf("reader found %zu of %zu entries\n", records.size(), files.size());
        }
    };

    floorPass(); // warm the page cache
    double floor = 1e300;
    for (int i = 0; i < 3; ++i) {
        floor = std::min(floor, seconds(floorPass));
    }
    double reader = 1e300;
    for (int i = 0; i < 3; ++i) {
        reader = std::min(reader, seconds(readerPass));
    }
    const double first = seconds(scan) - sortAndQuery;
    const std::size_t extracted = layer.report().extracted;
    double repeat = 1e300;
    for (int i = 0; i < 3; ++i) {
        repeat = std::min(repeat, seconds(scan) - sortAndQuery);
    }
    const auto perSecond = [&](double s) {
        return static_cast<double>(files.size()) / s;
    };
    std::printf("%s: %zu entries, %zu multimedia (%zu extracted in the first scan)\n", name,
                files.size(), movies, extracted);
    std::printf("  floor (open + read key)      %8.0f entries/s  %7.1f ms\n", perSecond(floor),
                floor * 1000);
    std::printf("  reader alone                 %8.0f entries/s  %7.1f ms  = %.2fx the floor\n",
                perSecond(reader), reader * 1000, reader / floor);
    std::printf("  then sort + query            %8s              %7.1f ms\n", "",
                sortAndQuery * 1000);
    std::printf("  first scan, with extraction  %8.0f entries/s  %7.1f ms\n", perSecond(first),
                first * 1000);
    std::printf("  repeat scan                  %8.0f entries/s  %7.1f ms  = %.2fx the floor\n",
                perSecond(repeat), repeat * 1000, repeat / floor);
    std::error_code ignored;
    fs::remove_all(extraction, ignored);
}

std::vector<fs::path> filesIn(const fs::path& folder, bool (*wanted)(const std::string&)) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file() && wanted(entry.path().filename().string())) {
            files.push_back(entry.path());
        }
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s HOME (from tools/make_synthetic_caches.py)\n", argv[0]);
        return 2;
    }
    const fs::path home = argv[1];
    const fs::path chromium = home / ".cache/chromium/Default/Cache/Cache_Data";
    const fs::path firefox = home / ".cache/mozilla/firefox/synthetic.default/cache2";
    report("Chromium simple cache", chromium,
           filesIn(chromium, [](const std::string& name) { return name.ends_with("_0"); }),
           SourceLocation::Kind::ChromiumCache, chromiumKeyBytes);
    report("Firefox cache2", firefox,
           filesIn(firefox / "entries", [](const std::string&) { return true; }),
           SourceLocation::Kind::FirefoxCache, firefoxKeyBytes);
    return 0;
}
