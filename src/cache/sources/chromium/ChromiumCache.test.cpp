#include "cache/sources/chromium/ChromiumCache.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <zlib.h>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const fs::path& shared() {
    static const fs::path dir = testing::sharedDir();
    return dir;
}

fs::path chromiumSample(const std::string& name) {
    return shared() / "testdata" / "chromium" / name;
}

std::string readWhole(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeWhole(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// Runs a shell command and answers its standard output; fails the test on a non-zero exit.
std::string run(const std::string& command) {
    std::string output;
    // The reference readers and tar are programs: a shell runs them.
    FILE* pipe = popen(command.c_str(), "r"); // NOLINT(cert-env33-c)
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return output;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, got);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return output;
}

// "url\tsize\tresponse time in Unix microseconds" per entry, as the reference readers list them.
std::multiset<std::string> referenceListing(const std::string& kind, const fs::path& dir) {
    const std::string output =
        run("python3 " + quoted(SARNIKA_CHROMIUM_REFERENCE_LISTING) + " " +
            quoted(shared() / "tools" / "browser-caches") + " " + kind + " " + quoted(dir));
    std::multiset<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        lines.insert(line);
    }
    return lines;
}

std::multiset<std::string> listing(const std::vector<CacheRecord>& records) {
    constexpr FileTime kUnixEpochMicros = 11'644'473'600'000'000ULL;
    std::multiset<std::string> lines;
    for (const auto& record : records) {
        const std::string time =
            record.lastSync == 0 ? "-" : std::to_string(record.lastSync / 10 - kUnixEpochMicros);
        lines.insert(record.url + "\t" + std::to_string(record.size) + "\t" + time);
    }
    return lines;
}

// A made-here tarball unpacked into a temporary folder.
class Unpacked {
public:
    explicit Unpacked(const std::string& tarball) {
        run("tar xzf " + quoted(shared() / "testdata" / "made-here" / tarball) + " -C " +
            quoted(m_dir.path()));
        for (const auto& home : fs::directory_iterator(m_dir.path())) {
            m_cache = home.path() / ".cache" / "chromium" / "Default" / "Cache" / "Cache_Data";
        }
    }
    const fs::path& cache() const { return m_cache; }

private:
    TempDir m_dir;
    fs::path m_cache;
};

// A writable copy of a cache folder.
fs::path copyOf(const fs::path& from, const TempDir& into) {
    fs::path to = into.path() / "cache";
    fs::copy(from, to, fs::copy_options::recursive);
    return to;
}

std::string gunzip(std::string_view gz) {
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, 16 + MAX_WBITS), Z_OK);
    std::string out(1 << 20, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
    stream.avail_in = static_cast<uInt>(gz.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return out;
}

const CacheRecord* findUrl(const std::vector<CacheRecord>& records, std::string_view suffix) {
    for (const auto& record : records) {
        if (record.url.size() >= suffix.size() &&
            record.url.compare(record.url.size() - suffix.size(), suffix.size(), suffix) == 0) {
            return &record;
        }
    }
    return nullptr;
}

TEST(ChromiumSimple, AgreesWithTheReferenceOnEverySample) {
    const Unpacked madeHere("chromium-cache.tar.gz");
    for (const fs::path& dir : {chromiumSample("simple_chrome68_dfirlabs"),
                                chromiumSample("simple_v6_20byte_schorlet"), madeHere.cache()}) {
        SCOPED_TRACE(dir);
        ReadReport report;
        const auto records = readChromiumSimpleCache(dir, report);
        EXPECT_EQ(report.skipped, 0U) << report.firstProblem;
        const auto expected = referenceListing("simple", dir);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(listing(records), expected);
        for (const auto& record : records) {
            EXPECT_EQ(record.headers.rfind("HTTP/", 0), 0U) << record.url;
            EXPECT_GE(record.lastAccess, record.lastSync);
            EXPECT_EQ(record.identity.rfind((dir / "").string(), 0), 0U);
        }
    }
}

TEST(ChromiumSimple, LastAccessComesFromTheIndexWhenItHasTheEntry) {
    const fs::path dir = chromiumSample("simple_chrome68_dfirlabs");
    const auto lastUsed = parseChromiumSimpleIndex(readWhole(dir / "index-dir/the-real-index"));
    ASSERT_EQ(lastUsed.size(), 2U);
    ASSERT_TRUE(lastUsed.count(0x8229e55cc07c69e9ULL));
    EXPECT_EQ(parseChromiumSimpleIndex(
                  readWhole(chromiumSample("simple_v6_20byte_schorlet/index-dir/the-real-index")))
                  .size(),
              19U);

    ReadReport report;
    const auto records = readChromiumSimpleCache(dir, report);
    const CacheRecord* frame = findUrl(records, "/offline/extension/frame?ouid=");
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->lastAccess, std::max(frame->lastSync, lastUsed.at(0x8229e55cc07c69e9ULL)));

    std::string damaged = readWhole(dir / "index-dir/the-real-index");
    damaged[20] ^= 1; // inside the checksummed payload
    EXPECT_TRUE(parseChromiumSimpleIndex(damaged).empty());
}

