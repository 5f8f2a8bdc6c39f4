#include "cache/sources/msiecf/IndexDat.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "cache/sources/FileAccess.h"
#include "support/PosixFiles.h"
#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

using sarnika::testing::sharedDir;
using sarnika::testing::TempDir;

std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::filesystem::path sample(const std::string& name) {
    return sharedDir() / "testdata" / "msiecf" / name;
}

void putU32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<char>((value >> (8U * i)) & 0xFFU);
    }
}

std::uint32_t u32At(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8U * i);
    }
    return value;
}

void putU64(std::string& bytes, std::size_t at, std::uint64_t value) {
    putU32(bytes, at, static_cast<std::uint32_t>(value & 0xFFFFFFFFU));
    putU32(bytes, at + 4, static_cast<std::uint32_t>(value >> 32U));
}

constexpr std::uint32_t fat(int year, int month, int day, int hour, int minute, int second) {
    const auto date = static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day);
    const auto time = static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2));
    return date | (time << 16U);
}

struct NewUrl {
    std::string location;
    std::string fileName;
    std::string extension;
    std::string data;
    std::uint8_t cacheDirectory = 0xFE;
    std::uint64_t size = 0;
    FileTime primary = 0;
    FileTime secondary = 0;
    std::uint32_t expires = 0;
    std::uint32_t lastChecked = 0;
    std::uint32_t hits = 0;
    std::uint32_t exemptDelta = 0;
};

// Writes index.dat files the way WinINet and Wine lay them out: header and directory table,
// one hash table at 0x4000, records from 0x5000.
class IndexDatBuilder {
public:
    explicit IndexDatBuilder(std::string_view signature, std::vector<std::string> directories = {})
        : m_file(0x5000, '\0') {
        m_file.replace(0, signature.size(), signature);
        putU32(m_file, 32, 0x4000);
        putU32(m_file, 72, static_cast<std::uint32_t>(directories.size()));
        for (std::size_t i = 0; i < directories.size(); ++i) {
            m_file.replace(76 + 12 * i + 4, std::min<std::size_t>(8, directories[i].size()),
                           directories[i]);
        }
        m_file.replace(0x4000, 4, "HASH");
        putU32(m_file, 0x4004, 32);
        for (std::size_t at = 0x4010; at < 0x5000; at += 4) {
            putU32(m_file, at, 3);
        }
    }

    std::uint32_t addUrl(const NewUrl& url) {
        std::string strings;
        const auto place = [&strings](const std::string& text) -> std::uint32_t {
            if (text.empty()) {
                return 0;
            }
            const auto at = static_cast<std::uint32_t>(0x68 + strings.size());
            strings += text;
            strings += '\0';
            strings.append((4 - strings.size() % 4) % 4, '\0');
            return at;
        };
        const std::uint32_t location = place(url.location);
        const std::uint32_t fileName = place(url.fileName);
        const std::uint32_t extension = place(url.extension);
        const std::uint32_t data = place(url.data);
        std::string record(0x68 + strings.size(), '\0');
        record.resize((record.size() + 127) / 128 * 128, '\0');
        record.replace(0, 4, "URL ");
        putU32(record, 4, static_cast<std::uint32_t>(record.size() / 128));
        putU64(record, 8, url.secondary);
        putU64(record, 16, url.primary);
        putU32(record, 24, url.expires);
        putU64(record, 32, url.size);
        putU32(record, 44, url.exemptDelta);
        putU32(record, 48, 0x60);
        putU32(record, 52, location);
        record[56] = static_cast<char>(url.cacheDirectory);
        record[58] = 0x10;
        record[59] = 0x10;
        putU32(record, 60, fileName);
        putU32(record, 68, data);
        putU32(record, 72, data == 0 ? 0 : static_cast<std::uint32_t>(url.data.size() + 1));
        putU32(record, 76, extension);
        putU32(record, 80, url.lastChecked);
        putU32(record, 84, url.hits);
        record.replace(0x68, strings.size(), strings);
        return append(record, 0x100);
    }

