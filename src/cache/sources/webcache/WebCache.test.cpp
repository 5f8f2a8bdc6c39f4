#include "cache/sources/webcache/WebCache.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cache/sources/TemporaryCleanup.h"
#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using testing::contentOf;
using testing::sharedDir;
using testing::TempDir;

// IE 11 on Windows 10: 19 containers, 454 rows with a URL, no cache folders beside it.
fs::path sampleFolder() {
    return sharedDir() / "testdata" / "external" / "webcache-win10" / "win10-2023-john" /
           "WebCache";
}

// The whole of a file, read in large pieces: the database is 25 MiB.
std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes(static_cast<std::size_t>(fs::file_size(file)), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

std::set<std::string> ourTemporaryFolders() {
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(fs::temp_directory_path())) {
        const std::string name = item.path().filename().string();
        if (name.starts_with("sarnika-db-" + std::to_string(currentProcessId()) + "-")) {
            names.insert(name);
        }
    }
    return names;
}

std::string formatTime(FileTime time) {
    static constexpr std::array<const char*, 12> kMonths = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto fields = fileTimeToSystemTime(time);
    std::array<char, 64> text{};
    if (!fields || fields->year > 9999) { // esedbexport's words for "never"
        (void)std::snprintf(text.data(), text.size(), "(0x%08llx 0x%08llx)",
                            static_cast<unsigned long long>(time >> 32U),
                            static_cast<unsigned long long>(time & 0xFFFFFFFFU));
        return text.data();
    }
    (void)std::snprintf(text.data(), text.size(), "%s %02d, %04d %02d:%02d:%02d.%07llu00",
                        kMonths.at(static_cast<std::size_t>(fields->month - 1)), fields->day,
                        fields->year, fields->hour, fields->minute, fields->second,
                        static_cast<unsigned long long>(time % kFileTimeTicksPerSecond));
    return text.data();
}

std::string hexOf(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        hex += kHex[static_cast<unsigned char>(c) >> 4U];
        hex += kHex[static_cast<unsigned char>(c) & 0x0FU];
    }
    return hex;
}

using Fields = std::map<std::string, std::string>;

// The rows with a URL of every Container_<id> table as esedbexport writes them, by container
// and entry id; empty when the tool is missing.
std::map<std::string, Fields> exportedRows(const fs::path& database, const fs::path& target) {
    // The paths are the test's own and hold no quotes.
    const std::string command = "esedbexport -t '" + (target / "export").string() + "' '" +
                                database.string() + "' >/dev/null 2>&1";
    // NOLINTNEXTLINE(cert-env33-c,concurrency-mt-unsafe): the reference tool, run once
    if (std::system(command.c_str()) != 0) {
        return {};
    }
    std::map<std::string, Fields> rows;
    for (const auto& item : fs::directory_iterator(target / "export.export")) {
        const std::string table = item.path().filename().string();
        if (!table.starts_with("Container_")) {
            continue;
        }
        std::istringstream lines(contentOf(item.path()));
        std::vector<std::string> names;
        std::string line;
        while (std::getline(lines, line)) {
            std::vector<std::string> values;
            std::istringstream cells(line);
            for (std::string cell; std::getline(cells, cell, '\t');) {
                values.push_back(cell);
            }
            if (names.empty()) {
                names = values;
                continue;
            }
            Fields fields;
            for (std::size_t i = 0; i < names.size() && i < values.size(); ++i) {
                fields[names[i]] = values[i];
            }
            if (!fields["Url"].empty()) {
                rows[fields["ContainerId"] + "/" + fields["EntryId"]] = fields;
            }
        }
    }
    return rows;
}

TEST(WebCache, AgreesWithEsedbexportOnEveryUrlRow) {
    const TempDir temp;
    const fs::path database = sampleFolder() / "WebCacheV01.dat";
    const auto reference = exportedRows(database, temp.path());
    if (reference.empty()) {
        GTEST_SKIP() << "esedbexport (Debian package libesedb-utils) is not installed";
    }
    ReadReport report;
    const auto tables = readWebCacheTables(database, true, report);
    ASSERT_TRUE(tables) << tables.error().message;
    // Six rows keep their URL as a long value this libesedb cannot follow; esedbexport
    // prints them without one, and they are counted as skipped.
    EXPECT_EQ(report.skipped, 6U) << report.firstProblem;
    EXPECT_EQ(tables->rows.size(), 454U);
    ASSERT_EQ(reference.size(), 454U);
    for (const WebCacheRow& row : tables->rows) {
        const std::string key = std::to_string(row.containerId) + "/" + std::to_string(row.entryId);
        SCOPED_TRACE(key + " " + row.url);
        const auto found = reference.find(key);
        ASSERT_NE(found, reference.end());
        Fields ours;
        ours["Url"] = row.url;
        ours["Filename"] = row.fileName;
        ours["FileExtension"] = row.fileExtension;
        ours["SecureDirectory"] = std::to_string(row.secureDirectory);
        ours["FileSize"] = std::to_string(row.fileSize);
        ours["AccessCount"] = std::to_string(row.accessCount);
        ours["ExemptionDelta"] = std::to_string(row.exemptionDelta);
        ours["SyncTime"] = formatTime(row.syncTime);
        ours["ExpiryTime"] = formatTime(row.expiryTime);
        ours["ModifiedTime"] = formatTime(row.modifiedTime);
        ours["AccessedTime"] = formatTime(row.accessedTime);
        ours["ResponseHeaders"] = hexOf(row.responseHeaders);
        Fields theirs;
        for (const auto& [name, value] : ours) {
            theirs[name] = found->second.at(name);
        }
        EXPECT_EQ(ours, theirs);
    }
}