TEST(ChromiumSimple, ShortHeadOrTailAsksForWhatItNeeds) {
    for (const fs::path& file : {chromiumSample("simple_v6_20byte_schorlet/a95a6bc37488af73_0"),
                                 chromiumSample("simple_chrome68_dfirlabs/146f533fcc10a74d_0")}) {
        const std::string bytes = readWhole(file);
        const auto whole = parseChromiumSimpleEntry(bytes, bytes, bytes.size());
        ASSERT_TRUE(whole) << whole.error().message;
        EXPECT_EQ(whole->recordSize, file.string().find("20byte") != std::string::npos ? 20U : 24U);

        const std::string_view view(bytes);
        ChromiumSimpleWants wants;
        EXPECT_FALSE(parseChromiumSimpleEntry(view.substr(0, 30), view.substr(view.size() - 30),
                                              bytes.size(), &wants));
        ASSERT_GT(wants.head, 30U);
        ASSERT_GT(wants.tail, 30U);
        const auto again =
            parseChromiumSimpleEntry(view.substr(0, wants.head),
                                     view.substr(view.size() - wants.tail), bytes.size(), &wants);
        ASSERT_TRUE(again) << again.error().message;
        EXPECT_EQ(again->key, whole->key);
        EXPECT_EQ(again->stream0, whole->stream0);
        EXPECT_EQ(again->bodyOffset, whole->bodyOffset);
        EXPECT_EQ(again->bodySize, whole->bodySize);
    }
}

TEST(ChromiumSimple, EveryTruncationAndFlippedByteIsSafe) {
    for (const fs::path& file : {chromiumSample("simple_v6_20byte_schorlet/9d38f3624ed4a85c_0"),
                                 chromiumSample("simple_chrome68_dfirlabs/146f533fcc10a74d_0")}) {
        const std::string bytes = readWhole(file);
        for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
            const std::string_view part = std::string_view(bytes).substr(0, cut);
            EXPECT_FALSE(parseChromiumSimpleEntry(part, part, cut)) << cut;
        }
        for (std::size_t at = 0; at < bytes.size(); ++at) {
            std::string flipped = bytes;
            flipped[at] = static_cast<char>(flipped[at] ^ 0x5A);
            const auto entry = parseChromiumSimpleEntry(flipped, flipped, flipped.size());
            if (entry) {
                EXPECT_LE(entry->bodyOffset + entry->bodySize, flipped.size());
            }
        }
    }
}

