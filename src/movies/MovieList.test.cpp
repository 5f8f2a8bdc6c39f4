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
        calls.emplace_back("select");
        selected = index;
    }

    Lines lines{"old"};
    Lines calls;
    int selected = 0;
    int failAtLine = -1;
};

MovieList listOf(std::string_view text) {
    MovieList movies;
    movies.LoadFromText(text);
    return movies;
}

const char* const threeMovies = "/c/a\r\nhttp://h/a.swf?x=1\r\n"
                                "\r\nhttp://h/dir/\r\n"
                                "/c/b\r\nhttp://h/b&c.swf\r\n";

TEST(MovieList, SplitsLinesAndPairsItems) {
    // LF then CR is two breaks; only a break at the very end adds no item.
    EXPECT_EQ(listOf("a\r\nb\rc\nd\n\re").Items(), (Lines{"a", "b", "c", "d", "", "e"}));
    EXPECT_EQ(listOf("a\r\n\r\n").Items(), (Lines{"a", ""}));
    EXPECT_EQ(listOf("\r").Items(), (Lines{""}));
    EXPECT_TRUE(listOf("").Items().empty());

    MovieList movies = listOf(threeMovies);
    ASSERT_EQ(movies.MovieCount(), 3U);
    EXPECT_EQ(movies.CacheFile(2), "/c/b");
    EXPECT_EQ(movies.Url(2), "http://h/b&c.swf");
    EXPECT_EQ(movies.Url(3), "");
    movies.LoadFromText("/c/odd");
    EXPECT_EQ(movies.MovieCount(), 0U);
    EXPECT_EQ(movies.CacheFile(0), "");
}

// Two browsers that cached the same movie give one line; other versions keep theirs.
TEST(MovieList, OffersAMovieOnceWhenCachesHoldTheSameBytes) {
    const testing::TempDir dir;
    const auto file = [&dir](const std::string& name, std::string_view content) {
        return dir.write(name, content).string();
    };
    const std::string chromium = file("chromium/f_1", "FWS same bytes");
    const std::string firefox = file("firefox/AB12", "FWS same bytes");
    const std::string otherVersion = file("firefox/CD34", "FWS other byte");
    const std::string elsewhere = file("wine/clip[1].swf", "FWS same bytes");
    const std::string gone = (dir.path() / "gone").string();
    const std::string url = "http://h/clip.swf";
    MovieList movies;
    movies.LoadFromText(chromium + "\r\n" + url + "\r\n" + firefox + "\r\n" + url + "\r\n" +
                        otherVersion + "\r\n" + url + "\r\n" + elsewhere +
                        "\r\nhttp://other/clip.swf\r\n" + chromium + "\r\n" + url + "\r\n" + gone +
                        "\r\n" + url + "\r\n" + gone + "\r\n" + url + "\r\n");
    EXPECT_EQ(movies.Items(), (Lines{chromium, url, otherVersion, url, elsewhere,
                                     "http://other/clip.swf", gone, url, gone, url}));
}

TEST(MovieNames, DisplayAndSuggestedNames) {
    EXPECT_EQ(DisplayName("http://h/clip.swf?a=1"), "clip.swf");
    EXPECT_EQ(DisplayName("http://h/clip.swf?u=dir/other.swf"), "other.swf");
    EXPECT_EQ(DisplayName("C:\\cache\\a.swf?t=12:30"), "30");
    EXPECT_EQ(DisplayName("clip.swf"), "clip.swf");
    EXPECT_EQ(DisplayName("http://h/dir/"), "");
    EXPECT_EQ(SuggestedName("http://h/clip.swf?a=1"), "clip.swf");
    EXPECT_EQ(SuggestedName("http://h/dir/"), "untitled");
    EXPECT_EQ(SuggestedName("http://h/&$ [ ]*<>|\"%"), "untitled");
    EXPECT_EQ(SuggestedName(""), "untitled");
}

