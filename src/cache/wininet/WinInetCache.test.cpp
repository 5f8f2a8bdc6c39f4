// The binding against the WinINet it runs on: Wine's in CI, where the Ex functions are stubs
// and the walks take the fallback.
#include "cache/wininet/WinInetCache.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include <windows.h>
// These need <windows.h> first.
#include <oleauto.h>

#include <wininet.h>

#include <gtest/gtest.h>

#include "cache/CacheAnalyzer.h"
#include "cache/IECache.h"
#include "cache/sources/SystemLocalTime.h"
#include "support/wininet/WinInetSeed.h"

namespace sarnika::wininet {
namespace {

// 2009-02-13 23:31:30 UTC.
constexpr std::uint64_t kModified = 128'790'414'900'000'000ULL;

std::string contentOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The local date-time of a UTC file time, by the platform's own calls: the oracle of the
// conversion in the enumerator.
double platformDateTime(std::uint64_t utc) {
    FILETIME in{static_cast<DWORD>(utc & 0xFFFFFFFFU), static_cast<DWORD>(utc >> 32U)};
    FILETIME local{};
    SYSTEMTIME fields{};
    double value = 0;
    if (FileTimeToLocalFileTime(&in, &local) == 0 || FileTimeToSystemTime(&local, &fields) == 0 ||
        SystemTimeToVariantTime(&fields, &value) == 0) {
        return -1;
    }
    return value;
}

class WinInetCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        clearCache();
        for (const SeedEntry& entry : sampleEntries()) {
            bool ok = false;
            files[entry.url] = commitEntry(entry, kModified, ok);
            ASSERT_TRUE(ok) << entry.url << ": " << GetLastError();
        }
    }
    void TearDown() override { clearCache(); }

    std::map<std::string, std::string> files;
    WinInetCache cache;
    sources::SystemLocalTime localTime;
};

TEST_F(WinInetCacheTest, ScanFindsTheTwoMoviesLargestFirstWithTheirFiles) {
    ASSERT_TRUE(TIECache::CheckLibrary(cache));
    TCacheAnalyzer analyzer(cache, localTime);
    analyzer.Rescan();
    analyzer.SortMultimediaBySize();

    const std::string clip = files.at("http://games.example.org/play/clip.swf?a=1");
    const std::string intro = files.at("http://flash.example.com/a/Intro.SWF");
    EXPECT_EQ(analyzer.GetFlashMovies(),
              clip + "\r\nhttp://games.example.org/play/clip.swf?a=1\r\n" + intro +
                  "\r\nhttp://flash.example.com/a/Intro.SWF\r\n");
    EXPECT_EQ(contentOf(clip).size(), 1004U);
    EXPECT_EQ(contentOf(intro).substr(0, 3), "FWS");
    EXPECT_EQ(analyzer.MultimediaEntries().size(), 3U); // the mp3 is no movie
    EXPECT_EQ(analyzer.PageEntries().size(), 1U);

    ASSERT_EQ(analyzer.CookieEntries().size(), 1U);
    EXPECT_EQ(analyzer.CookieEntries()[0]->SourceUrlName, "Cookie:user@flash.example.com/");
    EXPECT_EQ(analyzer.CookieEntries()[0]->CacheEntryType & COOKIE_CACHE_ENTRY,
              static_cast<std::uint32_t>(COOKIE_CACHE_ENTRY));
    ASSERT_EQ(analyzer.HistoryEntries().size(), 1U);
    EXPECT_EQ(analyzer.HistoryEntries()[0]->SourceUrlName,
              "Visited: user@http://flash.example.com/index.html");
    EXPECT_EQ(analyzer.HistoryEntries()[0]->LocalFileName, "");

    // Every member comes through, times converted to local date-times.
    const auto& multimedia = analyzer.MultimediaEntries();
    const auto found = std::find_if(multimedia.begin(), multimedia.end(),
                                    [&clip](const auto& e) { return e->LocalFileName == clip; });
    ASSERT_NE(found, multimedia.end());
    const TEntryInfo& movie = **found;
    EXPECT_EQ(movie.Size, 1004U);
    EXPECT_NE(movie.HeaderInfo.find("Content-Type: application/x-shockwave-flash"),
              std::string::npos);
    EXPECT_EQ(movie.FileExtension, "swf");
    EXPECT_DOUBLE_EQ(movie.LastModifiedTime, platformDateTime(kModified));
    // 2009-02-13 is day 39857; the time zone moves it by hours, not days.
    EXPECT_NEAR(movie.LastModifiedTime, 39857.98, 0.6);
    EXPECT_GT(movie.LastSyncTime, 39857.0);
    // No expiry is file time 0, 1601-01-01: a date like any other, not a failed conversion.
    EXPECT_DOUBLE_EQ(movie.ExpireTime, platformDateTime(0));
    EXPECT_LT(movie.ExpireTime, -109204.0);
}