TEST(ChromiumSimple, DamagedEntriesAreSkippedAndTheRestListed) {
    const Unpacked madeHere("chromium-cache.tar.gz");
    const TempDir temp;
    const fs::path dir = copyOf(madeHere.cache(), temp);
    ReadReport before;
    const auto original = readChromiumSimpleCache(dir, before);
    ASSERT_EQ(original.size(), 15U);

    const auto damage = [&](const std::string& name, auto change) {
        std::string bytes = readWhole(dir / name);
        change(bytes);
        writeWhole(dir / name, bytes);
    };
    damage("d90aaad2e542ceb7_0", [](std::string& b) { b.resize(b.size() / 2); }); // big.swf
    damage("10b12cb99584b473_0", [](std::string& b) { b.resize(10); });           // tiny.swf
    damage("79b44f4c9c7f45e7_0", [](std::string& b) { b[0] ^= 1; });              // Intro.SWF
    damage("a19085ee8a5ad4f3_0", [](std::string& b) { b[b.size() - 100] ^= 1; }); // stream 0
    damage("b76e86947eeada10_0", [](std::string& b) { b[500] ^= 1; });            // a body byte
    writeWhole(dir / "0000000000000000_0", "");
    writeWhole(dir / "0000000000000000_s", "garbage");
    writeWhole(dir / "0000000000000001_1", "garbage");
    fs::copy_file(dir / "991c769746b05306_0", dir / "todelete_991c769746b05306_0_1");

    ReadReport report;
    const auto records = readChromiumSimpleCache(dir, report);
    EXPECT_EQ(records.size(), 11U);
    EXPECT_EQ(report.skipped, 5U);
    EXPECT_EQ(findUrl(records, "/big.swf"), nullptr);
    EXPECT_EQ(findUrl(records, "/tiny.swf"), nullptr);
    EXPECT_EQ(findUrl(records, "/Intro.SWF"), nullptr);
    EXPECT_EQ(findUrl(records, "/clip.swf?a=1"), nullptr);
    const CacheRecord* packed = findUrl(records, "/packed.swf");
    ASSERT_NE(packed, nullptr);
    EXPECT_EQ(packed->size, 51226U);
    EXPECT_EQ(listing(records), referenceListing("simple", dir));

    // Read in three parts: the same entries in the same order, each damaged one told once.
    std::vector<CacheRecord> inParts;
    std::size_t skippedInParts = 0;
    for (std::size_t part = 0; part < 3; ++part) {
        ReadReport partReport;
        readChromiumSimpleCache(dir, partReport,
                                [&inParts](CacheRecord& record) {
                                    inParts.push_back(std::move(record));
                                    return true;
                                },
                                {part, 3});
        skippedInParts += partReport.skipped;
    }
    ASSERT_EQ(inParts.size(), records.size());
    for (std::size_t at = 0; at < records.size(); ++at) {
        EXPECT_EQ(inParts[at].url, records[at].url);
    }
    EXPECT_EQ(skippedInParts, report.skipped);
}

TEST(ChromiumSimple, BodiesAreReadWhenAskedAndKeepToTheLimit) {
    const Unpacked madeHere("chromium-cache.tar.gz");
    const TempDir temp;
    const fs::path dir = copyOf(madeHere.cache(), temp);
    ReadReport report;
    const auto records = readChromiumSimpleCache(dir, report);
    const CacheRecord* tiny = findUrl(records, "/tiny.swf");
    ASSERT_NE(tiny, nullptr);
    const auto head = tiny->body(3);
    ASSERT_TRUE(head);
    EXPECT_EQ(*head, "FWS");
    // The entry shrinks after the listing: the body must not come back short and silent.
    std::string bytes = readWhole(dir / "10b12cb99584b473_0");
    bytes.resize(200);
    writeWhole(dir / "10b12cb99584b473_0", bytes);
    EXPECT_FALSE(tiny->body(1024));
}

TEST(ChromiumBlockfile, AgreesWithTheReferenceOnEverySample) {
    const Unpacked madeHere("chromium-blockfile-cache.tar.gz");
    for (const fs::path& dir : {chromiumSample("blockfile_chrome8_dfirlabs"),
                                chromiumSample("blockfile_v3_partial_plaso"), madeHere.cache()}) {
        SCOPED_TRACE(dir);
        ReadReport report;
        auto records = readChromiumBlockfileCache(dir, report);
        const auto expected = referenceListing("blockfile", dir);
        ASSERT_FALSE(expected.empty());
        for (const auto& record : records) {
            EXPECT_TRUE(record.headers.empty() || record.headers.rfind("HTTP/", 0) == 0)
                << record.url;
            EXPECT_NE(record.lastAccess, 0U);
            EXPECT_NE(record.lastSync, 0U);
        }
        // The reference leaves out the entries whose headers are lost (see below).
        const auto lost = std::partition(records.begin(), records.end(),
                                         [](const CacheRecord& r) { return !r.headers.empty(); });
        EXPECT_EQ(lost == records.end(), dir != chromiumSample("blockfile_v3_partial_plaso"));
        records.erase(lost, records.end());
        EXPECT_EQ(listing(records), expected);
    }
}

