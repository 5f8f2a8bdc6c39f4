#include "cache/sources/firefox/FirefoxCache.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <regex>
#include <tuple>

#include <gtest/gtest.h>

#include "cache/sources/FileAccess.h"
#include "cache/sources/HttpHeaders.h"
#include "cache/sources/decode/ContentDecoding.h"
#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using testing::sharedDir;
using testing::TempDir;

struct EntryShape {
    std::uint32_t version = 4;
    bool versionWord = true; // the two-word trailer of version 4
    std::uint32_t offsetFlags = 0;
    std::string body = "FWS\x0A body";
    std::string key = "O^partitionKey=%28http%2C127.0.0.1%29,a,~FETCH,:http://h.test/m.swf";
    std::string responseHead = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n";
};

std::string buildEntry(const EntryShape& shape) {
    std::string out = shape.body;
    const auto put = [&out](std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            out += static_cast<char>((value >> static_cast<unsigned>(shift)) & 0xFFU);
        }
    };
    put(0x12345678); // the metadata hash, which the reader does not check
    out.append((shape.body.size() + 262'143) / 262'144 * 2, 'h');
    for (const std::uint32_t word :
         {shape.version, 3U, 1'700'000'000U, 1'600'000'000U, 77U, 1'700'086'400U,
          static_cast<std::uint32_t>(shape.key.size())}) {
        put(word);
    }
    if (shape.version >= 2) {
        put(0); // flags
    }
    out.append(shape.key).append(1, '\0');
    out.append("request-method\0GET\0response-head\0", 33).append(shape.responseHead);
    out.append("\0net-response-time-onstop\0"
               "57\0",
               29);
    if (shape.version >= 4 && shape.versionWord) {
        put(shape.version);
    }
    put(static_cast<std::uint32_t>(shape.body.size()) | shape.offsetFlags);
    return out;
}

Result<FirefoxEntryInfo> parseWhole(const std::string& file) {
    return parseFirefoxEntry(file, file.size());
}

