#include "cache/sources/firefox/FirefoxCache.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "cache/sources/FileAccess.h"
#include "cache/sources/decode/ContentDecoding.h"
#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using testing::sharedDir;
using testing::TempDir;

void putU32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((value >> static_cast<unsigned>(shift)) & 0xFFU);
    }
}

struct EntrySpec {
    std::uint32_t version = 4;
    bool versionWord = true; // the two-word trailer of version 4
    std::uint32_t offsetFlags = 0;
    std::string body = "FWS\x0A body bytes";
    std::string key = "O^partitionKey=%28http%2C127.0.0.1%29,a,~FETCH,:http://h.test/m.swf";
    std::string responseHead = "HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n";
    std::uint32_t fetchCount = 3;
    std::uint32_t lastFetched = 1'700'000'000;
    std::uint32_t expiration = 1'700'086'400;
};

std::string buildEntry(const EntrySpec& spec) {
    std::string out = spec.body;
    putU32(out, 0x12345678); // hash, not checked by the reader
    const std::size_t chunks = (spec.body.size() + 262'143) / 262'144;
    out.append(chunks * 2, '\x5A');
    for (const std::uint32_t word :
         {spec.version, spec.fetchCount, spec.lastFetched, 1'600'000'000U, 77U, spec.expiration,
          static_cast<std::uint32_t>(spec.key.size())}) {
        putU32(out, word);
    }
    if (spec.version >= 2) {
        putU32(out, 0); // flags
    }
    out += spec.key;
    out += '\0';
    for (const auto& [name, value] : {std::pair<std::string, std::string>{"request-method", "GET"},
                                      {"response-head", spec.responseHead},
                                      {"net-response-time-onstop", "57"}}) {
        out.append(name).append(1, '\0').append(value).append(1, '\0');
    }
    if (spec.version >= 4 && spec.versionWord) {
        putU32(out, spec.version);
    }
    putU32(out, static_cast<std::uint32_t>(spec.body.size()) | spec.offsetFlags);
    return out;
}

Result<FirefoxEntryInfo> parseWhole(const std::string& file) {
    return parseFirefoxEntry(file, file.size());
}

TEST(FirefoxEntry, ParsesEveryVersionFromTheTailOnly) {
    for (const std::uint32_t version : {1U, 2U, 3U, 4U}) {
        for (const bool versionWord : {true, false}) {
            EntrySpec spec;
            spec.version = version;
            spec.versionWord = versionWord;
            spec.body = std::string(300'000, 'b'); // two chunk hashes
            const std::string file = buildEntry(spec);
            const std::string_view last = std::string_view(file).substr(file.size() - 8);
            const std::uint64_t tailLength = firefoxTailLength(last, file.size());
            ASSERT_EQ(tailLength, file.size() - spec.body.size());
            const auto info = parseFirefoxEntry(
                std::string_view(file).substr(file.size() - tailLength), file.size());
            ASSERT_TRUE(info) << version << ": " << info.error().message;
            EXPECT_EQ(info->version, version);
            EXPECT_EQ(info->bodySize, spec.body.size());
            EXPECT_EQ(info->fetchCount, 3U);
            EXPECT_EQ(info->lastFetched, 1'700'000'000U);
            EXPECT_EQ(info->expiration, 1'700'086'400U);
            EXPECT_EQ(info->lastModified, 1'600'000'000U);
            EXPECT_EQ(info->key, spec.key);
            EXPECT_EQ(info->url, "http://h.test/m.swf");
            EXPECT_EQ(info->headers, spec.responseHead + "\r\n");
        }
    }
}

TEST(FirefoxEntry, HeadersEndWithAnEmptyLine) {
    EntrySpec spec;
    spec.responseHead = "HTTP/1.1 200 OK\r\nContent-Encoding: gzip";
    auto info = parseWhole(buildEntry(spec));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->headers, "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\n\r\n");
    spec.responseHead.clear();
    info = parseWhole(buildEntry(spec));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->headers, "");
    spec.body.clear(); // predictor entries keep no body
    info = parseWhole(buildEntry(spec));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->bodySize, 0U);
}

TEST(FirefoxEntry, RejectsWhatItCannotRead) {
    EntrySpec encrypted;
    encrypted.offsetFlags = 0x80000000U;
    auto info = parseWhole(buildEntry(encrypted));
    ASSERT_FALSE(info);
    EXPECT_EQ(info.error().message, "encrypted entry");

    for (const std::uint32_t version : {0U, 5U, 9U}) {
        EntrySpec spec;
        spec.version = version;
        info = parseWhole(buildEntry(spec));
        ASSERT_FALSE(info) << version;
        EXPECT_EQ(info.error().code, Error::Code::Unsupported) << version;
    }

    std::string noNul = buildEntry(EntrySpec{});
    const std::size_t keyEnd = noNul.find("m.swf") + 5;
    noNul[keyEnd] = 'X';
    info = parseWhole(noNul);
    ASSERT_FALSE(info);
    EXPECT_EQ(info.error().message, "key is not NUL-terminated");

    std::string longKey = buildEntry(EntrySpec{});
    longKey[keyEnd - EntrySpec{}.key.size() - 8] = '\x7F'; // high byte of key_size
    info = parseWhole(longKey);
    ASSERT_FALSE(info);
    EXPECT_EQ(info.error().message, "key runs past the metadata");

    std::string farOffset = buildEntry(EntrySpec{});
    farOffset[farOffset.size() - 3] = '\x10';
    EXPECT_FALSE(parseWhole(farOffset));
    EXPECT_EQ(firefoxTailLength(std::string_view(farOffset).substr(farOffset.size() - 8),
                                farOffset.size()),
              0U);

    EXPECT_FALSE(parseWhole(""));
    EXPECT_FALSE(parseWhole(std::string("\0\0\0\0", 4)));
    const std::string good = buildEntry(EntrySpec{});
    EXPECT_FALSE(parseFirefoxEntry(std::string_view(good).substr(good.size() - 20), good.size()));
}

TEST(FirefoxEntry, SurvivesEveryCutAndFlippedByte) {
    const std::string good = buildEntry(EntrySpec{});
    for (std::size_t cut = 0; cut <= good.size(); ++cut) {
        const std::string_view prefix = std::string_view(good).substr(0, cut);
        (void)parseFirefoxEntry(prefix, prefix.size());
        (void)parseFirefoxEntry(std::string_view(good).substr(cut), good.size());
    }
    for (std::size_t at = 0; at < good.size(); ++at) {
        for (const unsigned char mask : {0x01U, 0x80U, 0xFFU}) {
            std::string damaged = good;
            damaged[at] = static_cast<char>(static_cast<unsigned char>(damaged[at]) ^ mask);
            const auto info = parseWhole(damaged);
            if (info) {
                EXPECT_LE(info->bodySize, damaged.size());
            }
        }
    }
}

TEST(FirefoxEntry, UrlsOfKeys) {
    EXPECT_EQ(urlFromFirefoxKey("O^partitionKey=%28http%2C127.0.0.1%29,:http://127.0.0.1:18473/"
                                "swf/clip.swf?a=1"),
              "http://127.0.0.1:18473/swf/clip.swf?a=1");
    EXPECT_EQ(urlFromFirefoxKey("a,~1559237088,:http://ocsp.pki.goog/GTSGIAG3"),
              "http://ocsp.pki.goog/GTSGIAG3");
    EXPECT_EQ(urlFromFirefoxKey("~predictor-origin,:https://www.mozilla.org/"),
              "https://www.mozilla.org/");
    EXPECT_EQ(urlFromFirefoxKey("~a,,b:c,,p,:https://x.test/a,b:c"), "https://x.test/a,b:c");
    EXPECT_EQ(urlFromFirefoxKey(":about:home"), "about:home");
    EXPECT_EQ(urlFromFirefoxKey("a,p,:"), "");
    EXPECT_EQ(urlFromFirefoxKey("no tags here"), "no tags here");
    EXPECT_EQ(urlFromFirefoxKey(""), "");
}

// ---- Real caches, checked against the reference reader -------------------------------------

struct ReferenceEntry {
    std::string url;
    std::uint64_t size = 0;
    std::uint64_t lastFetched = 0;
    std::string expiration;
    std::uint32_t fetchCount = 0;
};

struct ReferenceListing {
    std::map<std::string, ReferenceEntry> entries;
    std::size_t errors = 0;
};

ReferenceListing runReference(const fs::path& cache2Dir) {
    const std::string command = "python3 '" SARNIKA_FIREFOX_TEST_DIR "/list_reference.py' '" +
                                (sharedDir() / "tools" / "browser-caches").string() + "' '" +
                                cache2Dir.string() + "'";
    // The paths are ours (temporary folders and the shared checkout), quoted against blanks.
    // NOLINTNEXTLINE(cert-env33-c)
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ReferenceListing listing;
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return listing;
    }
    std::string output;
    char buffer[4096];
    while (const std::size_t got = fread(buffer, 1, sizeof buffer, pipe.get())) {
        output.append(buffer, got);
    }
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) {
            fields.push_back(field);
        }
        if (fields.size() == 2 && fields[1] == "ERROR") {
            ++listing.errors;
        } else if (fields.size() >= 5) {
            listing.entries[fields[0]] = {fields[1], std::stoull(fields[2]), std::stoull(fields[3]),
                                          fields.size() == 6 ? fields[4] : "",
                                          static_cast<std::uint32_t>(std::stoul(fields.back()))};
        } else {
            ADD_FAILURE() << "reference line: " << line;
        }
    }
    EXPECT_FALSE(output.empty()) << command;
    return listing;
}

