#include "cache/sources/BrowserCacheLayer.h"

#include <atomic>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <zlib.h>

#include <gtest/gtest.h>

#include "cache/CacheAnalyzer.h"
#include "cache/sources/ExtractionStore.h"
#include "support/PosixFiles.h"
#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

using sarnika::testing::contentOf;

namespace fs = std::filesystem;
using testing::TempDir;

const std::string kMovie =
    std::string("FWS\x0A", 4) + std::string("\x20\x00\x00\x00", 4) + std::string(24, 'm');

std::string gzipOf(const std::string& data) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(data.size() + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

CacheRecord content(std::string url, std::string type, std::string stored,
                    std::string encoding = "") {
    CacheRecord record;
    record.url = std::move(url);
    record.headers = "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\n";
    if (!encoding.empty()) {
        record.headers += "Content-Encoding: " + encoding + "\r\n";
    }
    record.headers += "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n";
    record.size = stored.size();
    record.identity = record.url + "|v1";
    record.body = [stored](std::uint64_t limit) -> Result<std::string> {
        return stored.substr(
            0, static_cast<std::size_t>(std::min<std::uint64_t>(limit, stored.size())));
    };
    return record;
}

// A reader over records held by the test, per source path.
struct FakeSources {
    std::map<std::string, std::vector<CacheRecord>> records;
    std::map<std::string, std::string> failures;
    std::atomic<int> reads = 0;

    // Safe to call from several threads at once, as a layer reading sources side by side does.
    SourceReader reader() {
        return [this](const SourceLocation& source, std::string_view, ReadReport& report) {
            ++reads;
            if (auto failure = failures.find(source.path.string()); failure != failures.end()) {
                report.skip(failure->second);
                return std::vector<CacheRecord>();
            }
            const auto found = records.find(source.path.string());
            return found != records.end() ? found->second : std::vector<CacheRecord>();
        };
    }
};

// Streams what `reader` gives; the big caches in parts, as the real readers do: a part is a
// slice of the entries, and only the first part tells what is wrong with the cache as a whole.
SourceStreamer streamerOver(SourceReader reader) {
    return
        [reader = std::move(reader)](const SourceLocation& source, std::string_view user,
                                     SourcePart part, ReadReport& report, const RecordSink& sink) {
            if (!readInParts(source.kind) && part.index != 0) {
                return;
            }
            ReadReport ofTheWhole;
            std::vector<CacheRecord> records =
                reader(source, user, part.index == 0 ? report : ofTheWhole);
            for (std::size_t at = part.begin(records.size()); at < part.end(records.size()); ++at) {
                if (!sink(records[at])) {
                    return;
                }
            }
        };
}

enum class Walks {
    Loaded,     // each walk reads its group whole first
    Streamed,   // served while the sources are read, one after the other
    SideBySide, // served while three threads read the sources at once
};

// Every case runs in each way of walking.
class BrowserCacheLayerTest : public ::testing::TestWithParam<Walks> {
protected:
    void SetUp() override { TIECache::ResetLibraryFlagForTesting(); }
    void TearDown() override { TIECache::ResetLibraryFlagForTesting(); }

    BrowserCacheLayer::Options options() {
        BrowserCacheLayer::Options result;
        result.sources = {{SourceLocation::Kind::ChromiumCache, "/caches/chromium"},
                          {SourceLocation::Kind::ChromiumCookies, "/profile/Cookies"}};
        result.extractionRoot = dir.path() / "extracted";
        result.reader = sources.reader();
        result.streamWalks = GetParam() != Walks::Loaded;
        if (GetParam() == Walks::SideBySide) {
            result.streamer = streamerOver(result.reader);
            result.readingThreads = 3;
        }
        return result;
    }

    // URL -> local file of every Flash movie, in the analyzer's order.
    std::vector<std::pair<std::string, std::string>> movies(BrowserCacheLayer& layer) {
        TCacheAnalyzer analyzer(layer, utc);
        analyzer.Rescan();
        analyzer.SortMultimediaBySize();
        std::vector<std::pair<std::string, std::string>> result;
        std::istringstream text(analyzer.GetFlashMovies());
        for (std::string file, url; std::getline(text, file) && std::getline(text, url);) {
            result.emplace_back(url.substr(0, url.size() - 1), file.substr(0, file.size() - 1));
        }
        return result;
    }

    TempDir dir;
    FakeSources sources;
    UtcLocalTime utc;
};

TEST_P(BrowserCacheLayerTest, ExtractsMoviesDecodedUnderWinInetNames) {
    const std::string bigMovie = kMovie + std::string(100, 'b');
    auto& chromium = sources.records["/caches/chromium"];
    chromium.push_back(content("http://h/swf/tiny.swf", "application/x-shockwave-flash", kMovie));
    chromium.push_back(
        content("http://h/swf/gz.swf", "application/x-shockwave-flash", gzipOf(bigMovie), "gzip"));
    chromium.push_back(content("http://h/dl?id=9.swf", "application/octet-stream", kMovie + "x"));
    chromium.push_back(content("http://h/pic.png", "image/png", "\x89PNG...."));
    CacheRecord cookie;
    cookie.kind = RecordKind::Cookie;
    cookie.url = "Cookie:user@h/";
    sources.records["/profile/Cookies"].push_back(cookie);

    BrowserCacheLayer layer(options());
    const auto found = movies(layer);
    ASSERT_EQ(found.size(), 3U);
    EXPECT_EQ(found[0].first, "http://h/swf/gz.swf"); // largest once decoded
    EXPECT_EQ(fs::path(found[0].second).filename(), "gz[1].swf");
    EXPECT_EQ(contentOf(found[0].second), bigMovie);
    EXPECT_EQ(found[1].first, "http://h/dl?id=9.swf");
    EXPECT_EQ(fs::path(found[1].second).filename(), "dl[1].swf"); // told by its signature
    EXPECT_EQ(found[2].first, "http://h/swf/tiny.swf");
    EXPECT_EQ(contentOf(found[2].second), kMovie);
    EXPECT_EQ(layer.report().extracted, 3U);
    const SourceLocation* origin = layer.sourceOfLocalFile(found[0].second);
    ASSERT_NE(origin, nullptr);
    EXPECT_EQ(origin->path, "/caches/chromium");
    EXPECT_EQ(layer.sourceOfLocalFile("/elsewhere"), nullptr);
    std::set<fs::path> folders;
    for (const auto& [url, file] : found) {
        EXPECT_EQ(fs::path(file).parent_path().parent_path().parent_path(),
                  dir.path() / "extracted");
        folders.insert(fs::path(file).parent_path());
    }
    EXPECT_EQ(folders.size(), 3U);
    // Only the movies were copied out.
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path() / "extracted")) {
        files += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 3);
}

