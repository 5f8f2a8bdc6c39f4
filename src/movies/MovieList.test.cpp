#include "movies/MovieList.h"

#include <filesystem>
#include <stdexcept>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace sarnika {
namespace {

using Lines = std::vector<std::string>;

class FakeListBox : public MovieListBox {
public:
    void beginUpdate() override { calls.emplace_back("begin"); }
    void endUpdate() override { calls.emplace_back("end"); }
    void clear() override {
        calls.emplace_back("clear");
        lines.clear();
        selected = -1;
    }
    void addLine(const std::string& text) override {
        if (static_cast<int>(lines.size()) == failAtLine) {
            throw std::runtime_error("list box full");
        }
        lines.push_back(text);
    }
    int count() const override { return static_cast<int>(lines.size()); }
    int selectedIndex() const override { return selected; }
    void select(int index) override {
        calls.push_back("select " + std::to_string(index));
        selected = index;
    }

    Lines lines;
    Lines calls;
    int selected = -1;
    int failAtLine = -1;
};

MovieList listOf(std::string_view text) {
    MovieList movies;
    movies.LoadFromText(text);
    return movies;
}

TEST(MovieListLoad, SplitsAtEveryKindOfLineBreak) {
    EXPECT_EQ(listOf("a\r\nb\rc\nd").Items(), (Lines{"a", "b", "c", "d"}));
    // LF then CR is two breaks, not one.
    EXPECT_EQ(listOf("a\n\rb").Items(), (Lines{"a", "", "b"}));
    EXPECT_EQ(listOf("a\r\n\r\nb\r\n").Items(), (Lines{"a", "", "b"}));
}

TEST(MovieListLoad, FinalBreakAddsNoItemButAnEmptyLineDoes) {
    EXPECT_EQ(listOf("a\r\n").Items(), (Lines{"a"}));
    EXPECT_EQ(listOf("a\r").Items(), (Lines{"a"}));
    EXPECT_EQ(listOf("\r\n").Items(), (Lines{""}));
    EXPECT_EQ(listOf("a\r\n\r\n").Items(), (Lines{"a", ""}));
    EXPECT_TRUE(listOf("").Items().empty());
}

TEST(MovieListLoad, ReplacesTheWholeListAndPairsItems) {
    MovieList movies = listOf("/c/1\r\nhttp://h/1.swf\r\n/c/2\r\nhttp://h/2.swf\r\n");
    ASSERT_EQ(movies.MovieCount(), 2U);
    EXPECT_EQ(movies.CacheFile(1), "/c/2");
    EXPECT_EQ(movies.Url(1), "http://h/2.swf");
    EXPECT_EQ(movies.CacheFile(2), "");
    EXPECT_EQ(movies.Url(2), "");

    movies.LoadFromText("/c/3\r\n");
    EXPECT_EQ(movies.Items(), (Lines{"/c/3"}));
    EXPECT_EQ(movies.MovieCount(), 0U);
    EXPECT_EQ(movies.CacheFile(0), "");
}

TEST(DisplayName, CutsAtTheLastSeparatorThenAtTheQuery) {
    EXPECT_EQ(DisplayName("http://h/dir/clip.swf"), "clip.swf");
    EXPECT_EQ(DisplayName("http://h/clip.swf?a=1&b=2"), "clip.swf");
    EXPECT_EQ(DisplayName("http://h/clip.swf?u=dir/other.swf"), "other.swf");
    EXPECT_EQ(DisplayName("http://h/a.swf?t=12:30"), "30");
    EXPECT_EQ(DisplayName("C:\\cache\\movie.swf"), "movie.swf");
    EXPECT_EQ(DisplayName("clip.swf"), "clip.swf");
    EXPECT_EQ(DisplayName("http://h/dir/"), "");
    EXPECT_EQ(DisplayName(""), "");
}

TEST(SuggestedName, CleansTheDisplayNameOrSaysUntitled) {
    EXPECT_EQ(SuggestedName("http://h/clip.swf?a=1"), "clip.swf");
    EXPECT_EQ(SuggestedName("http://h/dir/"), "untitled");
    EXPECT_EQ(SuggestedName("http://h/&$ [ ]*<>|\"%"), "untitled");
    EXPECT_EQ(SuggestedName("http://h/[intro]&&$game.swf"), "intro game.swf");
    EXPECT_EQ(SuggestedName(""), "untitled");
}

TEST(CleanFileName, ReplacesTheFourteenCharactersAndCollapses) {
    EXPECT_EQ(CleanFileName("a/b\\c:d*e?f\"g<h>i|j[k]l&m$n%o"), "a b c d e f g h i j k l m n o");
    EXPECT_EQ(CleanFileName("a&$b.swf"), "a b.swf");
    EXPECT_EQ(CleanFileName("&clip.swf$"), "clip.swf");
    EXPECT_EQ(CleanFileName("  my   clip .swf "), "my clip .swf");
}

TEST(CleanFileName, KeepsEverythingElse) {
    EXPECT_EQ(CleanFileName("#',;=+@!.swf"), "#',;=+@!.swf");
    EXPECT_EQ(CleanFileName("a\t\tb"), "a\t\tb");
    // No URL decoding: the percent sign goes, the digits stay.
    EXPECT_EQ(CleanFileName("my%20clip.swf"), "my 20clip.swf");
}

TEST(CleanFileName, TrimsControlsButNotBytesAboveAscii) {
    EXPECT_EQ(CleanFileName("\t\x01 clip.swf\r\n"), "clip.swf");
    EXPECT_EQ(CleanFileName("\xE9t\xE9"), "\xE9t\xE9");
    EXPECT_EQ(CleanFileName("caf\xE9 \xFF"), "caf\xE9 \xFF");
}

TEST(CollapseBlanks, ShortensRunsOfBlanksOnly) {
    EXPECT_EQ(CollapseBlanks("  a   b c  "), " a b c ");
    EXPECT_EQ(CollapseBlanks("a\t\t b"), "a\t\t b");
    EXPECT_EQ(CollapseBlanks(""), "");
}

TEST(HostFromUrl, LowerCasesAndDropsWww) {
    EXPECT_EQ(HostFromUrl("HTTP://WWW.Example.COM:8080/Games/Clip.swf"), "example.com:8080");
    EXPECT_EQ(HostFromUrl("http://user@host.example:81/x"), "user@host.example:81");
    EXPECT_EQ(HostFromUrl("http://cdn.www.example.com/x"), "example.com");
    EXPECT_EQ(HostFromUrl("http://host.example"), "host.example");
}

TEST(HostFromUrl, WithoutSchemeOrText) {
    EXPECT_EQ(HostFromUrl("Example.com/path/clip.swf"), "example.com");
    EXPECT_EQ(HostFromUrl("/path"), "");
    EXPECT_EQ(HostFromUrl(""), "");
}

TEST(HostFromUrl, BytesAboveAsciiStayInTheCLocale) {
    EXPECT_EQ(HostFromUrl("http://H\xC9ST\xFF.example/x"), "h\xC9st\xFF.example");
}

class UniqueFileName : public ::testing::Test {
protected:
    std::string base() const { return (m_dir.path() / "base").string(); }
    std::string unique() const { return MakeUniqueFileName(base(), "swf", "-"); }
    void touch(const std::string& name) const { m_dir.write(name, "x"); }