TEST(MovieNames, CleanFileName) {
    EXPECT_EQ(CleanFileName("a/b\\c:d*e?f\"g<h>i|j[k]l&m$n%o"), "a b c d e f g h i j k l m n o");
    EXPECT_EQ(CleanFileName(" [intro]&&$game .swf&"), "intro game .swf");
    EXPECT_EQ(CleanFileName("#',;=+@!a\t\tb.swf"), "#',;=+@!a\t\tb.swf");
    EXPECT_EQ(CleanFileName("my%20clip.swf"), "my 20clip.swf");
    EXPECT_EQ(CleanFileName("\t\x01 clip.swf\r\n"), "clip.swf");
    // Bytes above 127 are letters, not control characters to trim.
    EXPECT_EQ(CleanFileName("\xE9t\xE9 \xFF"), "\xE9t\xE9 \xFF");
    EXPECT_EQ(CollapseBlanks("  a   b\t\t c  "), " a b\t\t c ");
}

TEST(MovieNames, HostFromUrl) {
    EXPECT_EQ(HostFromUrl("HTTP://WWW.Example.COM:8080/Games/Clip.swf"), "example.com:8080");
    EXPECT_EQ(HostFromUrl("ftp://user@host.example:21"), "user@host.example:21");
    EXPECT_EQ(HostFromUrl("http://cdn.www.example.com/x"), "example.com");
    EXPECT_EQ(HostFromUrl("Example.com/path/clip.swf"), "example.com");
    EXPECT_EQ(HostFromUrl(""), "");
    EXPECT_EQ(HostFromUrl("http://H\xC9ST\xFF.example/x"), "h\xC9st\xFF.example");
}

TEST(MovieNames, MakeUniqueFileName) {
    const testing::TempDir dir;
    const std::string base = (dir.path() / "base").string();
    const auto unique = [&base] {
        return MakeUniqueFileName(base, "swf", "-");
    };
    // A folder of the name does not take it.
    std::filesystem::create_directory(base + ".swf");
    EXPECT_EQ(unique(), base + ".swf");
    std::filesystem::remove(base + ".swf");
    dir.write("base.swf", "x");
    EXPECT_EQ(unique(), base + "-1.swf");
    dir.write("base-2.swf", "x");
    EXPECT_EQ(unique(), base + "-1.swf");
    dir.write("base-1.swf", "x");
    EXPECT_EQ(unique(), base + "-3.swf");
    // A dangling link takes the name: nothing could be created there.
    std::error_code noLinks;
    std::filesystem::create_symlink(dir.path() / "nowhere", base + "-3.swf", noLinks);
    if (noLinks) {
        GTEST_SKIP() << "no symbolic links here: " << noLinks.message();
    }
    EXPECT_EQ(unique(), base + "-4.swf");
}

TEST(MovieListBox, FillSelectsTheFirstLineInsideOneUpdate) {
    FakeListBox box;
    FillListBox(listOf(threeMovies), box);
    EXPECT_EQ(box.lines, (Lines{"a.swf", "", "b&c.swf"}));
    EXPECT_EQ(box.calls, (Lines{"begin", "clear", "end", "select"}));

    FakeListBox empty;
    FillListBox(listOf(""), empty);
    EXPECT_EQ(empty.selected, -1);
    EXPECT_EQ(empty.calls, (Lines{"begin", "clear", "end"}));

    FakeListBox failing;
    failing.failAtLine = 1;
    EXPECT_THROW(FillListBox(listOf(threeMovies), failing), std::runtime_error);
    EXPECT_EQ(failing.calls, (Lines{"begin", "clear", "end"}));
}

TEST(MovieListBox, OperationsFollowTheLines) {
    const MovieList movies = listOf(threeMovies);
    FakeListBox box;
    FillListBox(movies, box);
    EXPECT_EQ(SelectedCacheFile(movies, box), "/c/a");
    EXPECT_EQ(SuggestedFileName(movies, box), "a.swf");
    box.select(1);
    EXPECT_EQ(SelectedCacheFile(movies, box), "");
    EXPECT_EQ(SuggestedFileName(movies, box), "untitled");
    EXPECT_EQ(AllCacheFiles(movies, box), (Lines{"/c/a", "", "/c/b"}));
    EXPECT_EQ(AllSuggestedNames(movies, box), (Lines{"a.swf", "untitled", "b c.swf"}));
}

} // namespace
} // namespace sarnika