TEST_P(BrowserCacheLayerTest, MultimediaOnlyWalksGiveTheSameMoviesAndNothingElse) {
    auto& chromium = sources.records["/caches/chromium"];
    chromium.push_back(content("http://h/a.swf", "application/x-shockwave-flash", kMovie));
    chromium.push_back(content("http://h/dl?id=9.swf", "application/octet-stream", kMovie + "x"));
    chromium.push_back(content("http://h/pic.png", "image/png", "\x89PNG...."));
    chromium.push_back(content("http://h/levels.xml", "text/xml", "<levels/>"));
    CacheRecord cookie;
    cookie.kind = RecordKind::Cookie;
    cookie.url = "Cookie:user@h/";
    sources.records["/profile/Cookies"].push_back(cookie);
    std::vector<std::pair<std::string, std::string>> everything;
    {
        BrowserCacheLayer layer(options());
        everything = movies(layer);
    }
    auto only = options();
    only.multimediaOnly = true;
    only.extractAlso = [](std::string_view url) {
        return url.ends_with(".xml");
    };
    BrowserCacheLayer layer(only);
    EXPECT_EQ(movies(layer), everything);
    ASSERT_EQ(everything.size(), 2U);
    TCacheAnalyzer analyzer(layer, utc);
    analyzer.Rescan();
    EXPECT_TRUE(analyzer.ImageEntries().empty());
    // What the caller asked to have copied out still comes, and the other walks are whole.
    ASSERT_EQ(analyzer.OtherEntries().size() + analyzer.PageEntries().size(), 1U);
    EXPECT_EQ(analyzer.CookieEntries().size(), 1U);
}

