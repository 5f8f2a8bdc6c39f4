#include "cache/sources/firefox/FirefoxOldCache.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <tuple>

#include <gtest/gtest.h>

#include "cache/sources/HttpHeaders.h"
#include "cache/sources/decode/ContentDecoding.h"
#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using testing::contentOf;
using testing::TempDir;

void put32(std::string& out, std::size_t at, std::uint32_t value) {
    out.resize(std::max(out.size(), at + 4));
    for (std::size_t i = 0; i < 4; ++i) {
        out[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFFU);
    }
}

std::string metadataRecord(const std::string& key, std::uint32_t dataSize,
                           std::uint32_t version = 0x00010013) {
    const std::string elements = std::string("request-method\0GET\0response-head\0", 33) +
                                 "HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash"
                                 "\r\n" +
                                 std::string(1, '\0');
    std::string out;
    for (const std::uint32_t word :
         {version, 0U, 3U, 1'300'000'000U, 1'300'000'000U, 1'300'086'400U, dataSize,
          static_cast<std::uint32_t>(key.size() + 1),
          static_cast<std::uint32_t>(elements.size())}) {
        put32(out, out.size(), word);
    }
    return out + key + '\0' + elements;
}

// A cache written by the test: its map, block files and separate files.
class MadeCache {
public:
    explicit MadeCache(std::uint32_t version) : m_version(version) {
        for (std::uint32_t file = 1; file <= 3; ++file) {
            m_blocks.at(file - 1) =
                std::string(version >= 0x00010013 ? 16384U >> (2 * (file - 1)) : 4096U, '\0');
        }
    }
    const fs::path& folder() const { return m_dir.path(); }

    static std::uint32_t blocks(std::uint32_t file, std::uint32_t start, std::uint32_t count) {
        return 0x80000000U | (file << 28U) | ((count - 1) << 24U) | start;
    }
    static std::uint32_t separate(std::uint32_t generation) { return 0x80000000U | generation; }

    void putBlocks(std::uint32_t file, std::uint32_t start, const std::string& bytes) {
        std::string& out = m_blocks.at(file - 1);
        const std::size_t bitmap = m_version >= 0x00010013 ? 16384U >> (2 * (file - 1)) : 4096U;
        const std::size_t at = bitmap + std::size_t{start} * (256U << (2 * (file - 1)));
        out.resize(std::max(out.size(), at + bytes.size()));
        out.replace(at, bytes.size(), bytes);
    }
    void putSeparate(std::uint32_t hash, char kind, const std::string& bytes) {
        std::array<char, 16> name{};
        (void)std::snprintf(name.data(), name.size(), "%08X%c01", hash, kind);
        const std::string text = name.data();
        m_dir.write(m_version >= 0x0001000B
                        ? text.substr(0, 1) + "/" + text.substr(1, 2) + "/" + text.substr(3)
                        : text,
                    bytes);
    }
    void addRecord(std::uint32_t hash, std::uint32_t data, std::uint32_t meta) {
        m_records.push_back({hash, 1, data, meta});
    }
    // `spare` records more than the buckets use stay in the map, as Firefox leaves them.
    void write(std::array<std::uint32_t, 4> spare = {}, bool headerOnly = false) {
        const bool growing = m_version >= 0x0001000B;
        const std::uint32_t perBucket = growing ? 4 : 256;
        std::string map(growing ? 276 : 4096, '\0');
        put32(map, 0, m_version);
        put32(map, 16, growing ? perBucket * 32 : 0);
        const std::size_t recordsAt = map.size();
        map.resize(recordsAt + std::size_t{perBucket} * 32 * 16, '\0');
        std::array<std::uint32_t, 32> used{};
        for (const auto& record : m_records) {
            const std::uint32_t bucket = record[0] & 31U;
            for (std::size_t i = 0; i < 4; ++i) {
                put32(map,
                      recordsAt + std::size_t{bucket * perBucket + used.at(bucket)} * 16 + i * 4,
                      record.at(i));
            }
            ++used.at(bucket);
        }
        if (growing) {
            for (std::size_t bucket = 0; bucket < 32; ++bucket) {
                put32(map, 148 + bucket * 4, used.at(bucket));
            }
        }
        if (growing && spare[0] != 0) {
            for (std::size_t i = 0; i < 4; ++i) {
                put32(map,
                      recordsAt + std::size_t{(spare[0] & 31U) * perBucket + perBucket - 1} * 16 +
                          i * 4,
                      spare.at(i));
            }
        }
        m_dir.write("_CACHE_MAP_", headerOnly ? map.substr(0, 276) : map);
        for (std::size_t file = 0; file < 3; ++file) {
            m_dir.write("_CACHE_00" + std::to_string(file + 1) + "_", m_blocks.at(file));
        }
    }

private:
    TempDir m_dir;
    std::uint32_t m_version;
    std::array<std::string, 3> m_blocks;
    std::vector<std::array<std::uint32_t, 4>> m_records;
};