FileTime fileTimeOf(std::uint64_t seconds) {
    return seconds == 0 ? 0 : fileTimeFromUnixSeconds(static_cast<std::int64_t>(seconds));
}

// fileIdentity gives "<path>|<size>|<mtime>".
std::string fileNameOf(const CacheRecord& record) {
    return fs::path(record.identity.substr(0, record.identity.find('|'))).filename().string();
}

// Some samples hold bare entry files; the reader wants them in cache2/entries.
fs::path asCache2(const TempDir& temp, const fs::path& flatFolder) {
    const fs::path entries = temp.path() / "cache2" / "entries";
    fs::create_directories(entries);
    for (const auto& file : fs::directory_iterator(flatFolder)) {
        fs::copy_file(file.path(), entries / file.path().filename());
        fs::permissions(entries / file.path().filename(), fs::perms::owner_write,
                        fs::perm_options::add);
    }
    return temp.path() / "cache2";
}

fs::path madeHereCache2(const TempDir& temp) {
    const fs::path archive = sharedDir() / "testdata" / "made-here" / "firefox-cache.tar.gz";
    const std::string command =
        "tar -xzf '" + archive.string() + "' -C '" + temp.path().string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) // NOLINT(cert-env33-c,concurrency-mt-unsafe)
        << command;
    const fs::path profiles = temp.path() / "home" / ".cache" / "mozilla" / "firefox";
    for (const auto& profile : fs::directory_iterator(profiles)) {
        if (fs::exists(profile.path() / "cache2" / "entries")) {
            return profile.path() / "cache2";
        }
    }
    ADD_FAILURE() << "no cache2 under " << profiles;
    return {};
}

