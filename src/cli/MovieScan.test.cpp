#include "cli/MovieScan.h"

#include <gtest/gtest.h>

#include "cache/ListUrlCache.h"
#include "support/FakeUrlCache.h"
#include "support/TempDir.h"

namespace sarnika::cli {
namespace {

using testing::contentEntry;
using testing::TempDir;

std::vector<std::string> urlsOf(const std::vector<MovieRow>& rows) {
    std::vector<std::string> urls;
    urls.reserve(rows.size());
    for (const MovieRow& row : rows) {
        urls.push_back(row.url + (row.sniffed ? " (sniffed)" : ""));
    }
    return urls;
}

TEST(MovieScan, SniffedMoviesFollowTheListedOnes) {
    const TempDir dir;
    const std::string big = dir.write("big[1].swf", "CWS" + std::string(300, 'b')).string();
    const std::string small = dir.write("a[1].swf", "FWS" + std::string(20, 'a')).string();
    const std::string play = dir.write("play[1].swf", "ZWS" + std::string(100, 'p')).string();
    const std::string text = dir.write("page[1].swf", "<html>" + std::string(500, ' ')).string();
    const std::string shortFile = dir.write("short[1].swf", "FWS").string();
    std::vector<CacheEntrySource> entries = {
        contentEntry("http://h/a.swf", small), contentEntry("http://h/play", play),
        contentEntry("http://h/page", text), contentEntry("http://h/short", shortFile),
        contentEntry("http://h/big.SWF?x=1", big)};
    entries[0].LastModifiedTime = 133'000'000'000'000'000;
    ListUrlCache cache(entries);

    MovieScan plain(cache, {});
    const auto rows = plain.run(false, {});
    EXPECT_EQ(urlsOf(rows), (std::vector<std::string>{"http://h/big.SWF?x=1", "http://h/a.swf"}));
    EXPECT_EQ(rows[0].displayName, "big.SWF");
    EXPECT_EQ(rows[0].suggestedName, "big.SWF");
    EXPECT_EQ(rows[0].host, "h");
    EXPECT_EQ(rows[0].size, 303U);
    ASSERT_NE(rows[1].entry, nullptr);
    EXPECT_GT(rows[1].entry->LastModifiedTime, 0);

    std::size_t ticks = 0;
    MovieScan sniffing(cache, [](const std::string& file) {
        return std::optional(sources::SourceDescription{"F", "", file});
    });
    const auto all = sniffing.run(true, [&ticks](std::size_t) { ++ticks; });
    EXPECT_EQ(urlsOf(all), (std::vector<std::string>{"http://h/big.SWF?x=1", "http://h/a.swf",
                                                     "http://h/play (sniffed)"}));
    EXPECT_EQ(all[2].displayName, "play");
    ASSERT_TRUE(all[2].source.has_value());
    EXPECT_EQ(all[2].source->folder, play);
    EXPECT_EQ(ticks, entries.size());

    // Keeping only what can be a movie lists the same, sniffed ones too, and keeps no page.
    entries.push_back(
        contentEntry("http://h/index.html", dir.write("index[1].htm", "<p>").string()));
    ListUrlCache withPage(entries);
    MovieScan lean(withPage, {}, ScanKeeps::Movies);
    EXPECT_EQ(urlsOf(lean.run(true, {})), urlsOf(all));
    for (const EntryRow& row : lean.entries({})) {
        EXPECT_EQ(row.category, "multimedia") << row.url;
    }
    EXPECT_EQ(lean.entries({}).size(), 5U);
}

} // namespace
} // namespace sarnika::cli