TEST_P(BrowserCacheLayerTest, ReusesCurrentExtractionsAndRemovesStaleOnes) {
    auto& chromium = sources.records["/caches/chromium"];
    chromium.push_back(content("http://h/a.swf", "application/x-shockwave-flash", kMovie));
    chromium.push_back(content("http://h/b.swf", "application/x-shockwave-flash", kMovie + "b"));
    BrowserCacheLayer layer(options());
    const auto first = movies(layer);
    ASSERT_EQ(first.size(), 2U);

    const auto again = movies(layer);
    EXPECT_EQ(again, first);
    EXPECT_EQ(layer.report().extracted, 0U);
    EXPECT_EQ(layer.report().reused, 2U);

    // b changed: a new folder, the old one goes; a is gone: its folder goes too.
    chromium.erase(chromium.begin());
    chromium[0] = content("http://h/b.swf", "application/x-shockwave-flash", kMovie + "bb");
    chromium[0].identity = "b|v2";
    const auto changed = movies(layer);
    ASSERT_EQ(changed.size(), 1U);
    EXPECT_EQ(contentOf(changed[0].second), kMovie + "bb");
    EXPECT_FALSE(fs::exists(first[0].second));
    EXPECT_FALSE(fs::exists(first[1].second));
    EXPECT_FALSE(fs::exists(fs::path(first[0].second).parent_path()));
}

TEST_P(BrowserCacheLayerTest, UnreadableSourceKeepsItsExtractions) {
    sources.records["/caches/chromium"].push_back(
        content("http://h/a.swf", "application/x-shockwave-flash", kMovie));
    BrowserCacheLayer layer(options());
    const auto first = movies(layer);
    ASSERT_EQ(first.size(), 1U);
    sources.failures["/caches/chromium"] = "permission denied";
    EXPECT_TRUE(movies(layer).empty());
    EXPECT_EQ(layer.report().sourcesFailed, 1U);
    ASSERT_EQ(layer.report().problems.size(), 1U);
    EXPECT_NE(layer.report().problems[0].find("permission denied"), std::string::npos);
    EXPECT_TRUE(fs::exists(first[0].second));
}

TEST_P(BrowserCacheLayerTest, DamagedBodiesAreLeftOutAndTheRestListed) {
    auto& chromium = sources.records["/caches/chromium"];
    chromium.push_back(
        content("http://h/bad.swf", "application/x-shockwave-flash", "not gzip", "gzip"));
    chromium.push_back(
        content("http://h/br.swf", "application/x-shockwave-flash", kMovie, "snappy"));
    CacheRecord unreadable = content("http://h/gone.swf", "application/x-shockwave-flash", kMovie);
    unreadable.body = [](std::uint64_t) -> Result<std::string> {
        return makeError(Error::Code::Unreadable, "entry file vanished");
    };
    chromium.push_back(unreadable);
    chromium.push_back(content("http://h/good.swf", "application/x-shockwave-flash", kMovie));
    BrowserCacheLayer layer(options());
    const auto found = movies(layer);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].first, "http://h/good.swf");
    EXPECT_EQ(layer.report().entriesSkipped, 3U);
}

TEST_P(BrowserCacheLayerTest, EachWalkReadsOnlyItsGroup) {
    BrowserCacheLayer layer(options());
    TCacheAnalyzer analyzer(layer, utc);
    analyzer.Rescan();
    // One read of the cookie store, one of the cache (one per part when three threads read it);
    // none for the history walk.
    EXPECT_EQ(sources.reads, GetParam() == Walks::SideBySide ? 4 : 2);
    EXPECT_EQ(walkGroupOf(nullptr), WalkGroup::All);
    EXPECT_EQ(walkGroupOf(""), WalkGroup::Content);
    EXPECT_EQ(walkGroupOf("cookie:"), WalkGroup::Cookies);
    EXPECT_EQ(walkGroupOf("Visited:"), WalkGroup::History);
}