void expectAgreement(const fs::path& cache2Dir, std::size_t expectedEntries) {
    SCOPED_TRACE(cache2Dir.string());
    const ReferenceListing reference = runReference(cache2Dir);
    ReadReport report;
    const std::vector<CacheRecord> records = readFirefoxCache2(cache2Dir, report);
    EXPECT_EQ(records.size(), expectedEntries);
    EXPECT_EQ(records.size(), reference.entries.size());
    EXPECT_EQ(report.skipped, reference.errors) << report.firstProblem;
    for (const CacheRecord& record : records) {
        const auto found = reference.entries.find(fileNameOf(record));
        ASSERT_NE(found, reference.entries.end()) << record.identity;
        const ReferenceEntry& expected = found->second;
        EXPECT_EQ(record.url, expected.url);
        EXPECT_EQ(record.size, expected.size) << record.url;
        EXPECT_EQ(record.lastAccess, fileTimeOf(expected.lastFetched)) << record.url;
        EXPECT_EQ(record.lastSync, record.lastAccess) << record.url;
        EXPECT_EQ(record.expires,
                  expected.expiration.empty() ? 0 : fileTimeOf(std::stoull(expected.expiration)))
            << record.url;
        EXPECT_EQ(record.useCount, expected.fetchCount) << record.url;
        EXPECT_EQ(record.lastModified, 0U);
        EXPECT_TRUE(record.headers.empty() ||
                    record.headers.substr(record.headers.size() - 4) == "\r\n\r\n");
        auto body = record.body(record.size + 100);
        ASSERT_TRUE(body) << body.error().message;
        EXPECT_EQ(body->size(), record.size);
    }
}