    std::uint32_t addRedirect(std::string_view location) {
        std::string record(128, '\0');
        record.replace(0, 4, "REDR");
        putU32(record, 4, 1);
        record.replace(16, location.size(), location);
        return append(record, 0x105);
    }

    void putAt(std::size_t at, std::uint32_t value) { putU32(m_file, at, value); }
    std::size_t hashEntry(std::size_t index) const { return 0x4010 + 8 * index; }
    const std::string& bytes() const { return m_file; }

private:
    std::uint32_t append(const std::string& record, std::uint32_t hash) {
        const auto offset = static_cast<std::uint32_t>(m_file.size());
        m_file += record;
        putU32(m_file, hashEntry(m_entries), hash + 0x40 * m_entries);
        putU32(m_file, hashEntry(m_entries) + 4, offset);
        ++m_entries;
        putU32(m_file, 28, static_cast<std::uint32_t>(m_file.size()));
        return offset;
    }

    std::string m_file;
    std::size_t m_entries = 0;
};

constexpr std::string_view kWine = "WINE URLCache Ver 0.2012001\0";
constexpr std::string_view kIe5 = "Client UrlCache MMF Ver 5.2\0";

// The samples, Wine's written under WinINet's signature so that msiecfexport opens them too.
struct Sample {
    const char* name;
    std::size_t urls;
};
constexpr std::array<Sample, 7> kSamples = {{
    {"plaso_Content.IE5_index.dat", 21},
    {"plaso_History.IE5_index.dat", 15},
    {"plaso_MSHist012013031020130311_index.dat", 23},
    {"plaso_nfury_index.dat", 984},
    {"wine8_Content.IE5_index.dat", 4},
    {"wine8_History.IE5_index.dat", 1},
    {"wine8_INetCookies_index.dat", 1},
}};

// --- msiecfexport as the reference ---------------------------------------------------------

