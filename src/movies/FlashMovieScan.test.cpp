#include "movies/FlashMovieScan.h"

#include <gtest/gtest.h>

#include "cache/ListUrlCache.h"
#include "support/FakeUrlCache.h"
#include "support/TempDir.h"

namespace sarnika {
namespace {

using testing::contentEntry;

TEST(FlashMovieScan, ListsTheCachesFlashMoviesLargestFirstOnEveryScan) {
    const testing::TempDir dir;
    const std::string small = dir.write("small[1].swf", "FWS").string();
    const std::string large = dir.write("large[1].swf", "FWS" + std::string(50, 'x')).string();
    const std::string song = dir.write("song[1].mp3", std::string(90, 's')).string();
    std::vector<CacheEntrySource> entries = {
        contentEntry("http://h/small.swf", small), contentEntry("http://h/song.mp3", song),
        contentEntry("http://h/gone.swf", (dir.path() / "gone[1].swf").string()),
        contentEntry("http://h/Large.SWF?v=2", large)};
    ListUrlCache cache(entries);
    const UtcLocalTime utc;
    TCacheAnalyzer analyzer(cache, utc);

    const MovieList first = ScanFlashMovies(analyzer);
    ASSERT_EQ(first.MovieCount(), 3U);
    EXPECT_EQ(first.Url(0), "http://h/Large.SWF?v=2");
    EXPECT_EQ(first.CacheFile(0), large);
    EXPECT_EQ(first.Url(1), "http://h/small.swf");
    EXPECT_EQ(first.Url(2), "http://h/gone.swf");

    // A second scan reads the cache again rather than adding to the first one's entries.
    const MovieList second = ScanFlashMovies(analyzer);
    EXPECT_EQ(second.Items(), first.Items());
    EXPECT_EQ(analyzer.MultimediaEntries().size(), 4U);
}

} // namespace
} // namespace sarnika