TEST(FirefoxCache2, AgreesWithTheReferenceReader) {
    const fs::path samples = sharedDir() / "testdata" / "firefox";
    {
        TempDir temp;
        expectAgreement(asCache2(temp, samples / "cache2_v1_dtformats"), 13);
    }
    {
        // One file there is not a cache entry at all; it is skipped.
        TempDir temp;
        expectAgreement(asCache2(temp, samples / "cache2_plaso"), 4);
    }
    expectAgreement(samples / "cache2_v3_firefox67_dfirlabs", 7);
    TempDir temp;
    expectAgreement(madeHereCache2(temp), 16);
}

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FirefoxCache2, BodiesMatchTheServedFiles) {
    TempDir temp;
    const fs::path cache2 = madeHereCache2(temp);
    ReadReport report;
    const std::vector<CacheRecord> records = readFirefoxCache2(cache2, report);
    EXPECT_EQ(report.skipped, 0U) << report.firstProblem;
    for (const CacheRecord& record : records) {
        EXPECT_EQ(record.identity.find("doomed"), std::string::npos) << record.identity;
        EXPECT_EQ(record.identity, fileIdentity(cache2 / "entries" / fileNameOf(record)));
    }

    const fs::path site = sharedDir() / "testdata" / "made-here" / "site";
    const std::string manifest = fileBytes(site / "manifest.json");
    const std::regex item(R"re("file":\s*"([^"]+)",\s*"path":\s*"([^"]+)")re");
    std::size_t compared = 0;
    for (auto match = std::sregex_iterator(manifest.begin(), manifest.end(), item);
         match != std::sregex_iterator(); ++match) {
        const std::string file = (*match)[1];
        const std::string path = (*match)[2];
        const auto record = std::find_if(records.begin(), records.end(), [&](const auto& r) {
            const std::size_t host = r.url.find("://");
            return host != std::string::npos && r.url.substr(r.url.find('/', host + 3)) == path;
        });
        ASSERT_NE(record, records.end()) << path;
        auto stored = record->body(std::uint64_t{1} << 30U);
        ASSERT_TRUE(stored) << stored.error().message;
        const std::string encoding = headerValue(record->headers, "Content-Encoding");
        auto decoded = decodeContent(*stored, encoding, std::uint64_t{1} << 30U);
        ASSERT_TRUE(decoded) << path << ": " << decoded.error().message;
        EXPECT_TRUE(*decoded == fileBytes(site / file)) << path;
        if (file == "gz.swf") {
            EXPECT_EQ(encoding, "gzip");
            EXPECT_LT(record->size, decoded->size());
        }
        ++compared;
    }
    EXPECT_EQ(compared, 13U);

    const auto tiny = std::find_if(records.begin(), records.end(),
                                   [](const auto& r) { return r.url.ends_with("/tiny.swf"); });
    ASSERT_NE(tiny, records.end());
    const auto start = tiny->body(3);
    ASSERT_TRUE(start);
    EXPECT_EQ(*start, "FWS");
}