std::optional<std::filesystem::path> findMsiecfexport() {
    const char* path = std::getenv("PATH"); // NOLINT(concurrency-mt-unsafe): read before any thread
    std::stringstream folders(path == nullptr ? "/usr/bin" : path);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const std::filesystem::path candidate = std::filesystem::path(folder) / "msiecfexport";
        if (!folder.empty() && sarnika::testing::isExecutable(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

using Fields = std::map<std::string, std::string>;

// The URL items msiecfexport lists (allocated records only), by record offset.
std::map<std::uint32_t, Fields> exportedUrls(const std::filesystem::path& tool,
                                             const std::filesystem::path& file) {
    const std::string command = "'" + tool.string() + "' '" + file.string() + "' 2>/dev/null";
    // The reference tool is run on test copies only; the paths hold no quotes.
    // NOLINTNEXTLINE(cert-env33-c)
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::string output;
    std::array<char, 4096> buffer{};
    while (pipe && std::fgets(buffer.data(), buffer.size(), pipe.get()) != nullptr) {
        output += buffer.data();
    }
    std::map<std::uint32_t, Fields> urls;
    std::istringstream lines(output);
    std::string line;
    Fields current;
    const auto flush = [&urls, &current]() {
        if (current["Record type"] == "URL") {
            urls[static_cast<std::uint32_t>(std::stoul(current["Offset range"]))] = current;
        }
        current.clear();
    };
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(':');
        if (line.empty() || colon == std::string::npos) {
            flush();
            continue;
        }
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(" \t") + 1);
        current[key] = line.substr(std::min(line.size(), colon + 2));
    }
    flush();
    return urls;
}

std::string formatTime(FileTime time, bool withFraction) {
    static constexpr std::array<const char*, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto fields = fileTimeToSystemTime(time);
    if (!fields) {
        return "unconvertible";
    }
    std::array<char, 64> text{};
    (void)std::snprintf(text.data(), text.size(), "%s %02d, %04d %02d:%02d:%02d",
                        kMonths.at(static_cast<std::size_t>(fields->month - 1)), fields->day,
                        fields->year, fields->hour, fields->minute, fields->second);
    std::string result = text.data();
    if (withFraction) {
        (void)std::snprintf(text.data(), text.size(), ".%07llu00",
                            static_cast<unsigned long long>(time % kFileTimeTicksPerSecond));
        result += text.data();
    }
    return result;
}

// Our record in msiecfexport's words, for the fields it prints.
Fields fieldsOf(const IndexDatUrl& url) {
    Fields fields;
    fields["Location"] = url.location;
    const auto time = [&fields](const char* key, FileTime value, bool fraction) {
        if (value != 0) {
            fields[key] = formatTime(value, fraction);
        }
    };
    time("Primary time", url.primaryTime, true);
    time("Secondary time", url.secondaryTime, true);
    time("Expiration time", url.expires, false);
    time("Last checked time", url.lastChecked, false);
    if (!url.fileName.empty()) {
        fields["Filename"] = url.fileName;
    }
    std::array<char, 16> index{};
    (void)std::snprintf(index.data(), index.size(), "(0x%02x)", url.cacheDirectory);
    fields["Cache directory index"] = index.data();
    return fields;
}

// msiecfexport writes "Never" for FAT all-ones and names the directory after its index.
Fields referenceFields(Fields reference) {
    reference.erase("Record type");
    reference.erase("Offset range");
    if (const auto expires = reference.find("Expiration time");
        expires != reference.end() && expires->second == "Never") {
        reference.erase(expires);
    }
    if (const auto directory = reference.find("Cache directory index");
        directory != reference.end()) {
        const std::size_t open = directory->second.find("(0x");
        directory->second = directory->second.substr(std::min(open, directory->second.size()), 6);
    }
    return reference;
}

TEST(IndexDat, AgreesWithMsiecfexportOnEveryUrlRecord) {
    const auto tool = findMsiecfexport();
    if (!tool) {
        GTEST_SKIP() << "msiecfexport (Debian package libmsiecf-utils) is not installed";
    }
    const TempDir temp;
    for (const Sample& entry : kSamples) {
        SCOPED_TRACE(entry.name);
        std::string bytes = fileBytes(sample(entry.name));
        ASSERT_FALSE(bytes.empty());
        ReadReport report;
        const auto index = parseIndexDat(bytes, report);
        ASSERT_TRUE(index) << index.error().message;
        EXPECT_EQ(report.skipped, 0U) << report.firstProblem;
        EXPECT_EQ(index->urls.size(), entry.urls);
        EXPECT_EQ(index->writtenByWine, bytes.starts_with(kWine));

        if (index->writtenByWine) {
            bytes.replace(0, kIe5.size(), kIe5);
        }
        const auto copy = temp.write(entry.name, bytes);
        const auto reference = exportedUrls(*tool, copy);
        ASSERT_EQ(reference.size(), index->urls.size());
        for (const IndexDatUrl& url : index->urls) {
            const auto found = reference.find(url.offset);
            ASSERT_NE(found, reference.end()) << "no URL item at " << url.offset;
            EXPECT_EQ(fieldsOf(url), referenceFields(found->second)) << "record at " << url.offset;
        }
    }
}

// --- our records from the real caches -------------------------------------------------------

// Fields the reference tool does not print: paths, headers, sizes, extensions, identities.
TEST(IndexDat, ListsContentWithItsFilesAndHeaders) {
    const auto path = sample("plaso_Content.IE5_index.dat");
    ReadReport report;
    const auto records = readIndexDat(path, report);
    ASSERT_EQ(records.size(), 21U);
    std::size_t withExtension = 0;
    for (const CacheRecord& record : records) {
        EXPECT_EQ(record.kind, RecordKind::Content);
        EXPECT_EQ(std::filesystem::path(record.localFile).parent_path().parent_path(),
                  path.parent_path());
        if (!record.headers.empty()) {
            EXPECT_TRUE(record.headers.starts_with("HTTP/1.1 200 OK\r\n")) << record.headers;
            EXPECT_TRUE(record.headers.ends_with("\r\n\r\n")) << record.headers;
        }
        withExtension += record.fileExtension.empty() ? 0 : 1;
    }
    EXPECT_EQ(withExtension, 2U);
    const auto icon = std::find_if(records.begin(), records.end(), [](const CacheRecord& r) {
        return r.url == "http://static-hp-neu.s-msn.com/sc/54/4f1880.ico";
    });
    ASSERT_NE(icon, records.end());
    EXPECT_EQ(icon->identity, fileIdentity(path) + "#24576");
    EXPECT_EQ(icon->localFile, (path.parent_path() / "ENG3X4ZR" / "4f1880[1].ico").string());
    EXPECT_EQ(icon->size, 4286U);
    EXPECT_TRUE(icon->headers.ends_with("Content-Length: 4286\r\n\r\n")) << icon->headers;
    EXPECT_EQ(icon->hitRate, 1U);

    const auto wine = sample("wine8_Content.IE5_index.dat");
    const auto wineRecords = readIndexDat(wine, report);
    ASSERT_EQ(wineRecords.size(), 4U);
    EXPECT_EQ(wineRecords[0].url, "http://example.test/a/Intro.SWF");
    EXPECT_EQ(wineRecords[0].localFile,
              (wine.parent_path() / "FYP4GFY2" / "Intro[0].SWF").string());
    EXPECT_EQ(wineRecords[0].size, 64U);
    EXPECT_EQ(wineRecords[0].headers,
              "HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n\r\n");
    EXPECT_EQ(report.skipped, 0U) << report.firstProblem;
}

TEST(IndexDat, SortsRecordsIntoKindsAndLeavesOtherContainersOut) {
    const auto count = [](const std::string& name, RecordKind kind) {
        ReadReport report;
        const auto records = readIndexDat(sample(name), report);
        EXPECT_EQ(report.skipped, 0U) << name << ": " << report.firstProblem;
        return std::count_if(records.begin(), records.end(),
                             [kind](const CacheRecord& r) { return r.kind == kind; });
    };
    EXPECT_EQ(count("plaso_History.IE5_index.dat", RecordKind::History), 15);
    EXPECT_EQ(count("plaso_MSHist012013031020130311_index.dat", RecordKind::History), 0);
    EXPECT_EQ(count("plaso_MSHist012013031020130311_index.dat", RecordKind::Content), 0);
    EXPECT_EQ(count("plaso_nfury_index.dat", RecordKind::Content), 984);
    EXPECT_EQ(count("wine8_History.IE5_index.dat", RecordKind::History), 1);
    EXPECT_EQ(count("wine8_INetCookies_index.dat", RecordKind::Cookie), 1);

    ReadReport report;
    const auto visits = readIndexDat(sample("plaso_History.IE5_index.dat"), report);
    for (const CacheRecord& visit : visits) {
        EXPECT_TRUE(visit.url.starts_with("Visited: gold_administrator@")) << visit.url;
        EXPECT_TRUE(visit.localFile.empty());
        EXPECT_TRUE(visit.headers.empty());
    }
    const auto cookies = readIndexDat(sample("wine8_INetCookies_index.dat"), report);
    ASSERT_EQ(cookies.size(), 1U);
    EXPECT_EQ(cookies[0].url, "Cookie:user@example.test/");
    EXPECT_TRUE(cookies[0].localFile.empty());
}

// --- a Wine cache built here ---------------------------------------------------------------

TEST(IndexDat, ReadsAWineCacheWithEveryField) {
    IndexDatBuilder builder(kWine, {"AAAA1111", "BBBB2222"});
    NewUrl movie;
    movie.location = "http://example.test/movie.swf";
    movie.fileName = "movie[1].swf";
    movie.extension = "swf";
    movie.data = "HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\n\r\n~U:user\r\n";
    movie.cacheDirectory = 1;
    movie.size = 5'000'000'000ULL;
    movie.primary = 133'000'000'000'000'001ULL;
    movie.secondary = 132'000'000'000'000'000ULL;
    movie.expires = fat(2030, 2, 28, 23, 59, 58);
    movie.lastChecked = fat(1980, 1, 1, 0, 0, 0);
    movie.hits = 7;
    movie.exemptDelta = 86400;
    const std::uint32_t movieAt = builder.addUrl(movie);

    NewUrl page;
    page.location = "http://example.test/";
    page.fileName = "index[1].htm";
    page.cacheDirectory = 0;
    builder.addUrl(page);

    NewUrl cookie;
    cookie.location = "Cookie:user@example.test/";
    cookie.fileName = "user@example[1].txt";
    builder.addUrl(cookie);

    NewUrl visit;
    visit.location = "Visited: user@http://example.test/movie.swf";
    builder.addUrl(visit);
    builder.addRedirect("http://example.test/old.swf");
    for (const char* other :
         {":2026120720261208: user@http://example.test/", "iedownload:x", "DOMStore:y",
          "PrivacIE:z", "ietld:Computed:1", "feedplat:f", "userdata:u", "iecompat:c"}) {
        NewUrl skipped;
        skipped.location = other;
        builder.addUrl(skipped);
    }

    ReadReport report;
    const auto index = parseIndexDat(builder.bytes(), report);
    ASSERT_TRUE(index) << index.error().message;
    EXPECT_TRUE(index->writtenByWine);
    EXPECT_EQ(index->urls.size(), 12U);
    const auto records = indexDatRecords(*index, "/cache/Content.IE5", "id");
    EXPECT_EQ(report.skipped, 0U) << report.firstProblem;
    ASSERT_EQ(records.size(), 4U);

    const CacheRecord& first = records[0];
    EXPECT_EQ(first.kind, RecordKind::Content);
    EXPECT_EQ(first.url, movie.location);
    EXPECT_EQ(first.localFile, "/cache/Content.IE5/BBBB2222/movie[1].swf");
    EXPECT_EQ(first.fileExtension, "swf");
    EXPECT_EQ(first.headers, "HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\n\r\n");
    EXPECT_EQ(first.size, movie.size);
    EXPECT_EQ(first.lastAccess, movie.primary);
    EXPECT_EQ(first.lastModified, movie.secondary);
    EXPECT_EQ(formatTime(first.expires, false), "Feb 28, 2030 23:59:58");
    EXPECT_EQ(first.lastSync, 119'600'064'000'000'000ULL); // 1980-01-01 00:00:00
    EXPECT_EQ(first.useCount, 7U);
    EXPECT_EQ(first.hitRate, 7U);
    EXPECT_EQ(first.exemptDelta, 86400U);
    EXPECT_EQ(first.identity, "id#" + std::to_string(movieAt));
    ASSERT_TRUE(first.body);

    EXPECT_EQ(records[1].localFile, "/cache/Content.IE5/AAAA1111/index[1].htm");
    EXPECT_EQ(records[1].headers, "");
    EXPECT_EQ(records[2].kind, RecordKind::Cookie);
    EXPECT_EQ(records[2].url, cookie.location);
    EXPECT_EQ(records[2].localFile, "");
    EXPECT_EQ(records[3].kind, RecordKind::History);
    EXPECT_EQ(records[3].url, visit.location);
}

TEST(IndexDat, ReadsBodiesOnlyWhenAsked) {
    const TempDir temp;
    IndexDatBuilder builder(kWine, {"AAAA1111"});
    NewUrl movie;
    movie.location = "http://example.test/movie.swf";
    movie.fileName = "movie[1].swf";
    movie.cacheDirectory = 0;
    movie.size = 8;
    builder.addUrl(movie);
    const auto indexPath = temp.write("Content.IE5/index.dat", builder.bytes());
    ReadReport report;
    const auto records = readIndexDat(indexPath, report);
    ASSERT_EQ(records.size(), 1U);
    temp.write("Content.IE5/AAAA1111/movie[1].swf", "FWS\x0A\x08\x01\x02\x03");
    const auto body = records[0].body(4);
    ASSERT_TRUE(body);
    EXPECT_EQ(*body, "FWS\x0A");
}

TEST(IndexDat, KeepsFileNamesInsideTheCacheFolder) {
    IndexDatBuilder builder(kIe5, {"AAAA1111", "..", "a/b"});
    for (const auto& [name, directory] :
         std::vector<std::pair<std::string, std::uint8_t>>{{"..", 0},
                                                           {"../../etc/passwd", 0},
                                                           {"a\\b.swf", 0},
                                                           {"c:x.swf", 0},
                                                           {"x.swf", 1},
                                                           {"x.swf", 2},
                                                           {"x.swf", 3},
                                                           {"x.swf", 0xFE},
                                                           {"x.swf", 0xFF}}) {
        NewUrl url;
        url.location = "http://example.test/" + name;
        url.fileName = name;
        url.cacheDirectory = directory;
        builder.addUrl(url);
    }
    ReadReport report;
    const auto index = parseIndexDat(builder.bytes(), report);
    ASSERT_TRUE(index);
    const auto records = indexDatRecords(*index, "/cache", "id");
    ASSERT_EQ(records.size(), 9U);
    for (const CacheRecord& record : records) {
        EXPECT_EQ(record.localFile, "") << record.url;
        EXPECT_FALSE(record.body);
    }
}

// --- damage -------------------------------------------------------------------------------

TEST(IndexDat, RefusesFilesThatAreNotIndexDat) {
    ReadReport report;
    EXPECT_FALSE(parseIndexDat("", report));
    EXPECT_FALSE(parseIndexDat(std::string(0x8000, '\0'), report));
    std::string old = IndexDatBuilder(kIe5).bytes();
    old.replace(24, 3, "4.7");
    const auto refused = parseIndexDat(old, report);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().code, Error::Code::Unsupported);
    EXPECT_NE(refused.error().message.find("4.7"), std::string::npos);

    const TempDir temp;
    const auto text = temp.write("index.dat", std::string(1000, ' ') + "<html>not a cache</html>");
    ReadReport textReport;
    EXPECT_TRUE(readIndexDat(text, textReport).empty());
    EXPECT_EQ(textReport.skipped, 1U);
    EXPECT_NE(textReport.firstProblem.find("not an index.dat"), std::string::npos);

    ReadReport missing;
    EXPECT_TRUE(readIndexDat(temp.path() / "absent.dat", missing).empty());
    EXPECT_EQ(missing.skipped, 1U);

    // A sparse file past the limit is refused before anything is read.
    const auto huge = temp.write("huge/index.dat", IndexDatBuilder(kIe5).bytes());
    std::filesystem::resize_file(huge, kIndexDatMaxBytes + 1);
    ReadReport tooLarge;
    EXPECT_TRUE(readIndexDat(huge, tooLarge).empty());
    EXPECT_NE(tooLarge.firstProblem.find("too large"), std::string::npos);
}

TEST(IndexDat, SkipsDamagedRecordsAndKeepsTheRest) {
    IndexDatBuilder builder(kIe5, {"AAAA1111"});
    NewUrl good;
    good.location = "http://example.test/good.swf";
    good.fileName = "good[1].swf";
    good.cacheDirectory = 0;
    const std::uint32_t first = builder.addUrl(good);
    const std::uint32_t badLocation = builder.addUrl(good);
    const std::uint32_t badName = builder.addUrl(good);
    const std::uint32_t badData = builder.addUrl(good);
    const std::uint32_t unterminated = builder.addUrl(good);
    const std::uint32_t last = builder.addUrl(good);
    builder.putAt(badLocation + 52, 0x1000);
    builder.putAt(badName + 60, 0x10);
    builder.putAt(badData + 68, 0x68);
    builder.putAt(badData + 72, 0x1000);
    std::string bytes = builder.bytes();
    const std::uint32_t blocks = u32At(bytes, first + 4);
    bytes.replace(unterminated + 0x68, blocks * 128 - 0x68, blocks * 128 - 0x68, 'x');
    // A last record whose blocks run past the end of the file.
    putU32(bytes, last + 4, blocks + 1);

    ReadReport report;
    const auto index = parseIndexDat(bytes, report);
    ASSERT_TRUE(index);
    ASSERT_EQ(index->urls.size(), 1U);
    EXPECT_EQ(index->urls[0].offset, first);
    EXPECT_EQ(report.skipped, 5U);
    EXPECT_NE(report.firstProblem.find(std::to_string(badLocation)), std::string::npos);
}

// Memory exhaustion: hundreds of record headers in a row, each spanning one shared huge
// location string after them. Each was read as a record of its own.
TEST(IndexDat, OverlappingRecordsAndHugeLocationsAreRefused) {
    IndexDatBuilder builder(kIe5);
    std::string bytes = builder.bytes();
    constexpr std::uint32_t kRecords = 300;
    constexpr std::uint32_t kLocation = 1U << 20U;
    const auto first = static_cast<std::uint32_t>(bytes.size());
    const std::uint32_t stringAt = first + kRecords * 128;
    bytes.resize(stringAt + kLocation + 128, '\0');
    bytes.replace(stringAt, 17, "http://evil.test/");
    std::fill_n(bytes.begin() + stringAt + 17, kLocation - 17, 'u');
    for (std::uint32_t i = 0; i < kRecords; ++i) {
        const std::uint32_t at = first + i * 128;
        bytes.replace(at, 4, "URL ");
        putU32(bytes, at + 4, static_cast<std::uint32_t>((bytes.size() - at) / 128));
        putU32(bytes, at + 52, stringAt - at);
        putU32(bytes, 0x4010 + 8 * i, 0x100 + 0x40 * i);
        putU32(bytes, 0x4010 + 8 * i + 4, at);
    }
    putU32(bytes, 28, static_cast<std::uint32_t>(bytes.size()));
    ReadReport report;
    const auto index = parseIndexDat(bytes, report);
    ASSERT_TRUE(index);
    ASSERT_EQ(index->urls.size(), 1U);
    EXPECT_EQ(report.skipped, kRecords - 1);
    EXPECT_NE(report.firstProblem.find("overlaps"), std::string::npos) << report.firstProblem;

    // One record of its own whose location is longer than any browser's URL.
    IndexDatBuilder huge(kIe5);
    NewUrl url;
    url.location = "http://evil.test/" + std::string(2U << 20U, 'u');
    huge.addUrl(url);
    ReadReport hugeReport;
    const auto hugeIndex = parseIndexDat(huge.bytes(), hugeReport);
    ASSERT_TRUE(hugeIndex);
    EXPECT_TRUE(hugeIndex->urls.empty());
    EXPECT_EQ(hugeReport.skipped, 1U);
}

TEST(IndexDat, GuardsTheHashTableChain) {
    IndexDatBuilder builder(kIe5);
    NewUrl url;
    url.location = "http://example.test/";
    builder.addUrl(url);

    std::string loop = builder.bytes();
    putU32(loop, 0x4008, 0x4000);
    ReadReport report;
    const auto looped = parseIndexDat(loop, report);
    ASSERT_TRUE(looped);
    EXPECT_EQ(looped->urls.size(), 1U);
    EXPECT_EQ(report.skipped, 1U);

    std::string outside = builder.bytes();
    putU32(outside, 0x4008, 0x7FFFFF80);
    putU32(outside, builder.hashEntry(1), 0x7FFFFF00); // an entry pointing past the file
    putU32(outside, builder.hashEntry(1) + 4, 0x7FFFFF80);
    ReadReport outsideReport;
    const auto cut = parseIndexDat(outside, outsideReport);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->urls.size(), 1U);
    EXPECT_EQ(outsideReport.skipped, 2U);

    std::string noTable = builder.bytes();
    putU32(noTable, 32, 0x100000);
    EXPECT_FALSE(parseIndexDat(noTable, report));
    putU32(noTable, 32, 0);
    const auto empty = parseIndexDat(noTable, report);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->urls.empty());
}

