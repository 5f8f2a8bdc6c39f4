#include "cache/sources/opera/OperaCache.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "cache/sources/FileAccess.h"
#include "cache/sources/HttpHeaders.h"
#include "cache/sources/decode/ContentDecoding.h"
#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::contentOf;
using testing::sharedDir;
using testing::TempDir;

// An Opera 11 cache from a real profile: 113 entries in dcache4.url, 9 in revocation/.
fs::path sampleCache() {
    return sharedDir() / "testdata" / "external" / "opera11-cache" / "cache";
}

std::uint32_t u32le(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;) {
        value = (value << 8U) | static_cast<std::uint8_t>(bytes[at + i]);
    }
    return value;
}

TEST(OperaCache, ReadsEveryEntryOfTheSampleAndEveryBodyWhole) {
    const auto before = testing::folderState(sampleCache());
    ASSERT_TRUE(looksLikeOperaCache(sampleCache()));
    ReadReport report;
    const std::vector<CacheRecord> records = readOperaCache(sampleCache(), report);
    EXPECT_EQ(records.size(), 113U + 9U);
    EXPECT_EQ(report.skipped, 0U) << report.firstProblem;

    std::vector<std::uint64_t> movieSizes;
    std::set<std::string> identities;
    for (const CacheRecord& record : records) {
        SCOPED_TRACE(record.url);
        identities.insert(record.identity);
        EXPECT_TRUE(record.headers.starts_with("HTTP/1.1 ") &&
                    record.headers.ends_with("\r\n\r\n"));
        EXPECT_NE(record.lastSync, 0U);
        ASSERT_TRUE(record.body);
        const auto body = record.body(std::uint64_t{1} << 30U);
        ASSERT_TRUE(body) << body.error().message;
        ASSERT_EQ(body->size(), record.size);
        if (!record.localFile.empty()) {
            EXPECT_EQ(*body, contentOf(record.localFile));
        }
        // Bodies packed into one file or kept in the index start where their type says.
        const std::string type = mediaTypeOf(headerValue(record.headers, "Content-Type"));
        const std::string encoding = headerValue(record.headers, "Content-Encoding");
        const auto decoded = decodeContent(*body, encoding, std::uint64_t{1} << 30U);
        ASSERT_TRUE(decoded) << decoded.error().message;
        if (type.starts_with("image/") && type != "image/x-icon") {
            EXPECT_TRUE(decoded->starts_with("\xFF\xD8") || decoded->starts_with("\x89PNG") ||
                        decoded->starts_with("GIF8"))
                << type;
        }
        if (type != "application/x-shockwave-flash") {
            continue;
        }
        // A movie's own header gives its length: the whole stored body must agree with it.
        movieSizes.push_back(record.size);
        ASSERT_GE(body->size(), 8U);
        if (body->starts_with("FWS")) {
            EXPECT_EQ(u32le(*body, 4), body->size());
        } else {
            ASSERT_TRUE(body->starts_with("CWS"));
            const auto movie = decodeContent(body->substr(8), "deflate", std::uint64_t{1} << 30U);
            ASSERT_TRUE(movie) << movie.error().message;
            EXPECT_EQ(u32le(*body, 4), movie->size() + 8);
        }
    }
    EXPECT_EQ(identities.size(), records.size());
    // The sizes the sample's notes give for its twelve movies.
    std::sort(movieSizes.begin(), movieSizes.end());
    EXPECT_EQ(movieSizes, (std::vector<std::uint64_t>{36, 36, 36, 36, 38106, 41652, 84141, 102126,
                                                      225271, 322205, 322205, 322205}));

    // Headers come from the kept ones where the index has them, else from its fields.
    std::map<std::string, const CacheRecord*> byUrl;
    for (const CacheRecord& record : records) {
        byUrl[record.url] = &record;
    }
    const CacheRecord& movie =
        *byUrl.at("http://www.continental.edu.pe/files/continental_mainx.swf");
    EXPECT_EQ(headerValue(movie.headers, "Server"), "Apache/2.2.10 (Linux/SUSE)");
    EXPECT_EQ(movie.lastModified, parseHttpDate("Tue, 16 Nov 2010 01:06:24 GMT"));
    const CacheRecord& page = *byUrl.at("http://redir.opera.com/speeddials/facebook/");
    EXPECT_TRUE(page.headers.starts_with("HTTP/1.1 301 Moved Permanently\r\n"));
    EXPECT_EQ(headerValue(page.headers, "Location"), "http://www.facebook.com/");
    EXPECT_EQ(headerValue(page.headers, "Content-Type"), "text/html; charset=iso-8859-1");
    EXPECT_EQ(testing::folderState(sampleCache()), before);
}

// Entries as the index gives them, to compare one parse with another.
std::map<std::uint64_t, std::string> entriesOf(std::string_view index) {
    ReadReport report;
    std::map<std::uint64_t, std::string> entries;
    const auto parsed = parseOperaIndex(index, report);
    for (const OperaIndexEntry& e : parsed.value().entries) {
        entries[e.offset] = e.url + "|" + std::to_string(e.size) + "|" + e.fileName + "|" +
                            std::to_string(e.slot.value_or(0)) + "|" + e.contentType + "|" +
                            e.date + "|" + std::to_string(e.headers.size());
    }
    return entries;
}