    testing::TempDir m_dir;
};

TEST_F(UniqueFileName, TakesTheFirstFreeName) {
    EXPECT_EQ(unique(), base() + ".swf");
    touch("base.swf");
    EXPECT_EQ(unique(), base() + "-1.swf");
    touch("base-1.swf");
    EXPECT_EQ(unique(), base() + "-2.swf");
}

TEST_F(UniqueFileName, FillsAGap) {
    touch("base.swf");
    touch("base-2.swf");
    EXPECT_EQ(unique(), base() + "-1.swf");
}

TEST_F(UniqueFileName, AFolderDoesNotTakeTheName) {
    std::filesystem::create_directory(m_dir.path() / "base.swf");
    EXPECT_EQ(unique(), base() + ".swf");
}

TEST_F(UniqueFileName, UsesTheGivenSeparatorAndExtension) {
    touch("base.txt");
    EXPECT_EQ(MakeUniqueFileName(base(), "txt", " ("), base() + " (1.txt");
}

TEST_F(UniqueFileName, ADanglingLinkTakesTheName) {
    std::filesystem::create_symlink(m_dir.path() / "nowhere", m_dir.path() / "base.swf");
    EXPECT_EQ(unique(), base() + "-1.swf");
}

const char* const threeMovies = "/c/a\r\nhttp://h/a.swf?x=1\r\n"
                                "\r\nhttp://h/dir/\r\n"
                                "/c/b\r\nhttp://h/b&c.swf\r\n";

TEST(FillListBox, ShowsDisplayNamesAndSelectsTheFirstLine) {
    FakeListBox box;
    box.lines = {"old"};
    FillListBox(listOf(threeMovies), box);
    EXPECT_EQ(box.lines, (Lines{"a.swf", "", "b&c.swf"}));
    EXPECT_EQ(box.calls, (Lines{"begin", "clear", "end", "select 0"}));
}

TEST(FillListBox, EmptyListSelectsNothing) {
    FakeListBox box;
    box.lines = {"old"};
    box.selected = 0;
    FillListBox(listOf(""), box);
    EXPECT_TRUE(box.lines.empty());
    EXPECT_EQ(box.selected, -1);
    EXPECT_EQ(box.calls, (Lines{"begin", "clear", "end"}));
}

TEST(FillListBox, EndsTheUpdateWhenAStepFails) {
    FakeListBox box;
    box.failAtLine = 1;
    EXPECT_THROW(FillListBox(listOf(threeMovies), box), std::runtime_error);
    EXPECT_EQ(box.calls, (Lines{"begin", "clear", "end"}));
}

TEST(ListOperations, FollowTheSelectedLine) {
    const MovieList movies = listOf(threeMovies);
    FakeListBox box;
    FillListBox(movies, box);
    EXPECT_EQ(SelectedCacheFile(movies, box), "/c/a");
    EXPECT_EQ(SuggestedFileName(movies, box), "a.swf");
    box.select(1);
    EXPECT_EQ(SelectedCacheFile(movies, box), "");
    EXPECT_EQ(SuggestedFileName(movies, box), "untitled");
    box.select(2);
    EXPECT_EQ(SuggestedFileName(movies, box), "b c.swf");
    box.select(-1);
    EXPECT_EQ(SelectedCacheFile(movies, box), "");
}

TEST(ListOperations, AllNamesAndFilesAreAligned) {
    const MovieList movies = listOf(threeMovies);
    FakeListBox box;
    FillListBox(movies, box);
    EXPECT_EQ(AllCacheFiles(movies, box), (Lines{"/c/a", "", "/c/b"}));
    EXPECT_EQ(AllSuggestedNames(movies, box), (Lines{"a.swf", "untitled", "b c.swf"}));

    FakeListBox empty;
    EXPECT_TRUE(AllCacheFiles(movies, empty).empty());
    EXPECT_TRUE(AllSuggestedNames(movies, empty).empty());
}

} // namespace
} // namespace sarnika