// A profile holding a copy of the sample, with the logs a live system leaves beside it.
struct Profile {
    TempDir temp;
    fs::path local = temp.path() / "AppData" / "Local";
    fs::path windows = local / "Microsoft" / "Windows";
    fs::path webCache = windows / "WebCache";

    Profile() {
        fs::create_directories(webCache);
        fs::copy_file(sampleFolder() / "WebCacheV01.dat", webCache / "WebCacheV01.dat");
        temp.write("AppData/Local/Microsoft/Windows/WebCache/V01.log", "log");
        temp.write("AppData/Local/Microsoft/Windows/WebCache/V01.chk", "checkpoint");
    }
};

const WebCacheRow& rowWithFile(const WebCacheTables& tables, std::uint64_t container,
                               std::uint32_t secure) {
    for (const WebCacheRow& row : tables.rows) {
        if (row.containerId == container && row.secureDirectory == secure &&
            !row.fileName.empty() && !row.responseHeaders.empty()) {
            return row;
        }
    }
    throw std::runtime_error("no such row in the sample");
}

TEST(WebCache, ServesTheFilesBesideItFromACopyAndLeavesTheProfileAsItWas) {
    const Profile profile;
    ReadReport tablesReport;
    const auto tables =
        readWebCacheTables(profile.webCache / "WebCacheV01.dat", false, tablesReport);
    ASSERT_TRUE(tables) << tables.error().message;
    const auto secureName = [&tables](std::uint64_t container, std::uint32_t index) {
        for (const WebCacheContainer& candidate : tables->containers) {
            if (candidate.id == container) {
                return candidate.secureDirectories.at(index - 1);
            }
        }
        return std::string();
    };
    // Container 21 is the Low one (INetCache\Low\IE), 1 the main one, which this disk keeps
    // under Windows 8's name; 7 belongs to an app under AppData\Local\Packages.
    const WebCacheRow& low = rowWithFile(*tables, 21, 1);
    const WebCacheRow& main = rowWithFile(*tables, 1, 3);
    const WebCacheRow& app = rowWithFile(*tables, 7, 1);
    const WebCacheRow& linked = rowWithFile(*tables, 21, 2);
    const fs::path lowFile =
        profile.windows / "INetCache" / "Low" / "IE" / secureName(21, 1) / low.fileName;
    const fs::path mainFile = profile.windows / "Temporary Internet Files" / "Content.IE5" /
                              secureName(1, 3) / main.fileName;
    const fs::path appFile = profile.local / "Packages" / "microsoft.windows.search_cw5n1h2txyewy" /
                             "AC" / "INetCache" / secureName(7, 1) / app.fileName;
    for (const fs::path& file : {lowFile, mainFile, appFile}) {
        profile.temp.write(fs::relative(file, profile.temp.path()).string(), file.string());
    }
    // A cache folder that is a link leads out of the cache: its files are not served.
    const TempDir outside;
    outside.write(linked.fileName, "private");
    fs::create_directory_symlink(outside.path(),
                                 lowFile.parent_path().parent_path() / secureName(21, 2));

    const auto before = testing::folderState(profile.temp.path());
    const auto temporaryBefore = ourTemporaryFolders();
    ASSERT_TRUE(looksLikeWebCache(profile.webCache));
    EXPECT_TRUE(webCacheNeedsCopy(profile.webCache / "WebCacheV01.dat"));
    EXPECT_FALSE(webCacheNeedsCopy(sampleFolder() / "WebCacheV01.dat"));
    ReadReport report;
    const std::vector<CacheRecord> records = readWebCache(profile.webCache, report);
    EXPECT_EQ(report.skipped, 6U) << report.firstProblem;
    EXPECT_EQ(testing::folderState(profile.temp.path()), before);
    EXPECT_EQ(ourTemporaryFolders(), temporaryBefore);

    std::map<RecordKind, int> kinds;
    std::map<std::string, const CacheRecord*> byUrl;
    for (const CacheRecord& record : records) {
        ++kinds[record.kind];
        byUrl[record.url] = &record;
    }
    // Content: containers 1, 7 and 21; visits: the two History containers; no cookie rows.
    EXPECT_EQ(kinds[RecordKind::Content], 21 + 15 + 334);
    EXPECT_EQ(kinds[RecordKind::History], 20 + 21);
    EXPECT_EQ(kinds[RecordKind::Cookie], 0);
    for (const auto& [row, file] : {std::pair{&low, lowFile}, {&main, mainFile}, {&app, appFile}}) {
        SCOPED_TRACE(row->url);
        const CacheRecord& record = *byUrl.at(row->url);
        EXPECT_EQ(fs::path(record.localFile), file);
        ASSERT_TRUE(record.body);
        EXPECT_EQ(record.body(1000).value(), file.string());
        EXPECT_TRUE(record.headers.starts_with("HTTP/1.1 2") &&
                    record.headers.ends_with("\r\n\r\n"));
        EXPECT_EQ(record.size, row->fileSize);
        EXPECT_NE(record.lastAccess, 0U);
    }
    EXPECT_EQ(byUrl.at(linked.url)->localFile, "");
}