// A URL with line breaks in it would add a pair of its own to the movie query's text.
TEST_F(WinInetCacheTest, EntriesWithLineBreaksAreLeftOutOfTheMovies) {
    const std::string secret = files.at("http://flash.example.com/a/Intro.SWF");
    SeedEntry smuggler{"http://evil.test/x.swf\n" + secret + "\nhttp://evil.test/stolen.swf", "FWS",
                       "swf"};
    bool ok = false;
    commitEntry(smuggler, kModified, ok);
    if (!ok) {
        GTEST_SKIP() << "this WinINet refuses such URLs itself";
    }
    TCacheAnalyzer analyzer(cache, localTime);
    analyzer.Rescan();
    EXPECT_EQ(analyzer.RefusedEntries(), 1U);
    EXPECT_EQ(analyzer.GetFlashMovies().find("evil.test"), std::string::npos);
    EXPECT_EQ(analyzer.MultimediaEntries().size(), 3U);
}

TEST_F(WinInetCacheTest, WalksKeepToPatternAndFilterAndProbesDoNotAdvance) {
    const auto walk = [&](const char* pattern, std::uint32_t filter) {
        std::vector<std::string> urls;
        std::vector<unsigned char> buffer;
        std::uint32_t size = 0;
        // Two probes in a row report the same entry.
        EXPECT_EQ(cache.findFirstEntry(pattern, 0, filter, 0, nullptr, &size), nullptr);
        const std::uint32_t probed = size;
        size = 0;
        EXPECT_EQ(cache.findFirstEntry(pattern, 0, filter, 0, nullptr, &size), nullptr);
        EXPECT_EQ(size, probed);
        if (cache.lastError() == CacheError::NoMoreItems) {
            cache.findClose(nullptr);
            return urls;
        }
        EXPECT_EQ(cache.lastError(), CacheError::InsufficientBuffer);
        buffer.resize(size);
        auto* record = reinterpret_cast<CacheEntryRecord*>(buffer.data());
        CacheSearchHandle handle = cache.findFirstEntry(pattern, 0, filter, 0, record, &size);
        EXPECT_NE(handle, nullptr);
        while (handle != nullptr) {
            urls.emplace_back(record->lpszSourceUrlName);
            size = 0;
            if (!cache.findNextEntry(handle, nullptr, &size)) {
                if (cache.lastError() != CacheError::InsufficientBuffer) {
                    break;
                }
            }
            buffer.assign(size, 0);
            record = reinterpret_cast<CacheEntryRecord*>(buffer.data());
            if (!cache.findNextEntry(handle, record, &size)) {
                break;
            }
        }
        EXPECT_EQ(cache.lastError(), CacheError::NoMoreItems);
        cache.findClose(handle);
        return urls;
    };
    constexpr std::uint32_t kAll = 0x00330037;
    EXPECT_EQ(walk("", kAll).size(), 4U);
    EXPECT_EQ(walk("Cookie:", kAll), std::vector<std::string>{"Cookie:user@flash.example.com/"});
    EXPECT_EQ(walk("Visited:", kAll).size(), 1U);
    // The entry type filter holds on the fallback too.
    EXPECT_TRUE(walk("Cookie:", NORMAL_CACHE_ENTRY).empty());
    EXPECT_EQ(walk("", NORMAL_CACHE_ENTRY).size(), 4U);
    EXPECT_TRUE(walk("", 0).empty());
    // Under Wine, where the Ex functions are stubs, the walks above ran on the fallback.
    std::cout << "fallback to the non-Ex functions: " << std::boolalpha
              << cache.lastWalkUsedFallback() << "\n";
}

} // namespace
} // namespace sarnika::wininet