TEST_P(BrowserCacheLayerTest, PrunesFoldersOfSourcesThatAreGone) {
    sources.records["/caches/chromium"].push_back(
        content("http://h/a.swf", "application/x-shockwave-flash", kMovie));
    auto withOld = options();
    withOld.sources.push_back({SourceLocation::Kind::FirefoxCache, "/caches/old"});
    sources.records["/caches/old"].push_back(
        content("http://h/o.swf", "application/x-shockwave-flash", kMovie));
    {
        BrowserCacheLayer layer(withOld);
        EXPECT_EQ(movies(layer).size(), 2U);
    }
    const fs::path oldFolder = dir.path() / "extracted" / ExtractionStore::keyOf("/caches/old");
    ASSERT_TRUE(fs::exists(oldFolder));
    {
        BrowserCacheLayer layer(options()); // reading other folders keeps theirs
        EXPECT_EQ(movies(layer).size(), 1U);
        EXPECT_TRUE(fs::exists(oldFolder));
    }
    auto own = options();
    own.pruneUnknownSources = true;
    BrowserCacheLayer layer(own);
    EXPECT_EQ(movies(layer).size(), 1U);
    EXPECT_FALSE(fs::exists(oldFolder));
}

// Attacks by crafted cache entries. Records stand for what each reader hands on: bodies kept in
// the browser's files (Firefox, Chromium) or a real file beside an index.dat.
TEST_P(BrowserCacheLayerTest, LineBreaksInUrlsOrFileNamesNeverNameAMovie) {
    const fs::path secret = dir.path() / "private.txt";
    std::ofstream(secret) << "secret";
    const std::string smuggled = "http://evil.test/x.swf\n" + secret.string() + "\nhttp://e/s.swf";
    auto& chromium = sources.records["/caches/chromium"];
    chromium.push_back(content(smuggled, "application/x-shockwave-flash", kMovie));
    chromium.push_back(content("http://e/a.swf\r" + secret.string() + "\rhttp://e/t.swf",
                               "application/x-shockwave-flash", kMovie));
    chromium.push_back(content(std::string("http://e/n.swf\0", 15) + secret.string(),
                               "application/x-shockwave-flash", kMovie));
    CacheRecord indexDat = content(smuggled, "application/x-shockwave-flash", "");
    indexDat.localFile = (dir.path() / "movie[1].swf").string();
    chromium.push_back(indexDat);
    CacheRecord badName = content("http://e/b.swf", "application/x-shockwave-flash", "");
    badName.localFile = (dir.path() / "b[1].swf\n").string() + secret.string();
    chromium.push_back(badName);
    chromium.push_back(content("http://h/good.swf", "application/x-shockwave-flash", kMovie));

    BrowserCacheLayer layer(options());
    const auto found = movies(layer);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].first, "http://h/good.swf");
    EXPECT_EQ(layer.report().entriesSkipped, 5U);
    ASSERT_EQ(layer.report().problems.size(), 1U);
    EXPECT_NE(layer.report().problems[0].find("5 entries left out for a line break"),
              std::string::npos);
    // Nothing of the refused entries was copied out.
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path() / "extracted")) {
        files += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 1);
}

TEST_P(BrowserCacheLayerTest, ASourceThatThrowsIsAWarningAndTheOthersAreListed) {
    auto withOther = options();
    withOther.sources.push_back({SourceLocation::Kind::FirefoxCache, "/caches/firefox"});
    sources.records["/caches/firefox"].push_back(
        content("http://h/f.swf", "application/x-shockwave-flash", kMovie));
    withOther.reader = [inner = sources.reader()](const SourceLocation& source,
                                                  std::string_view user, ReadReport& report) {
        if (source.path == "/caches/chromium") {
            throw std::bad_alloc();
        }
        return inner(source, user, report);
    };
    if (withOther.streamer) {
        withOther.streamer = streamerOver(withOther.reader);
    }
    BrowserCacheLayer layer(withOther);
    const auto found = movies(layer);
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].first, "http://h/f.swf");
    EXPECT_EQ(layer.report().sourcesFailed, 1U);
    ASSERT_EQ(layer.report().problems.size(), 1U);
    EXPECT_NE(layer.report().problems[0].find("/caches/chromium: 1 skipped (cannot be read"),
              std::string::npos)
        << layer.report().problems[0];
}