TEST(FirefoxCache2, DamagedCopiesListTheUndamagedEntries) {
    TempDir made;
    const fs::path clean = madeHereCache2(made);
    ReadReport cleanReport;
    std::map<std::string, std::string> cleanUrls;
    std::map<std::string, std::uint64_t> bodySizes;
    for (const CacheRecord& record : readFirefoxCache2(clean, cleanReport)) {
        cleanUrls[fileNameOf(record)] = record.url;
        bodySizes[fileNameOf(record)] = record.size;
    }

    TempDir temp;
    const fs::path entries = temp.path() / "cache2" / "entries";
    std::size_t files = 0;
    for (const auto& [name, url] : cleanUrls) {
        const std::string bytes = fileBytes(clean / "entries" / name);
        temp.write("cache2/entries/" + name, bytes);
        ++files;
        if (bytes.size() > 300'000) {
            continue; // damage the small ones only
        }
        const std::size_t meta = bodySizes[name];
        const std::size_t size = bytes.size();
        for (const std::size_t cut :
             {std::size_t{0}, std::size_t{1}, std::size_t{4}, size / 2, meta, meta + 3, meta + 40,
              size - 1, size - 4, size - 5, size - 8, size - 9}) {
            temp.write("cache2/entries/" + name + "-cut" + std::to_string(cut),
                       bytes.substr(0, std::min(cut, size)));
            ++files;
        }
        std::vector<std::size_t> flips = {meta,      meta + 4,  meta + 7,  meta + 10,
                                          meta + 31, meta + 35, meta + 38, meta + 45};
        for (std::size_t back = 1; back <= 12; ++back) {
            flips.push_back(size - back);
        }
        for (const std::size_t at : flips) {
            std::string damaged = bytes;
            damaged[at] = static_cast<char>(static_cast<unsigned char>(damaged[at]) ^ 0xFFU);
            temp.write("cache2/entries/" + name + "-flip" + std::to_string(at), damaged);
            ++files;
        }
    }

    ReadReport report;
    const std::vector<CacheRecord> records = readFirefoxCache2(temp.path() / "cache2", report);
    EXPECT_EQ(records.size() + report.skipped, files);
    EXPECT_GT(report.skipped, cleanUrls.size());
    std::size_t undamaged = 0;
    for (const CacheRecord& record : records) {
        const auto found = cleanUrls.find(fileNameOf(record));
        if (found != cleanUrls.end()) {
            EXPECT_EQ(record.url, found->second);
            ++undamaged;
        }
        EXPECT_LE(record.size, fs::file_size(entries / fileNameOf(record)));
        (void)record.body(std::uint64_t{1} << 20U);
    }
    EXPECT_EQ(undamaged, cleanUrls.size());
}

TEST(FirefoxCache2, BodyReaderAndMissingFolders) {
    TempDir temp;
    const std::string file = buildEntry(EntrySpec{});
    const fs::path path =
        temp.write("cache2/entries/0123456789ABCDEF0123456789ABCDEF01234567", file);
    temp.write("cache2/doomed/1556483019", file);
    fs::create_directories(temp.path() / "cache2" / "entries" / "subfolder");

    ReadReport report;
    const std::vector<CacheRecord> records = readFirefoxCache2(temp.path() / "cache2", report);
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(report.skipped, 0U);
    auto body = records[0].body(1000);
    ASSERT_TRUE(body);
    EXPECT_EQ(*body, EntrySpec{}.body);

    // A rewritten entry has another layout: its body is refused, not misread.
    std::ofstream(path, std::ios::binary | std::ios::app) << "more";
    EXPECT_FALSE(records[0].body(1000));
    fs::remove(path);
    EXPECT_FALSE(records[0].body(1000));

    ReadReport missing;
    EXPECT_TRUE(readFirefoxCache2(temp.path() / "nowhere", missing).empty());
    EXPECT_EQ(missing.skipped, 1U);
    EXPECT_FALSE(missing.firstProblem.empty());
}

} // namespace
} // namespace sarnika::sources
