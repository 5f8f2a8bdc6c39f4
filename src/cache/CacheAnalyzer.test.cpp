#include "cache/CacheAnalyzer.h"

#include <gtest/gtest.h>

#include "base/Text.h"
#include "support/FakeUrlCache.h"
#include "support/TempDir.h"

namespace sarnika {
namespace {

using testing::contentEntry;
using testing::FakeUrlCache;
using testing::TempDir;

class CacheAnalyzerTest : public ::testing::Test {
protected:
    void SetUp() override { TIECache::ResetLibraryFlagForTesting(); }
    void TearDown() override { TIECache::ResetLibraryFlagForTesting(); }

    static std::vector<std::string> urlsOf(const TCacheAnalyzer::EntryList& list) {
        std::vector<std::string> urls;
        for (const auto& entry : list) {
            urls.push_back(entry->SourceUrlName);
        }
        return urls;
    }

    UtcLocalTime utc;
    TempDir dir;
};

TEST_F(CacheAnalyzerTest, ClassifiesByTheLocalFileExtension) {
    using C = TEntryCategory;
    const std::pair<const char*, C> cases[] = {
        {"C:\\Cache\\ABCD\\Intro[1].swf", C::ecMultimedia},
        {"/cache/movie[1].SWF", C::ecMultimedia},
        {"/cache/song.Mp3", C::ecMultimedia},
        {"/cache/pic.JPEG", C::ecImage},
        {"/cache/index.php3", C::ecPage},
        {"/cache/archive.tar.gz", C::ecOther},
        {"/cache/noextension", C::ecOther},
        {"/cache/endsindot.", C::ecOther},
        {"/cache/a.b/noext", C::ecOther},
        {"C:\\cache\\a.b\\noext", C::ecOther},
        {"C:noext", C::ecOther},
        {"", C::ecOther},
        {".swf", C::ecMultimedia},
        {"/cache/x.swf ", C::ecOther},
        {"/cache/x.\xC3\x89SWF", C::ecOther},
    };
    for (const auto& [name, category] : cases) {
        EXPECT_EQ(TCacheAnalyzer::ClassifyFile(name), category) << name;
    }
}

TEST_F(CacheAnalyzerTest, ExtensionTablesAreDisjointAndLowerCase) {
    std::vector<std::string_view> all;
    all.insert(all.end(), ImageExtensions.begin(), ImageExtensions.end());
    all.insert(all.end(), MultimediaExtensions.begin(), MultimediaExtensions.end());
    all.insert(all.end(), PageExtensions.begin(), PageExtensions.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    for (std::string_view extension : all) {
        EXPECT_EQ(lowerCaseAscii(extension), extension);
    }
}

TEST_F(CacheAnalyzerTest, RescanFilesEveryWalkIntoItsList) {
    CacheEntrySource cookie = contentEntry("Cookie:user@example.com/", "/c/user@example[1].txt");
    cookie.CacheEntryType = CacheEntryBits::Cookie;
    CacheEntrySource visit = contentEntry("Visited: user@http://example.com/", "");
    visit.LocalFileName.reset();
    visit.CacheEntryType = CacheEntryBits::UrlHistory;
    CacheEntrySource noFile = contentEntry("http://example.com/api", "");
    noFile.LocalFileName.reset();
    FakeUrlCache port({cookie, visit, contentEntry("http://example.com/", "/c/index[1].htm"),
                       contentEntry("http://example.com/a/Intro.SWF", "/c/Intro[1].swf"),
                       contentEntry("http://example.com/logo.gif", "/c/logo[1].gif"),
                       contentEntry("http://example.com/song.mp3", "/c/song[1].mp3"), noFile});
    TCacheAnalyzer analyzer(port, utc);
    EXPECT_EQ(analyzer.Cache().FilterMask(), 0x00330037U);
    analyzer.Rescan();
    EXPECT_EQ(urlsOf(analyzer.CookieEntries()),
              std::vector<std::string>{"Cookie:user@example.com/"});
    EXPECT_EQ(urlsOf(analyzer.HistoryEntries()),
              std::vector<std::string>{"Visited: user@http://example.com/"});
    EXPECT_EQ(urlsOf(analyzer.PageEntries()), std::vector<std::string>{"http://example.com/"});
    EXPECT_EQ(urlsOf(analyzer.ImageEntries()),
              std::vector<std::string>{"http://example.com/logo.gif"});
    EXPECT_EQ(urlsOf(analyzer.MultimediaEntries()),
              (std::vector<std::string>{"http://example.com/a/Intro.SWF",
                                        "http://example.com/song.mp3"}));
    EXPECT_EQ(urlsOf(analyzer.OtherEntries()), std::vector<std::string>{"http://example.com/api"});
    EXPECT_EQ(analyzer.Cache().SearchPattern(), TSearchPattern::spUrl);
    // The listed URL keeps its capitals; the mp3 is not a Flash movie.
    EXPECT_EQ(analyzer.GetFlashMovies(), "/c/Intro[1].swf\r\nhttp://example.com/a/Intro.SWF\r\n");

    // A second scan starts from empty lists.
    analyzer.Rescan();
    EXPECT_EQ(analyzer.MultimediaEntries().size(), 2U);
    EXPECT_EQ(analyzer.CookieEntries().size(), 1U);
    EXPECT_EQ(analyzer.GetFlashMovies(), "/c/Intro[1].swf\r\nhttp://example.com/a/Intro.SWF\r\n");
}

TEST_F(CacheAnalyzerTest, FlashQueryLooksAtTheUrlAndTheLocalExtension) {
    FakeUrlCache port({contentEntry("http://x/play?file=game.swf", "/c/play[1].swf"),
                       contentEntry("http://x/view?file=game.swf", "/c/view[1].htm"),
                       contentEntry("http://x/movie", "/c/movie[1].swf")});
    TCacheAnalyzer analyzer(port, utc);
    analyzer.Rescan();
    EXPECT_EQ(analyzer.GetFlashMovies(), "/c/play[1].swf\r\nhttp://x/play?file=game.swf\r\n");
}

TEST_F(CacheAnalyzerTest, QueryTextForTwoMoviesAndForNone) {
    FakeUrlCache port({contentEntry("http://x/a.swf", "/c/a[1].swf"),
                       contentEntry("http://x/b.swf", "/c/b[1].swf")});
    TCacheAnalyzer analyzer(port, utc);
    EXPECT_EQ(analyzer.GetFlashMovies(), "");
    analyzer.Rescan();
    EXPECT_EQ(analyzer.GetFlashMovies(),
              "/c/a[1].swf\r\nhttp://x/a.swf\r\n/c/b[1].swf\r\nhttp://x/b.swf\r\n");
    port.setEntries({});
    analyzer.Rescan();
    EXPECT_EQ(analyzer.GetFlashMovies(), "");
}

// A URL holding a line break would add a pair of its own to the query's text, naming any file
// (the port here stands for WinINet, whose entries reach the analyzer directly).
TEST_F(CacheAnalyzerTest, EntriesWithLineBreaksNeverReachTheMovieQuery) {
    FakeUrlCache port(
        {contentEntry("http://evil.test/x.swf\n/home/u/private.txt\nhttp://e/s.swf", "/c/x[1].swf"),
         contentEntry("http://evil.test/y.swf\r/etc/passwd\rhttp://e/t.swf", "/c/y[1].swf"),
         contentEntry("http://evil.test/z.swf", "/c/z[1].swf\r\n/etc/shadow"),
         contentEntry("http://x/a.swf", "/c/a[1].swf")});
    TCacheAnalyzer analyzer(port, utc);
    analyzer.Rescan();
    EXPECT_EQ(analyzer.GetFlashMovies(), "/c/a[1].swf\r\nhttp://x/a.swf\r\n");
    EXPECT_EQ(urlsOf(analyzer.MultimediaEntries()), std::vector<std::string>{"http://x/a.swf"});
    EXPECT_EQ(analyzer.RefusedEntries(), 3U);
    EXPECT_TRUE(breaksMovieQuery(std::string_view("a\0b", 3)));
    port.setEntries({contentEntry("http://x/a.swf", "/c/a[1].swf")});
    analyzer.Rescan();
    EXPECT_EQ(analyzer.RefusedEntries(), 0U);
}

TEST_F(CacheAnalyzerTest, SortPutsLargestFirstAndMissingFilesLast) {
    const auto small = dir.write("small[1].swf", std::string(10, 'a'));
    const auto large = dir.write("large[1].swf", std::string(20, 'b'));
    const auto empty = dir.write("empty[1].swf", "");
    const auto gone = dir.path() / "gone[1].swf";
    FakeUrlCache port({contentEntry("http://x/gone.swf", gone.string()),
                       contentEntry("http://x/small.swf", small.string()),
                       contentEntry("http://x/empty.swf", empty.string()),
                       contentEntry("http://x/large.swf", large.string())});
    TCacheAnalyzer analyzer(port, utc);
    analyzer.Rescan();
    analyzer.SortMultimediaBySize();
    EXPECT_EQ(urlsOf(analyzer.MultimediaEntries()),
              (std::vector<std::string>{"http://x/large.swf", "http://x/small.swf",
                                        "http://x/empty.swf", "http://x/gone.swf"}));
    // A missing movie is still listed.
    EXPECT_NE(analyzer.GetFlashMovies().find("http://x/gone.swf"), std::string::npos);
}

TEST_F(CacheAnalyzerTest, SortOrdersManyEntries) {
    std::vector<CacheEntrySource> entries;
    const int sizes[] = {5, 90, 5, 0, 33, 90, 1, 64, 2, 5, 17, 0, 71};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const auto file = dir.write("m" + std::to_string(i) + ".swf",
                                    std::string(static_cast<std::size_t>(sizes[i]), 'x'));
        entries.push_back(contentEntry("http://x/" + std::to_string(i) + ".swf", file.string()));
    }
    FakeUrlCache port(entries);
    TCacheAnalyzer analyzer(port, utc);
    analyzer.Rescan();
    analyzer.SortMultimediaBySize();
    std::vector<std::int32_t> sorted;
    for (const auto& entry : analyzer.MultimediaEntries()) {
        sorted.push_back(TCacheAnalyzer::LocalFileSize(entry->LocalFileName));
    }
    EXPECT_TRUE(std::is_sorted(sorted.rbegin(), sorted.rend()));
    EXPECT_EQ(sorted.size(), std::size(sizes));
}

TEST_F(CacheAnalyzerTest, LocalFileSize) {
    EXPECT_EQ(TCacheAnalyzer::LocalFileSize(dir.write("f", "12345").string()), 5);
    EXPECT_EQ(TCacheAnalyzer::LocalFileSize((dir.path() / "missing").string()), -1);
    EXPECT_EQ(TCacheAnalyzer::LocalFileSize(""), -1);
    EXPECT_EQ(TCacheAnalyzer::LocalFileSize(dir.path().string()), 0);
}

TEST_F(CacheAnalyzerTest, MissingLibraryLeavesEmptyLists) {
    FakeUrlCache port({contentEntry("http://x/a.swf", "/c/a[1].swf")});
    port.available = false;
    TCacheAnalyzer analyzer(port, utc);
    analyzer.Rescan();
    EXPECT_TRUE(analyzer.MultimediaEntries().empty());
    EXPECT_EQ(analyzer.GetFlashMovies(), "");
}

} // namespace
} // namespace sarnika