// `count` zero bytes, gzip-compressed piece by piece, after `prefix`.
std::string gzipBomb(const std::string& prefix, std::size_t count) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    std::string input = prefix + std::string(1U << 20U, '\0');
    std::string out;
    std::string chunk(1U << 16U, '\0');
    std::size_t left = prefix.size() + count;
    bool first = true;
    while (left > 0) {
        const std::size_t piece =
            std::min(left, first ? input.size() : input.size() - prefix.size());
        stream.next_in = reinterpret_cast<Bytef*>(input.data() + (first ? 0 : prefix.size()));
        stream.avail_in = static_cast<uInt>(piece);
        left -= piece;
        first = false;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
            stream.avail_out = static_cast<uInt>(chunk.size());
            deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
            out.append(chunk.data(), chunk.size() - stream.avail_out);
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    return out;
}

std::vector<std::string> filesUnder(const fs::path& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (!it->is_directory()) {
            files.push_back(it->path().filename().string());
        }
    }
    return files;
}

// Decompression bombs: refused once past what the movie can be, never held in memory, and
// nothing of them stays on disk.
TEST_P(BrowserCacheLayerTest, DecompressionBombsAreRefusedWithAWarning) {
    constexpr std::size_t kBomb = std::size_t{300} << 20U;
    // A Flash header declaring 1000 bytes, then 600 MiB of zeros.
    const std::string swfBomb = gzipBomb(std::string("FWS\x0A\xE8\x03\x00\x00", 8), kBomb);
    const std::string bomb = gzipBomb("", kBomb);
    ASSERT_LT(swfBomb.size() + bomb.size(), 2U << 20U);
    auto& chromium = sources.records["/caches/chromium"];
    chromium.push_back(content("http://e/a.swf", "application/x-shockwave-flash", swfBomb, "gzip"));
    chromium.push_back(content("http://e/b.mp3", "audio/mpeg", bomb, "gzip"));
    chromium.push_back(content("http://e/c.swf", "application/octet-stream", bomb, "gzip"));
    chromium.push_back(
        content("http://e/d.swf", "application/x-shockwave-flash", gzipOf(swfBomb), "gzip, gzip"));
    chromium.push_back(
        content("http://h/good.swf", "application/x-shockwave-flash", gzipOf(kMovie), "gzip"));
#ifndef _WIN32
    const long before = testing::peakMemoryKiB();
#endif
    BrowserCacheLayer layer(options());
    const auto found = movies(layer);
#ifndef _WIN32
    EXPECT_LT(testing::peakMemoryKiB() - before, 64 * 1024) << "KiB more at the peak";
#endif
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].first, "http://h/good.swf");
    EXPECT_EQ(contentOf(found[0].second), kMovie);
    EXPECT_EQ(layer.report().entriesSkipped, 4U);
    ASSERT_EQ(layer.report().problems.size(), 4U);
    EXPECT_NE(layer.report().problems[0].find("http://e/a.swf: refused to decode: it decodes to "
                                              "more than the 1000 bytes its Flash header declares"),
              std::string::npos)
        << layer.report().problems[0];
    EXPECT_NE(layer.report().problems[1].find("decode to more than"), std::string::npos)
        << layer.report().problems[1];
    EXPECT_EQ(filesUnder(dir.path() / "extracted"), std::vector<std::string>{"good[1].swf"});
}