TEST(FirefoxEntry, ParsesEveryVersionFromTheTailOnly) {
    for (const std::uint32_t version : {1U, 2U, 3U, 4U}) {
        for (const bool versionWord : {true, false}) {
            EntryShape shape{version, versionWord};
            shape.body = std::string(versionWord ? 300'000 : 0, 'b'); // two chunk hashes, or none
            const std::string file = buildEntry(shape);
            const std::uint64_t tailLength =
                firefoxTailLength(std::string_view(file).substr(file.size() - 8), file.size());
            ASSERT_EQ(tailLength, file.size() - shape.body.size());
            const auto info = parseFirefoxEntry(
                std::string_view(file).substr(file.size() - tailLength), file.size());
            ASSERT_TRUE(info) << version << ": " << info.error().message;
            EXPECT_EQ(info->version, version);
            EXPECT_EQ(info->bodySize, shape.body.size());
            EXPECT_EQ(
                std::tie(info->fetchCount, info->lastFetched, info->lastModified, info->expiration),
                std::tuple(3U, 1'700'000'000U, 1'600'000'000U, 1'700'086'400U));
            EXPECT_EQ(info->key, shape.key);
            EXPECT_EQ(info->url, "http://h.test/m.swf");
            EXPECT_EQ(info->headers, "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n");
        }
    }
    EntryShape unended;
    unended.responseHead = "HTTP/1.1 200 OK";
    EXPECT_EQ(parseWhole(buildEntry(unended))->headers, "HTTP/1.1 200 OK\r\n\r\n");
}

TEST(FirefoxEntry, RejectsWhatItCannotRead) {
    const auto why = [](const std::string& file) {
        const auto info = parseWhole(file);
        return info ? std::string("parsed") : info.error().message;
    };
    EXPECT_EQ(why(buildEntry({4, true, 0x80000000U})), "encrypted entry");
    EXPECT_EQ(why(buildEntry({5})), "metadata version 5");
    EXPECT_EQ(why(buildEntry({0, false})), "metadata version 0");

    const std::string good = buildEntry({});
    const std::size_t keyEnd = good.find("m.swf") + 5;
    std::string damaged = good;
    damaged[keyEnd] = 'X';
    EXPECT_EQ(why(damaged), "key is not NUL-terminated");
    damaged = good;
    damaged[keyEnd - EntryShape{}.key.size() - 8] = '\x7F'; // the high byte of key_size
    EXPECT_EQ(why(damaged), "key runs past the metadata");
    damaged = good;
    damaged[damaged.size() - 3] = '\x10';
    EXPECT_EQ(why(damaged), "metadata offset 1048585 past the end of the file");
    EXPECT_EQ(
        firefoxTailLength(std::string_view(damaged).substr(damaged.size() - 8), damaged.size()),
        0U);
    EXPECT_EQ(why(""), "too short for a cache entry");
    EXPECT_FALSE(parseFirefoxEntry(std::string_view(good).substr(good.size() - 20), good.size()));
}

TEST(FirefoxEntry, UrlsOfKeys) {
    EXPECT_EQ(
        urlFromFirefoxKey("O^partitionKey=%28http%2C127.0.0.1%29,:http://127.0.0.1/c.swf?a=1"),
        "http://127.0.0.1/c.swf?a=1");
    EXPECT_EQ(urlFromFirefoxKey("a,~1559237088,:http://ocsp.pki.goog/GTSGIAG3"),
              "http://ocsp.pki.goog/GTSGIAG3");
    EXPECT_EQ(urlFromFirefoxKey("~a,,b:c,,p,:https://x.test/a,b:c"), "https://x.test/a,b:c");
    EXPECT_EQ(urlFromFirefoxKey(":about:home"), "about:home");
    EXPECT_EQ(urlFromFirefoxKey("a,p,:"), "");
    EXPECT_EQ(urlFromFirefoxKey("no tags here"), "no tags here");
}

// ---- Real caches ----------------------------------------------------------------------------

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// fileIdentity gives "<path>|<size>|<mtime>".
std::string fileNameOf(const CacheRecord& record) {
    return fs::path(record.identity.substr(0, record.identity.find('|'))).filename().string();
}

// Our listing in the reference reader's lines: file, url, size, fetched, expires, fetch count.
std::string listingOf(const std::vector<CacheRecord>& records) {
    const auto seconds = [](FileTime time) {
        return std::to_string(time == 0 ? 0 : time / 10'000'000 - 11'644'473'600);
    };
    std::string out;
    for (const CacheRecord& r : records) {
        out += fileNameOf(r) + '\t' + r.url + '\t' + std::to_string(r.size) + '\t' +
               seconds(r.lastAccess) + '\t' + seconds(r.expires) + '\t' +
               std::to_string(r.useCount) + '\n';
    }
    return out;
}

// The reference reader's listing without its ERROR lines, and their count.
std::pair<std::string, std::size_t> referenceListing(const fs::path& cache2Dir) {
    const std::string command = "python3 '" SARNIKA_FIREFOX_TEST_DIR "/list_reference.py' '" +
                                (sharedDir() / "tools" / "browser-caches").string() + "' '" +
                                cache2Dir.string() + "'";
    // NOLINTNEXTLINE(cert-env33-c): our own quoted paths
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::pair<std::string, std::size_t> listing;
    std::array<char, 4096> line{};
    while (pipe && fgets(line.data(), line.size(), pipe.get()) != nullptr) {
        const std::string text = line.data();
        if (text.ends_with("\tERROR\n")) {
            ++listing.second;
        } else {
            listing.first += text;
        }
    }
    EXPECT_FALSE(listing.first.empty()) << command;
    return listing;
}

// Some samples hold bare entry files; the reader wants them in cache2/entries.
fs::path asCache2(const TempDir& temp, const fs::path& flatFolder) {
    for (const auto& file : fs::directory_iterator(flatFolder)) {
        temp.write("cache2/entries/" + file.path().filename().string(), fileBytes(file.path()));
    }
    return temp.path() / "cache2";
}

fs::path madeHereCache2(const TempDir& temp) {
    const fs::path archive = sharedDir() / "testdata" / "made-here" / "firefox-cache.tar.gz";
    const std::string command = "tar -xzf '" + archive.string() + "' -C '" + temp.path().string() +
                                "' home/.cache/mozilla/firefox";
    // NOLINTNEXTLINE(cert-env33-c,concurrency-mt-unsafe): our own quoted paths
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    for (const auto& profile :
         fs::directory_iterator(temp.path() / "home/.cache/mozilla/firefox")) {
        return profile.path() / "cache2";
    }
    return {};
}

TEST(FirefoxCache2, AgreesWithTheReferenceReader) {
    const fs::path samples = sharedDir() / "testdata" / "firefox";
    const TempDir v1;
    const TempDir plaso;
    const TempDir made;
    // cache2_plaso holds one file that is no cache entry at all: it is skipped.
    for (const auto& [cache2, expected] :
         {std::pair{asCache2(v1, samples / "cache2_v1_dtformats"), 13U},
          std::pair{asCache2(plaso, samples / "cache2_plaso"), 4U},
          std::pair{samples / "cache2_v3_firefox67_dfirlabs", 7U},
          std::pair{madeHereCache2(made), 16U}}) {
        const auto [reference, errors] = referenceListing(cache2);
        ReadReport report;
        const std::vector<CacheRecord> records = readFirefoxCache2(cache2, report);
        EXPECT_EQ(records.size(), expected) << cache2;
        EXPECT_EQ(listingOf(records), reference) << cache2;
        EXPECT_EQ(report.skipped, errors) << report.firstProblem;
        for (const CacheRecord& record : records) {
            EXPECT_TRUE(record.headers.empty() || record.headers.ends_with("\r\n\r\n"));
            EXPECT_EQ(record.identity, fileIdentity(cache2 / "entries" / fileNameOf(record)));
            EXPECT_EQ(record.lastSync, record.lastAccess);
            EXPECT_EQ(record.lastModified, 0U);
        }
    }
}

TEST(FirefoxCache2, BodiesMatchTheServedFiles) {
    const TempDir temp;
    ReadReport report;
    const std::vector<CacheRecord> records = readFirefoxCache2(madeHereCache2(temp), report);
    const fs::path site = sharedDir() / "testdata" / "made-here" / "site";
    const std::string manifest = fileBytes(site / "manifest.json");
    const std::regex item(R"re("file":\s*"([^"]+)",\s*"path":\s*"([^"]+)")re");
    std::size_t compared = 0;
    for (auto match = std::sregex_iterator(manifest.begin(), manifest.end(), item);
         match != std::sregex_iterator(); ++match, ++compared) {
        const std::string file = (*match)[1];
        const std::string path = (*match)[2];
        const auto record = std::find_if(records.begin(), records.end(), [&](const auto& r) {
            return r.url.ends_with(":18473" + path);
        });
        ASSERT_NE(record, records.end()) << path;
        const auto stored = record->body(std::uint64_t{1} << 30U);
        ASSERT_TRUE(stored) << stored.error().message;
        EXPECT_EQ(stored->size(), record->size);
        const std::string encoding = headerValue(record->headers, "Content-Encoding");
        EXPECT_EQ(encoding, file == "gz.swf" ? "gzip" : "") << path;
        const auto decoded = decodeContent(*stored, encoding, std::uint64_t{1} << 30U);
        ASSERT_TRUE(decoded) << path << ": " << decoded.error().message;
        EXPECT_TRUE(*decoded == fileBytes(site / file)) << path;
        EXPECT_EQ(record->body(3).value(), stored->substr(0, 3)) << path;
    }
    EXPECT_EQ(compared, 13U);
}

TEST(FirefoxCache2, DamagedCopiesListTheUndamagedEntries) {
    const TempDir made;
    const fs::path clean = madeHereCache2(made);
    ReadReport cleanReport;
    const std::vector<CacheRecord> cleanRecords = readFirefoxCache2(clean, cleanReport);
    const TempDir temp;
    for (const CacheRecord& record : cleanRecords) {
        const std::string name = fileNameOf(record);
        const std::string bytes = fileBytes(clean / "entries" / name);
        temp.write("cache2/entries/" + name, bytes);
        const std::size_t meta = record.size;
        const std::size_t size = bytes.size();
        for (const std::size_t at :
             {std::size_t{0}, std::size_t{4}, meta / 2, meta, meta + 3, meta + 10, meta + 31,
              meta + 39, meta + 45, size - 9, size - 8, size - 5, size - 4, size - 1}) {
            temp.write("cache2/entries/" + name + "-cut" + std::to_string(at), bytes.substr(0, at));
            std::string flipped = bytes;
            flipped[at] = static_cast<char>(~flipped[at]);
            temp.write("cache2/entries/" + name + "-flip" + std::to_string(at), flipped);
        }
    }
    ReadReport report;
    const std::vector<CacheRecord> records = readFirefoxCache2(temp.path() / "cache2", report);
    const auto files = std::distance(fs::directory_iterator(temp.path() / "cache2/entries"),
                                     fs::directory_iterator());
    EXPECT_EQ(records.size() + report.skipped, static_cast<std::size_t>(files));
    std::string undamaged;
    for (const CacheRecord& record : records) {
        if (fileNameOf(record).size() == 40) {
            undamaged += listingOf({record});
        }
        (void)record.body(std::uint64_t{1} << 20U);
    }
    EXPECT_EQ(undamaged, listingOf(cleanRecords));
}

TEST(FirefoxCache2, BodyReaderAndMissingFolders) {
    const TempDir temp;
    const fs::path path = temp.write("cache2/entries/0123456789ABCDEF", buildEntry({}));
    temp.write("cache2/doomed/1556483019", buildEntry({}));
    fs::create_directories(temp.path() / "cache2/entries/folder");
    ReadReport report;
    const std::vector<CacheRecord> records = readFirefoxCache2(temp.path() / "cache2", report);
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(report.skipped, 0U);
    EXPECT_EQ(records[0].body(1000).value(), EntryShape{}.body);
    // A rewritten entry has another layout: its body is refused, not misread.
    std::ofstream(path, std::ios::binary | std::ios::app) << "more";
    EXPECT_FALSE(records[0].body(1000));
    fs::remove(path);
    EXPECT_FALSE(records[0].body(1000));

    ReadReport missing;
    EXPECT_TRUE(readFirefoxCache2(temp.path() / "nowhere", missing).empty());
    EXPECT_EQ(missing.skipped, 1U);
}

} // namespace
} // namespace sarnika::sources