TEST(WebCache, DirtyAndDamagedDatabasesAreReadWithoutHarm) {
    const auto before = testing::folderState(sampleFolder());
    ReadReport cleanReport;
    const auto clean = readWebCache(sampleFolder(), cleanReport);
    EXPECT_EQ(testing::folderState(sampleFolder()), before);
    std::set<std::string> cleanUrls;
    for (const CacheRecord& record : clean) {
        cleanUrls.insert(record.url);
    }
    const std::string bytes = bytesOf(sampleFolder() / "WebCacheV01.dat");
    ASSERT_GT(bytes.size(), 1U << 20U);
    const auto readDamaged = [](const std::string& damaged) {
        const TempDir temp;
        temp.write("WebCacheV01.dat", damaged);
        ReadReport report;
        return readWebCache(temp.path(), report);
    };
    // A database Windows did not shut down is read as it stands, from a copy.
    std::string dirty = bytes;
    dirty[52] = 2;
    dirty[0] = static_cast<char>(dirty[0] ^ 1); // the header's checksum: an XOR of its words
    EXPECT_EQ(readDamaged(dirty).size(), clean.size());

    constexpr std::size_t kPage = 32768;
    for (const std::size_t length :
         {std::size_t{0}, std::size_t{100}, 3 * kPage, bytes.size() / 2, bytes.size() - kPage}) {
        SCOPED_TRACE("truncated to " + std::to_string(length));
        const auto records = readDamaged(bytes.substr(0, length));
        for (const CacheRecord& record : records) {
            EXPECT_TRUE(cleanUrls.contains(record.url));
        }
        // Half the file has lost the Containers table but still holds whole row tables.
        EXPECT_EQ(records.empty(), length < 4 * kPage) << records.size();
    }
    for (std::size_t at = 5 * kPage + 100; at < bytes.size(); at += 97 * kPage + 4321) {
        SCOPED_TRACE("flipped at " + std::to_string(at));
        std::string flipped = bytes;
        for (std::size_t i = at; i < at + 64 && i < flipped.size(); ++i) {
            flipped[i] = static_cast<char>(~flipped[i]);
        }
        (void)readDamaged(flipped);
    }
}

TEST(WebCacheRows, HeadersFoldersAndNamesFromHostileValues) {
    EXPECT_EQ(webCacheHeaders("HTTP/1.1 200 OK\r\nA: b\r\n\r\n~U:john\r\n\r\n"),
              "HTTP/1.1 200 OK\r\nA: b\r\n\r\n");
    EXPECT_EQ(webCacheHeaders("HTTP/1.1 200 OK\r\nA: b"), "HTTP/1.1 200 OK\r\nA: b\r\n\r\n");
    EXPECT_EQ(webCacheHeaders(std::string("HTTP/1.1 200 OK\r\n\0X: y", 22)),
              "HTTP/1.1 200 OK\r\n\r\n");
    EXPECT_EQ(webCacheHeaders("\x01\x02binary"), "");

    const fs::path db = "/p/AppData/Local/Microsoft/Windows/WebCache";
    EXPECT_EQ(containerFolder(R"(C:\Users\J\AppData\Local\Microsoft\Windows\INetCache\IE\)", db),
              fs::path("/p/AppData/Local/Microsoft/Windows/INetCache/IE"));
    EXPECT_EQ(containerFolder(R"(D:\Profiles\J\Microsoft\Windows\INetCache\Low\IE)", db),
              fs::path("/p/AppData/Local/Microsoft/Windows/INetCache/Low/IE"));
    EXPECT_EQ(containerFolder(R"(C:\Users\J\AppData\Local\..\..\..\etc\)", db), fs::path());
    EXPECT_EQ(containerFolder(R"(C:\Windows\System32\)", db), fs::path());
    EXPECT_EQ(containerFolder(R"(C:\Users\J\AppData\Local\)", db), fs::path());

    EXPECT_EQ(splitSecureDirectories("6Y2O6DHLUSS0JDTC../x/../D65QY5R7xyz"),
              (std::vector<std::string>{"6Y2O6DHL", "USS0JDTC", "", "D65QY5R7"}));
}

} // namespace
} // namespace sarnika::sources