#ifndef _WIN32
// Links planted in the extraction folder between two scans are never read, written through or
// pruned through.
TEST_P(BrowserCacheLayerTest, LinksInTheExtractionFolderAreNeverFollowed) {
    const fs::path secret = dir.path() / "private.txt";
    std::ofstream(secret) << "secret";
    const fs::path elsewhere = dir.path() / "elsewhere";
    fs::create_directories(elsewhere / "keep");
    std::ofstream(elsewhere / "keep" / "file") << "keep";
    auto& chromium = sources.records["/caches/chromium"];
    chromium.push_back(content("http://h/a.swf", "application/x-shockwave-flash", kMovie));
    chromium.push_back(content("http://h/b.swf", "application/x-shockwave-flash", kMovie + "b"));
    BrowserCacheLayer layer(options());
    const auto first = movies(layer);
    ASSERT_EQ(first.size(), 2U);
    const fs::path movieA = first[1].second;
    const fs::path folderB = fs::path(first[0].second).parent_path();
    const fs::path sourceFolder = folderB.parent_path();

    // The movie's name becomes a link to a private file; another entry's folder a link to a
    // folder elsewhere; stale-looking keys link to folders elsewhere.
    fs::remove(movieA);
    fs::create_symlink(secret, movieA);
    fs::remove_all(folderB);
    fs::create_directory_symlink(elsewhere, folderB);
    fs::create_directory_symlink(elsewhere, sourceFolder / "0123456789abcdef");
    fs::create_directory_symlink(elsewhere, dir.path() / "extracted" / "0123456789abcdef");
    const auto again = movies(layer);
    for (const auto& [url, file] : again) {
        EXPECT_NE(contentOf(file), "secret") << url;
        EXPECT_NE(fs::canonical(file).parent_path(), fs::canonical(elsewhere)) << url;
    }
    EXPECT_EQ(layer.report().entriesSkipped, 2U);
    EXPECT_EQ(contentOf(secret), "secret");
    EXPECT_EQ(contentOf(elsewhere / "keep" / "file"), "keep");
    EXPECT_EQ(fs::directory_iterator(elsewhere)->path().filename(), "keep");

    // Pruning every entry and source removes the links themselves, nothing they point to.
    sources.records["/caches/chromium"].clear();
    auto own = options();
    own.pruneUnknownSources = true;
    own.sources.pop_back();
    BrowserCacheLayer pruning(own);
    EXPECT_TRUE(movies(pruning).empty());
    EXPECT_EQ(contentOf(elsewhere / "keep" / "file"), "keep");
    EXPECT_EQ(contentOf(secret), "secret");
}
#endif

// A kill during an extraction leaves a partial file: the next scan removes it once it is old.
TEST_P(BrowserCacheLayerTest, StrayPartialFilesArePruned) {
    sources.records["/caches/chromium"].push_back(
        content("http://h/a.swf", "application/x-shockwave-flash", kMovie));
    BrowserCacheLayer layer(options());
    const auto first = movies(layer);
    ASSERT_EQ(first.size(), 1U);
    const fs::path folder = fs::path(first[0].second).parent_path();
    EXPECT_EQ(filesUnder(folder), std::vector<std::string>{"a[1].swf"});
    std::ofstream(folder / ".partial-123") << "cut short";
    std::ofstream(folder / ".partial-456") << "being written";
    fs::last_write_time(folder / ".partial-123",
                        fs::file_time_type::clock::now() - std::chrono::hours(2));
    movies(layer);
    auto left = filesUnder(folder);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{".partial-456", "a[1].swf"}));
}