TEST(ChromiumBlockfile, MissingDataFilesSkipOnlyTheirEntries) {
    // This sample lacks data_3 and every f_ file: 387 entries kept their response info there
    // and their bodies in data_1 or data_2, and come without headers.
    ReadReport partial;
    const auto plaso =
        readChromiumBlockfileCache(chromiumSample("blockfile_v3_partial_plaso"), partial);
    EXPECT_EQ(plaso.size(), 464U);
    EXPECT_EQ(std::count_if(plaso.begin(), plaso.end(),
                            [](const CacheRecord& r) { return r.headers.empty(); }),
              387);
    EXPECT_EQ(partial.skipped, 394U);
    EXPECT_NE(partial.firstProblem.find("missing"), std::string::npos) << partial.firstProblem;

    const Unpacked madeHere("chromium-blockfile-cache.tar.gz");
    for (const std::string missing : {"data_3", "f_000004", "data_2"}) {
        SCOPED_TRACE(missing);
        const TempDir temp;
        const fs::path dir = copyOf(madeHere.cache(), temp);
        fs::remove(dir / missing);
        ReadReport report;
        const auto records = readChromiumBlockfileCache(dir, report);
        EXPECT_GT(report.skipped, 0U);
        EXPECT_EQ(records.size() + report.skipped, 15U);
        EXPECT_EQ(listing(records), referenceListing("blockfile", dir));
        if (missing == "f_000004") {
            EXPECT_EQ(records.size(), 14U);
            EXPECT_EQ(findUrl(records, "/huge.swf"), nullptr);
        }
    }

    // A data file cut short loses the entries whose streams lay past its end, as if missing.
    const TempDir temp;
    const fs::path dir = copyOf(madeHere.cache(), temp);
    fs::resize_file(dir / "data_3", 8192 + 4096);
    ReadReport cut;
    const auto records = readChromiumBlockfileCache(dir, cut);
    fs::remove(dir / "data_3");
    ReadReport missing;
    EXPECT_EQ(listing(records), listing(readChromiumBlockfileCache(dir, missing)));
    EXPECT_EQ(cut.skipped, missing.skipped);
}

// The address an index bucket holds, and where an entry's `next` lies in data_1.
std::uint32_t u32At(std::string_view bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + i]))
                 << (8 * i);
    }
    return value;
}

void putU32At(std::string& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::size_t entryOffset(std::uint32_t addr) {
    return 8192 + static_cast<std::size_t>(addr & 0xFFFF) * 256;
}

TEST(ChromiumBlockfile, DamagedChainsAndEntriesDoNotStopTheWalk) {
    const Unpacked madeHere("chromium-blockfile-cache.tar.gz");
    const TempDir temp;
    const fs::path dir = copyOf(madeHere.cache(), temp);
    const std::string index = readWhole(dir / "index");
    std::vector<std::uint32_t> heads;
    for (std::size_t at = 368; at + 4 <= index.size(); at += 4) {
        if (const std::uint32_t addr = u32At(index, at); addr != 0) {
            heads.push_back(addr);
        }
    }
    ASSERT_EQ(heads.size(), 15U); // no collisions in this small cache

    std::string data1 = readWhole(dir / "data_1");
    // A chain that loops on itself, and one that runs into another bucket's chain.
    putU32At(data1, entryOffset(heads[0]) + 4, heads[0]);
    putU32At(data1, entryOffset(heads[1]) + 4, heads[2]);
    // One entry with an impossible key length, one whose next points outside data_1.
    putU32At(data1, entryOffset(heads[3]) + 32, 0x7FFFFFFF);
    putU32At(data1, entryOffset(heads[4]) + 4, 0xA001FFF0);
    writeWhole(dir / "data_1", data1);

    ReadReport report;
    const auto records = readChromiumBlockfileCache(dir, report);
    EXPECT_EQ(records.size(), 14U);
    EXPECT_EQ(report.skipped, 2U) << report.firstProblem;
    std::set<std::string> urls;
    for (const auto& record : records) {
        EXPECT_TRUE(urls.insert(record.url).second) << "listed twice: " << record.url;
    }

    // A block file that is not one: every entry in it is skipped, nothing crashes.
    data1[0] ^= 1;
    writeWhole(dir / "data_1", data1);
    ReadReport broken;
    EXPECT_TRUE(readChromiumBlockfileCache(dir, broken).empty());
    EXPECT_EQ(broken.skipped, 15U);
    // An index cut inside its hash table still gives what the remaining buckets hold.
    writeWhole(dir / "index", index.substr(0, 368 + 8));
    ReadReport cut;
    EXPECT_TRUE(readChromiumBlockfileCache(dir, cut).empty());
    EXPECT_GE(cut.skipped, 1U);
    fs::remove(dir / "index");
    ReadReport none;
    EXPECT_TRUE(readChromiumBlockfileCache(dir, none).empty());
    EXPECT_EQ(none.skipped, 1U);
}

// Memory exhaustion: every entry names one huge long key; read once per entry it cost GBs.
TEST(ChromiumBlockfile, EntriesSharingALongKeyAreReadOnce) {
    const Unpacked madeHere("chromium-blockfile-cache.tar.gz");
    const TempDir temp;
    const fs::path dir = copyOf(madeHere.cache(), temp);
    const std::string index = readWhole(dir / "index");
    std::string data1 = readWhole(dir / "data_1");
    constexpr std::uint32_t kKeyLength = 1U << 20U;
    writeWhole(dir / "f_000100", "http://evil.test/" + std::string(kKeyLength - 17, 'k'));
    std::size_t entries = 0;
    for (std::size_t at = 368; at + 4 <= index.size(); at += 4) {
        if (const std::uint32_t addr = u32At(index, at); addr != 0) {
            putU32At(data1, entryOffset(addr) + 32, kKeyLength);
            putU32At(data1, entryOffset(addr) + 36, 0x80000100U);
            ++entries;
        }
    }
    writeWhole(dir / "data_1", data1);
    ReadReport report;
    const auto records = readChromiumBlockfileCache(dir, report);
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].url.size(), kKeyLength);
    EXPECT_EQ(report.skipped, entries - 1);
    EXPECT_NE(report.firstProblem.find("shares its data"), std::string::npos);

    // A key beyond 2 MiB is refused outright.
    writeWhole(dir / "f_000100", std::string((2U << 20U) + 1, 'k'));
    for (std::size_t at = 368; at + 4 <= index.size(); at += 4) {
        if (const std::uint32_t addr = u32At(index, at); addr != 0) {
            putU32At(data1, entryOffset(addr) + 32, (2U << 20U) + 1);
        }
    }
    writeWhole(dir / "data_1", data1);
    ReadReport tooLong;
    EXPECT_TRUE(readChromiumBlockfileCache(dir, tooLong).empty());
}