TEST(OperaCache, DamagedIndexesKeepTheirUndamagedEntries) {
    const std::string clean = contentOf(sampleCache() / "dcache4.url");
    const auto cleanEntries = entriesOf(clean);
    ASSERT_EQ(cleanEntries.size(), 113U);
    std::vector<std::uint64_t> starts;
    for (const auto& [offset, entry] : cleanEntries) {
        starts.push_back(offset);
    }
    starts.push_back(clean.size());
    for (std::size_t i = 0; i + 1 < starts.size(); i += 7) {
        const std::uint64_t start = starts[i];
        const std::uint64_t end = starts[i + 1];
        for (const std::uint64_t at :
             {start, start + 1, start + 2, start + 4, (start + end) / 2, end - 20, end - 1}) {
            SCOPED_TRACE("byte " + std::to_string(at));
            std::string flipped = clean;
            flipped[at] = static_cast<char>(~flipped[at]);
            auto damaged = entriesOf(flipped);
            auto expected = cleanEntries;
            expected.erase(start);
            damaged.erase(start);
            EXPECT_EQ(damaged, expected);

            auto cut = entriesOf(std::string_view(clean).substr(0, at));
            expected = cleanEntries;
            expected.erase(expected.lower_bound(start), expected.end());
            EXPECT_EQ(cut, expected);
        }
    }
    ReadReport report;
    EXPECT_FALSE(parseOperaIndex(clean.substr(0, 11), report));
    EXPECT_FALSE(parseOperaIndex("\0\0\x20\0\0\x02\0\0\0\x01\0\x02"s, report));
}

TEST(OperaCache, DamagedAndHostileBodyFilesAreSkipped) {
    const TempDir temp;
    fs::copy(sampleCache(), temp.path() / "cache", fs::copy_options::recursive);
    const fs::path cache = temp.path() / "cache";
    for (const auto& item : fs::recursive_directory_iterator(cache)) {
        fs::permissions(item.path(), fs::perms::owner_write, fs::perm_options::add);
    }
    // A pixel.swf whose file is gone; a movie and the last body of a packed file cut short; a
    // packed file of revocation/ that is no such file; a name that leads out of the cache.
    fs::remove(cache / "g_0000/opr0001J.tmp");
    fs::resize_file(cache / "g_0000/opr0001R.tmp", 38000);
    const std::string packed = contentOf(cache / "g_0000/opr0002G.tmp");
    temp.write("cache/g_0000/opr0002G.tmp", packed.substr(0, packed.size() - 1));
    temp.write("cache/revocation/g_0000/opr00003.tmp",
               "Y" + contentOf(cache / "revocation/g_0000/opr00003.tmp"));
    std::string index = contentOf(cache / "dcache4.url");
    index.replace(index.find("g_0000/opr0002X.tmp"), 19, "../../../etc/passwd");
    temp.write("cache/dcache4.url", index);

    ReadReport report;
    const std::vector<CacheRecord> records = readOperaCache(cache, report);
    EXPECT_EQ(records.size(), 122U - 5U);
    EXPECT_EQ(report.skipped, 5U) << report.firstProblem;
    EXPECT_NE(report.firstProblem.find("lies outside the cache"), std::string::npos);
    const auto found = [&records](std::string_view url) {
        return std::count_if(records.begin(), records.end(),
                             [url](const CacheRecord& r) { return r.url.ends_with(url); });
    };
    EXPECT_EQ(found("/images/youtube.jpg"), 0);
    EXPECT_EQ(found("/VastTranslator.swf"), 0);
    EXPECT_EQ(found("/images/twitter.jpg"), 1);

    // A body file rewritten after the listing is refused, not misread.
    const auto movie = std::find_if(records.begin(), records.end(), [](const CacheRecord& r) {
        return r.localFile.ends_with("opr0002B.tmp");
    });
    ASSERT_NE(movie, records.end());
    temp.write("cache/g_0000/opr0002B.tmp", "FWS");
    EXPECT_FALSE(movie->body(100));

    ReadReport missing;
    EXPECT_TRUE(readOperaCache(temp.path() / "nowhere", missing).empty());
    EXPECT_EQ(missing.skipped, 1U);
    EXPECT_FALSE(looksLikeOperaCache(cache / "g_0000"));
}

TEST(OperaCache, PackTables) {
    const auto table = parseOperaPackTable("Z\x03\x01\x00\x02\x02\x00\x05\x07\x01\x00"s, 20);
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 2U); // the third body would end past the file
    EXPECT_EQ(std::tie((*table)[1].slot, (*table)[1].offset, (*table)[1].length),
              std::tuple(2U, 13U, 5U));
    EXPECT_FALSE(parseOperaPackTable("Z\x02\x01\x00"s, 100));
    EXPECT_FALSE(parseOperaPackTable("Z\x00"s, 100));
    EXPECT_FALSE(parseOperaPackTable("<?xml"s, 100));
}

} // namespace
} // namespace sarnika::sources