TEST_P(BrowserCacheLayerTest, AWalkLeftBeforeItsEndPrunesNothing) {
    auto& chromium = sources.records["/caches/chromium"];
    // More pages than a streamed walk reads ahead, so that it is left while still reading.
    for (int page = 0; page < 5000; ++page) {
        chromium.push_back(content("http://h/" + std::to_string(page) + ".html", "text/html", "p"));
    }
    for (const char* url : {"http://h/a.swf", "http://h/b.swf", "http://h/c.swf"}) {
        chromium.push_back(content(url, "application/x-shockwave-flash", kMovie + url));
    }
    sources.records["/caches/firefox"].push_back(
        content("http://h/f.swf", "application/x-shockwave-flash", kMovie));
    auto withReader = options();
    withReader.sources.push_back({SourceLocation::Kind::FirefoxCache, "/caches/firefox"});
    withReader.streamer = streamerOver(sources.reader());
    BrowserCacheLayer layer(withReader);
    const auto all = movies(layer);
    ASSERT_EQ(all.size(), 4U);

    // The first entry only, then the walk is closed, again and again.
    for (int walk = 0; walk < 3; ++walk) {
        std::uint32_t size = 0;
        EXPECT_EQ(layer.findFirstEntry("", 0, CacheEntryBits::Normal, 0, nullptr, &size), nullptr);
        std::vector<std::uint64_t> buffer(size / sizeof(std::uint64_t) + 1);
        auto* record = reinterpret_cast<CacheEntryRecord*>(buffer.data());
        CacheSearchHandle handle =
            layer.findFirstEntry("", 0, CacheEntryBits::Normal, 0, record, &size);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(std::string(record->lpszSourceUrlName), "http://h/0.html");
        EXPECT_TRUE(layer.findClose(handle));
        EXPECT_FALSE(layer.findNextEntry(handle, record, &size));
    }
    for (const auto& [url, file] : all) {
        EXPECT_TRUE(fs::exists(file)) << url;
    }
    EXPECT_EQ(movies(layer), all);
}

TEST_P(BrowserCacheLayerTest, EveryWayOfWalkingGivesTheSameListReportAndSources) {
    // Sources of thousands of entries (more than a walk reads ahead of its caller), movies of
    // one size whose order only the walk's order decides, problems in several sources.
    auto several = options();
    several.sources.clear();
    for (const char* path : {"/caches/a", "/caches/b", "/caches/broken", "/caches/c"}) {
        several.sources.push_back({SourceLocation::Kind::ChromiumCache, path});
        auto& records = sources.records[path];
        for (int page = 0; page < 4500; ++page) {
            records.push_back(
                content(std::string("http://") + path + "/" + std::to_string(page) +
                            (page % 300 == 7 ? ".swf" : ""),
                        page % 300 == 7 ? "application/x-shockwave-flash" : "text/html",
                        page % 300 == 7 ? kMovie : "p"));
        }
        records.push_back(content(std::string("http://") + path + "/bad.swf\nx",
                                  "application/x-shockwave-flash", kMovie));
    }
    sources.failures["/caches/broken"] = "permission denied";
    several.sources.push_back({SourceLocation::Kind::ChromiumCookies, "/profile/Cookies"});
    several.streamer = GetParam() == Walks::SideBySide ? streamerOver(several.reader) : nullptr;

    auto oneByOne = several;
    oneByOne.streamWalks = false;
    oneByOne.streamer = nullptr;
    BrowserCacheLayer expected(oneByOne);
    const auto expectedMovies = movies(expected);
    ASSERT_EQ(expectedMovies.size(), 45U);

    // Three threads for four caches; eight, which read each cache in eight parts.
    for (const std::size_t threads : {3U, 8U}) {
        several.readingThreads = threads;
        BrowserCacheLayer layer(several);
        for (int walk = 0; walk < 2; ++walk) {
            EXPECT_EQ(movies(layer), expectedMovies);
            EXPECT_EQ(layer.report().problems, expected.report().problems);
            EXPECT_EQ(layer.report().sourcesRead, 4U);
            EXPECT_EQ(layer.report().sourcesFailed, 1U);
            EXPECT_EQ(layer.report().entriesSkipped, expected.report().entriesSkipped);
            for (const auto& [url, file] : expectedMovies) {
                const SourceLocation* source = layer.sourceOfLocalFile(file);
                ASSERT_NE(source, nullptr) << url;
                EXPECT_EQ(url.rfind("http://" + source->path.string() + "/", 0), 0U) << url;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Walks, BrowserCacheLayerTest,
                         ::testing::Values(Walks::Loaded, Walks::Streamed, Walks::SideBySide),
                         [](const ::testing::TestParamInfo<Walks>& mode) {
                             switch (mode.param) {
                             case Walks::Loaded:
                                 return "Loaded";
                             case Walks::Streamed:
                                 return "Streamed";
                             case Walks::SideBySide:
                                 break;
                             }
                             return "SideBySide";
                         });

} // namespace
} // namespace sarnika::sources