TEST(ChromiumBlockfile, UseCountAndLastAccessComeFromTheEntry) {
    const Unpacked madeHere("chromium-blockfile-cache.tar.gz");
    ReadReport report;
    const auto records = readChromiumBlockfileCache(madeHere.cache(), report);
    ASSERT_EQ(records.size(), 15U);
    for (const auto& record : records) {
        // The page asked for pic.png twice; its second use came 0.46 s after the response.
        const bool pic = record.url.find("/img/pic.png") != std::string::npos;
        EXPECT_EQ(record.useCount, pic ? 1U : 0U) << record.url;
        EXPECT_GE(record.lastAccess, record.lastSync + (pic ? 4'000'000U : 0U)) << record.url;
        EXPECT_EQ(record.identity.rfind(madeHere.cache().string() + "|a", 0), 0U)
            << record.identity;
    }
}

// The served files by their URL path, from the site's manifest.
std::vector<std::pair<std::string, std::string>> servedFiles() {
    const std::string manifest = readWhole(shared() / "testdata/made-here/site/manifest.json");
    const std::regex item(R"re("file": "([^"]+)",\s*"path": "([^"]+)")re");
    std::vector<std::pair<std::string, std::string>> files;
    for (std::sregex_iterator it(manifest.begin(), manifest.end(), item), end; it != end; ++it) {
        files.emplace_back((*it)[2], (*it)[1]);
    }
    return files;
}

TEST(ChromiumBodies, AreByteIdenticalToTheServedFiles) {
    const auto served = servedFiles();
    ASSERT_EQ(served.size(), 13U);
    for (const std::string tarball : {"chromium-cache.tar.gz", "chromium-blockfile-cache.tar.gz"}) {
        SCOPED_TRACE(tarball);
        const Unpacked madeHere(tarball);
        ReadReport report;
        const auto records = detectChromiumBackend(madeHere.cache()) == ChromiumBackend::Simple
                                 ? readChromiumSimpleCache(madeHere.cache(), report)
                                 : readChromiumBlockfileCache(madeHere.cache(), report);
        for (const auto& [path, file] : served) {
            SCOPED_TRACE(path);
            const CacheRecord* record = findUrl(records, ":18473" + path);
            ASSERT_NE(record, nullptr);
            const auto body = record->body(UINT64_MAX);
            ASSERT_TRUE(body) << body.error().message;
            EXPECT_EQ(body->size(), record->size);
            const std::string expected = readWhole(shared() / "testdata/made-here/site" / file);
            if (file == "gz.swf") {
                EXPECT_NE(record->headers.find("Content-Encoding: gzip"), std::string::npos);
                EXPECT_EQ(gunzip(*body), expected);
            } else {
                EXPECT_TRUE(*body == expected);
            }
        }
    }
}