// Every record that lies wholly inside a truncated copy, or that a flipped byte does not touch,
// is still listed as it was.
TEST(IndexDat, SurvivesTruncatedAndFlippedSamples) {
    for (const Sample& entry : kSamples) {
        SCOPED_TRACE(entry.name);
        const std::string bytes = fileBytes(sample(entry.name));
        ReadReport report;
        const auto whole = parseIndexDat(bytes, report);
        ASSERT_TRUE(whole);
        std::map<std::uint32_t, const IndexDatUrl*> byOffset;
        for (const IndexDatUrl& url : whole->urls) {
            byOffset[url.offset] = &url;
        }
        const auto recordEnd = [&bytes](std::uint32_t offset) {
            return offset + 128ULL * u32At(bytes, offset + 4);
        };
        std::vector<std::pair<std::size_t, std::size_t>> tables{{0, 0x250}};
        for (std::uint32_t table = u32At(bytes, 32); table != 0; table = u32At(bytes, table + 8)) {
            tables.emplace_back(table, table + 128ULL * u32At(bytes, table + 4));
        }
        const auto inTable = [&tables](std::size_t at) {
            return std::any_of(tables.begin(), tables.end(),
                               [at](const auto& t) { return at >= t.first && at < t.second; });
        };
        std::size_t tablesEnd = 0;
        for (const auto& table : tables) {
            tablesEnd = std::max(tablesEnd, table.second);
        }
        const auto sameAsWhole = [&byOffset](const IndexDatUrl& url) {
            const auto found = byOffset.find(url.offset);
            return found != byOffset.end() && found->second->location == url.location &&
                   found->second->fileName == url.fileName &&
                   found->second->primaryTime == url.primaryTime;
        };

        for (std::size_t cut = 0; cut < bytes.size(); cut += bytes.size() < 65536 ? 509 : 4093) {
            ReadReport cutReport;
            const auto truncated = parseIndexDat(std::string_view(bytes).substr(0, cut), cutReport);
            if (!truncated) {
                continue;
            }
            std::size_t inside = 0;
            for (const IndexDatUrl& url : whole->urls) {
                inside += recordEnd(url.offset) <= cut ? 1 : 0;
            }
            if (cut >= tablesEnd) {
                EXPECT_EQ(truncated->urls.size(), inside) << "cut at " << cut;
            } else {
                EXPECT_LE(truncated->urls.size(), inside) << "cut at " << cut;
            }
            for (const IndexDatUrl& url : truncated->urls) {
                EXPECT_TRUE(sameAsWhole(url)) << url.offset;
            }
        }

        std::uint32_t state = 2463534242U;
        const int flips = bytes.size() < 65536 ? 400 : 150;
        for (int flip = 0; flip < flips; ++flip) {
            state ^= state << 13U;
            state ^= state >> 17U;
            state ^= state << 5U;
            const std::size_t at = state % bytes.size();
            std::string damaged = bytes;
            damaged[at] = static_cast<char>(damaged[at] ^ static_cast<char>(1U << (state >> 29U)));
            ReadReport flipReport;
            const auto flipped = parseIndexDat(damaged, flipReport);
            if (!flipped || inTable(at)) {
                continue;
            }
            std::set<std::uint32_t> listed;
            for (const IndexDatUrl& url : flipped->urls) {
                listed.insert(url.offset);
            }
            for (const IndexDatUrl& url : whole->urls) {
                if (at < url.offset || at >= recordEnd(url.offset)) {
                    EXPECT_TRUE(listed.contains(url.offset))
                        << "record at " << url.offset << " lost by a flip at " << at;
                }
            }
        }
    }
}

} // namespace
} // namespace sarnika::sources