std::map<std::string, const CacheRecord*> byUrl(const std::vector<CacheRecord>& records) {
    std::map<std::string, const CacheRecord*> out;
    for (const CacheRecord& record : records) {
        out[record.url] = &record;
    }
    return out;
}

TEST(FirefoxOldCache, ReadsWithAUsableMapInEveryLayout) {
    // Firefox 2 / 3.0 (fixed map, flat separate files), 3.5 to 3.6 (growing map, 4 KiB
    // bitmaps), 4 to 31 (bitmaps of 16, 4 and 1 KiB).
    for (const std::uint32_t version : {0x00010008U, 0x0001000CU, 0x00010013U}) {
        MadeCache cache(version);
        const std::string small = "FWS\x0A" + std::string(1200, 's');
        const std::string large = "CWS\x0A" + std::string(40'000, 'l');
        const std::string smallKey = "HTTP:http://a.test/small.swf";
        const std::string largeKey = "HTTP:id=1f&uri=http://a.test/large.swf";
        const std::uint32_t smallHash = firefoxOldKeyHash(smallKey);
        const std::uint32_t largeHash = firefoxOldKeyHash(largeKey);
        cache.putBlocks(1, 3, metadataRecord(smallKey, small.size(), version));
        cache.putBlocks(2, 1, small);
        cache.addRecord(smallHash, MadeCache::blocks(2, 1, 2), MadeCache::blocks(1, 3, 2));
        cache.putSeparate(largeHash, 'm', metadataRecord(largeKey, large.size(), version));
        cache.putSeparate(largeHash, 'd', large);
        cache.addRecord(largeHash, MadeCache::separate(1), MadeCache::separate(1));
        cache.putBlocks(3, 0, metadataRecord("HTTP:http://a.test/empty", 0, version));
        cache.addRecord(firefoxOldKeyHash("HTTP:http://a.test/empty"), 0,
                        MadeCache::blocks(3, 0, 1));
        cache.addRecord(8, 0, MadeCache::blocks(3, 40, 1) | 0x04000000U); // reserved bit: damage
        cache.addRecord(9, 0, MadeCache::blocks(3, 40, 1));               // past the end
        // A stale record whose blocks another entry took: told by the key's hash from Firefox 4.
        cache.addRecord(0x0BADF00D, 0, MadeCache::blocks(3, 0, 1));
        const bool hashed = version >= 0x00010013;
        // A record beyond its bucket's use is stale: it would list the small movie twice. (The
        // fixed map of the oldest layout has no such records.)
        cache.write({version >= 0x0001000B ? smallHash | 0x20U : 0, 1, MadeCache::blocks(2, 1, 2),
                     MadeCache::blocks(1, 3, 2)});

        ReadReport report;
        const std::vector<CacheRecord> records = readFirefoxOldCache(cache.folder(), report);
        ASSERT_EQ(records.size(), hashed ? 3U : 4U) << std::hex << version;
        EXPECT_EQ(report.skipped, hashed ? 3U : 2U) << report.firstProblem;
        const auto urls = byUrl(records);
        const CacheRecord& smallRecord = *urls.at("http://a.test/small.swf");
        EXPECT_EQ(smallRecord.body(1U << 20U).value(), small);
        EXPECT_EQ(smallRecord.body(4).value(), "FWS\x0A");
        EXPECT_EQ(smallRecord.headers, "HTTP/1.1 200 OK\r\nContent-Type: "
                                       "application/x-shockwave-flash\r\n\r\n");
        EXPECT_EQ(smallRecord.size, small.size());
        EXPECT_EQ(smallRecord.useCount, 3U);
        EXPECT_EQ(smallRecord.lastAccess, fileTimeFromUnixSeconds(1'300'000'000));
        EXPECT_EQ(smallRecord.expires, fileTimeFromUnixSeconds(1'300'086'400));
        EXPECT_EQ(urls.at("http://a.test/large.swf")->body(1U << 20U).value(), large);
        EXPECT_EQ(urls.at("http://a.test/empty")->body(10).value(), "");

        // The records of a map that was not closed are not trusted: the entries are looked for
        // in the files, in every layout.
        std::string map = contentOf(cache.folder() / "_CACHE_MAP_");
        map[15] = 1;
        std::ofstream(cache.folder() / "_CACHE_MAP_", std::ios::binary) << map;
        ReadReport dirtyReport;
        const std::vector<CacheRecord> scanned = readFirefoxOldCache(cache.folder(), dirtyReport);
        ASSERT_EQ(scanned.size(), 3U);
        EXPECT_EQ(byUrl(scanned).at("http://a.test/small.swf")->body(1U << 20U).value(), small);
        EXPECT_EQ(byUrl(scanned).at("http://a.test/large.swf")->body(1U << 20U).value(), large);

        // Block files are shared: once one changes, a body read from it could be another's.
        std::ofstream(cache.folder() / "_CACHE_002_", std::ios::app) << "grown";
        EXPECT_FALSE(smallRecord.body(10));
    }
}

TEST(FirefoxOldCache, WithoutTheMapNoEntryGetsAnothersBody) {
    MadeCache cache(0x00010013);
    // Data that fills its last block leaves no mark where it ends: 2048 + 2049 bytes look like
    // one run of four blocks, 1024 + 1025 like one of three, as long as the 2049 bytes' run.
    std::uint32_t dataBlock = 0;
    std::uint32_t metaBlock = 0;
    std::map<std::string, std::string> bodies;
    for (const std::uint32_t size : {2048U, 2049U, 1024U, 1025U, 5000U}) {
        const std::string url = "http://a.test/" + std::to_string(size);
        bodies[url] = std::string(size, static_cast<char>('a' + size % 26));
        const std::string meta = metadataRecord("HTTP:" + url, size);
        cache.putBlocks(1, metaBlock, meta);
        metaBlock += static_cast<std::uint32_t>(meta.size() + 255) / 256;
        if (size > 3072) {
            cache.putBlocks(3, 0, bodies[url]);
        } else {
            cache.putBlocks(2, dataBlock, bodies[url]);
            dataBlock += (size + 1023) / 1024;
        }
    }
    cache.write({}, true);
    ReadReport report;
    const std::vector<CacheRecord> records = readFirefoxOldCache(cache.folder(), report);
    ASSERT_EQ(records.size(), 5U);
    for (const CacheRecord& record : records) {
        if (record.body) {
            EXPECT_TRUE(record.body(1U << 20U).value() == bodies.at(record.url)) << record.url;
        }
    }
    EXPECT_TRUE(byUrl(records).at("http://a.test/5000")->body);
}

TEST(FirefoxOldCache, UrlsOfKeys) {
    EXPECT_EQ(urlFromFirefoxOldKey("HTTP:http://a.test/m.swf?x=uri=1"),
              "http://a.test/m.swf?x=uri=1");
    EXPECT_EQ(urlFromFirefoxOldKey("HTTP:id=5b6160c9&uri=http://ocsp.test/"), "http://ocsp.test/");
    EXPECT_EQ(urlFromFirefoxOldKey("HTTP:anon&uri=https://a.test/"), "https://a.test/");
    EXPECT_EQ(urlFromFirefoxOldKey("wyciwyg:wyciwyg://0/http://a.test/"),
              "wyciwyg://0/http://a.test/");
    EXPECT_EQ(urlFromFirefoxOldKey("no client"), "no client");
}

// ---- The sample, whose map holds only its header -------------------------------------------

const fs::path& sample() {
    static const fs::path path =
        testing::sharedDir() / "testdata/external/firefox-oldcache/firefox_cache1";
    return path;
}

// A writable copy of the sample (its files are read-only).
void copySample(const TempDir& temp) {
    fs::copy(sample(), temp.path(), fs::copy_options::recursive);
    for (const auto& item : fs::recursive_directory_iterator(temp.path())) {
        fs::permissions(item.path(), fs::perms::owner_write, fs::perm_options::add);
    }
}

// Every file below the folder with its bytes and modification time.
std::map<std::string, std::pair<std::string, fs::file_time_type>> snapshot(const fs::path& dir) {
    std::map<std::string, std::pair<std::string, fs::file_time_type>> out;
    for (const auto& item : fs::recursive_directory_iterator(dir)) {
        if (item.is_regular_file()) {
            out[item.path().string()] = {contentOf(item.path()), item.last_write_time()};
        }
    }
    return out;
}

TEST(FirefoxOldCache, ReadsTheSampleWithoutItsMap) {
    const TempDir temp;
    copySample(temp);
    const auto before = snapshot(temp.path());
    ASSERT_TRUE(looksLikeFirefoxOldCache(temp.path()));

    ReadReport report;
    const std::vector<CacheRecord> records = readFirefoxOldCache(temp.path(), report);
    EXPECT_EQ(report.skipped, 0U) << report.firstProblem;
    // Nine GET keys and four answers to POSTs (OCSP), which keep their URL after "uri=".
    ASSERT_EQ(records.size(), 13U);
    const auto urls = byUrl(records);
    for (const char* url :
         {"http://www.google.com/images/nav_logo229.png", "http://clients1.google.com/generate_204",
          "http://www.google.com/images/branding/product/ico/googleg_lodp.ico",
          "https://ssl.gstatic.com/gb/images/b_8d5afc09.png", "http://ocsp.pki.goog/gsr2",
          "http://ssl.gstatic.com/gb/js/sem_c87908b20b80e337d7767b3e66715ee0.js"}) {
        EXPECT_TRUE(urls.contains(url)) << url;
    }
    const CacheRecord& search =
        *urls.at("http://www.google.com/search?q=plaso+log2timeline&ie=utf-8&oe=utf-8&"
                 "aq=t&rls=org.mozilla:en-US:official&client=firefox-a");
    EXPECT_EQ(std::tie(search.size, search.useCount, search.lastAccess, search.expires),
              std::tuple(21480U, 1U, fileTimeFromUnixSeconds(0x5b6160c8), FileTime{0}));

    std::size_t bodies = 0;
    for (const CacheRecord& record : records) {
        EXPECT_TRUE(record.headers.starts_with("HTTP/1.1 ")) << record.url;
        EXPECT_TRUE(record.headers.ends_with("\r\n\r\n")) << record.url;
        if (!record.body) {
            continue; // the two OCSP answers of the same size: either could be in either place
        }
        ++bodies;
        const auto body = record.body(1U << 20U);
        ASSERT_TRUE(body) << record.url << ": " << body.error().message;
        ASSERT_EQ(body->size(), record.size) << record.url;
        // A body taken from the wrong blocks fails gzip's check or a PNG's end.
        const std::string encoding = headerValue(record.headers, "Content-Encoding");
        EXPECT_TRUE(decodeContent(*body, encoding, 1U << 24U)) << record.url;
        if (record.url.ends_with(".png")) {
            EXPECT_TRUE(body->ends_with("IEND\xae\x42\x60\x82")) << record.url;
        }
    }
    EXPECT_EQ(bodies, 11U);
    EXPECT_EQ(snapshot(temp.path()), before);
}

TEST(FirefoxOldCache, DamagedCopiesListTheUndamagedEntries) {
    ReadReport cleanReport;
    const std::vector<CacheRecord> clean = readFirefoxOldCache(sample(), cleanReport);
    const TempDir temp;
    copySample(temp);
    for (const auto& item : fs::recursive_directory_iterator(sample())) {
        if (!item.is_regular_file()) {
            continue;
        }
        const fs::path relative = fs::relative(item.path(), sample());
        const std::string bytes = contentOf(item.path());
        for (const std::size_t at : {std::size_t{0}, std::size_t{3}, std::size_t{16},
                                     bytes.size() / 3, bytes.size() * 2 / 3, bytes.size() - 1}) {
            for (const bool cut : {true, false}) {
                std::string damaged = cut ? bytes.substr(0, at) : bytes;
                if (!cut) {
                    damaged[at] = static_cast<char>(~damaged[at]);
                }
                temp.write(relative.string(), damaged);
                ReadReport report;
                const auto records = readFirefoxOldCache(temp.path(), report);
                const auto urls = byUrl(records);
                for (const CacheRecord& record : records) {
                    if (record.body) {
                        (void)record.body(1U << 20U);
                    }
                }
                // Entries whose metadata lies in another file are all still there.
                for (const CacheRecord& record : clean) {
                    if (record.identity.substr(0, record.identity.find('|')) !=
                        (sample() / relative).string()) {
                        EXPECT_TRUE(urls.contains(record.url))
                            << relative << (cut ? " cut at " : " flipped at ") << at << ": "
                            << record.url;
                    }
                }
            }
        }
        temp.write(relative.string(), bytes);
    }
}

} // namespace
} // namespace sarnika::sources