// Headers kept in a data file that is gone or damaged: the URL and the body still make an entry.
TEST(ChromiumBlockfile, EntriesThatLostTheirHeadersKeepUrlAndBody) {
    const Unpacked madeHere("chromium-blockfile-cache.tar.gz");
    const TempDir temp;
    const fs::path dir = copyOf(madeHere.cache(), temp);
    const std::string index = readWhole(dir / "index");
    std::string data1 = readWhole(dir / "data_1");
    std::map<std::string, std::size_t> entryAt; // the last part of the URL -> the entry's offset
    for (std::size_t at = 368; at + 4 <= index.size(); at += 4) {
        if (const std::uint32_t addr = u32At(index, at); addr != 0) {
            const std::string key =
                data1.substr(entryOffset(addr) + 96, u32At(data1, entryOffset(addr) + 32));
            entryAt[key.substr(key.rfind('/') + 1)] = entryOffset(addr);
        }
    }
    // big.swf's response info in a file of 1 KiB blocks that is missing, packed.swf's damaged,
    // and page2.html's missing with no body left to serve.
    putU32At(data1, entryAt.at("big.swf") + 56, 0xB0050000U);
    const std::size_t packedInfo = entryOffset(u32At(data1, entryAt.at("packed.swf") + 56));
    std::fill_n(data1.begin() + static_cast<std::ptrdiff_t>(packedInfo), 256, '\xEE');
    putU32At(data1, entryAt.at("page2.html") + 44, 0);
    putU32At(data1, entryAt.at("page2.html") + 56, 0xB0050001U);
    writeWhole(dir / "data_1", data1);

    ReadReport report;
    const auto records = readChromiumBlockfileCache(dir, report);
    EXPECT_EQ(records.size(), 14U);
    EXPECT_EQ(report.skipped, 1U) << report.firstProblem;
    EXPECT_EQ(findUrl(records, "/page2.html"), nullptr);
    for (const std::string name : {"big.swf", "packed.swf"}) {
        SCOPED_TRACE(name);
        const CacheRecord* record = findUrl(records, "/swf/" + name);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->headers, "");
        const std::size_t at = entryAt.at(name);
        const auto created = static_cast<std::int64_t>(
            u32At(data1, at + 24) | (std::uint64_t{u32At(data1, at + 28)} << 32U));
        EXPECT_EQ(record->lastSync, fileTimeFromWindowsMicros(created));
        EXPECT_GE(record->lastAccess, record->lastSync);
        const auto body = record->body(UINT64_MAX);
        ASSERT_TRUE(body) << body.error().message;
        EXPECT_EQ(record->size, body->size());
        EXPECT_TRUE(*body == readWhole(shared() / "testdata/made-here/site" / name));
    }
}

TEST(ChromiumDetect, NamesEachBackend) {
    EXPECT_EQ(detectChromiumBackend(chromiumSample("simple_chrome68_dfirlabs")),
              ChromiumBackend::Simple);
    EXPECT_EQ(detectChromiumBackend(chromiumSample("simple_v6_20byte_schorlet")),
              ChromiumBackend::Simple);
    EXPECT_EQ(detectChromiumBackend(chromiumSample("blockfile_chrome8_dfirlabs")),
              ChromiumBackend::Blockfile);
    EXPECT_EQ(detectChromiumBackend(chromiumSample("blockfile_v3_partial_plaso")),
              ChromiumBackend::Blockfile);
    const Unpacked sql("chromium-sql-cache.tar.gz");
    EXPECT_EQ(detectChromiumBackend(sql.cache()), ChromiumBackend::Sql);
    const Unpacked simple("chromium-cache.tar.gz");
    EXPECT_EQ(detectChromiumBackend(simple.cache()), ChromiumBackend::Simple);

    // A running browser has not written the simple index yet: the entry files decide.
    const TempDir running;
    fs::copy_file(simple.cache() / "10b12cb99584b473_0", running.path() / "10b12cb99584b473_0");
    EXPECT_EQ(detectChromiumBackend(running.path()), ChromiumBackend::Simple);
    const TempDir empty;
    EXPECT_EQ(detectChromiumBackend(empty.path()), ChromiumBackend::None);
    empty.write("index", "garbage!");
    EXPECT_EQ(detectChromiumBackend(empty.path()), ChromiumBackend::None);
    EXPECT_EQ(detectChromiumBackend(empty.path() / "absent"), ChromiumBackend::None);
    ReadReport report;
    EXPECT_TRUE(readChromiumSimpleCache(empty.path() / "absent", report).empty());
    EXPECT_EQ(report.skipped, 1U);
}

} // namespace
} // namespace sarnika::sources
