#include "cache/sources/safari/SafariCache.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "cache/sources/HttpHeaders.h"
#include "cache/sources/safari/BinaryPlist.h"
#include "cache/sources/safari/XmlPlist.h"
#include "support/profile/ProfileTestSupport.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using testing::folderState;
using testing::readWholeFile;
using testing::TempDir;
using testing::TestConnection;

constexpr std::uint64_t kAll = std::numeric_limits<std::uint64_t>::max();

// A Safari cache of a real macOS home folder: 31 responses, 7 bodies in fsCachedData/.
fs::path sampleCache() {
    return testing::sharedDir() / "testdata" / "external" / "safari-cache" / "com.apple.Safari";
}

fs::path copyOfSample(const TempDir& temp) {
    const fs::path copy = temp.path() / "com.apple.Safari";
    fs::copy(sampleCache(), copy, fs::copy_options::recursive);
    for (const auto& item : fs::recursive_directory_iterator(copy)) {
        fs::permissions(item.path(), fs::perms::owner_write, fs::perm_options::add);
    }
    return copy;
}

std::map<std::string, const CacheRecord*> byUrl(const std::vector<CacheRecord>& records) {
    std::map<std::string, const CacheRecord*> map;
    for (const CacheRecord& record : records) {
        map[record.url] = &record;
    }
    return map;
}

TEST(SafariCache, ReadsEveryResponseOfTheSampleWithItsBody) {
    const auto before = folderState(sampleCache());
    ASSERT_TRUE(looksLikeSafariCache(sampleCache()));
    ReadReport report;
    const std::vector<CacheRecord> records = readSafariCache(sampleCache(), report);
    ASSERT_EQ(records.size(), 31U);
    EXPECT_EQ(report.skipped, 0U) << report.firstProblem;

    std::set<std::string> identities;
    std::size_t onDisk = 0;
    for (const CacheRecord& record : records) {
        SCOPED_TRACE(record.url);
        identities.insert(record.identity);
        EXPECT_TRUE(record.headers.starts_with("HTTP/1.1 ") &&
                    record.headers.ends_with("\r\n\r\n"));
        EXPECT_EQ(headerValue(record.headers, "Content-Length"), std::to_string(record.size));
        EXPECT_EQ(headerValue(record.headers, "Content-Encoding"), "");
        EXPECT_NE(record.lastAccess, 0U);
        EXPECT_GE(record.lastSync, record.lastAccess - kFileTimeTicksPerSecond * 86'400 * 30);
        const auto body = record.body(kAll);
        ASSERT_TRUE(body) << body.error().message;
        ASSERT_EQ(body->size(), record.size);
        if (!record.localFile.empty()) {
            ++onDisk;
            EXPECT_EQ(fs::path(record.localFile).parent_path().filename(), "fsCachedData");
            EXPECT_EQ(*body, readWholeFile(record.localFile));
        }
        const std::string type = mediaTypeOf(headerValue(record.headers, "Content-Type"));
        if (type == "image/png") {
            EXPECT_TRUE(body->starts_with("\x89PNG"));
        } else if (type == "image/jpeg") {
            EXPECT_TRUE(body->starts_with("\xFF\xD8"));
        }
        const auto head = record.body(5);
        ASSERT_TRUE(head);
        EXPECT_EQ(*head, body->substr(0, 5));
    }
    EXPECT_EQ(onDisk, 7U);
    EXPECT_EQ(identities.size(), records.size());

    const auto map = byUrl(records);
    // Headers in the server's order; the row's time stamp (UTC text) and the response's own time.
    const CacheRecord& icons = *map.at("https://configuration.apple.com/configurations/"
                                       "internetservices/safari/FallbackMaskIcons-11.1.2.plist");
    EXPECT_TRUE(icons.headers.starts_with("HTTP/1.1 200 OK\r\nServer: Apache\r\nContent-Type: "));
    EXPECT_EQ(headerValue(icons.headers, "Etag"), "\"9f3e3-54ee2565c0580\"");
    EXPECT_EQ(icons.headers.find("__hhaa__"), std::string::npos);
    EXPECT_EQ(icons.size, 652'259U);
    EXPECT_EQ(icons.lastAccess, fileTimeFromSqliteTimestamp("2018-08-30 11:02:11"));
    EXPECT_EQ(icons.lastSync / kFileTimeTicksPerSecond,
              *parseHttpDate("Sat, 15 Sep 2018 05:38:21 GMT") / kFileTimeTicksPerSecond);
    EXPECT_EQ(icons.expires, parseHttpDate("Sat, 15 Sep 2018 05:38:22 GMT"));
    EXPECT_EQ(icons.lastModified, parseHttpDate("Fri, 16 Jun 2017 07:02:03 GMT"));
    // Sent gzipped, kept decoded.
    const CacheRecord& quirks =
        *map.at("https://configuration.apple.com/configurations/"
                "internetservices/safari/SitesAllowedToUseAutoplayQuirks-1.plist");
    EXPECT_TRUE(quirks.headers.starts_with("HTTP/1.1 404 Not Found\r\n"));
    EXPECT_TRUE(quirks.body(kAll)->starts_with("<!DOCTYPE"));

    EXPECT_EQ(folderState(sampleCache()), before);
    EXPECT_FALSE(looksLikeSafariCache(sampleCache() / "fsCachedData"));
    EXPECT_EQ(fileTimeFromSqliteTimestamp("2018-13-30 11:02:11"), std::nullopt);
    EXPECT_EQ(fileTimeFromSqliteTimestamp("2018-08-30T11:02:11"), std::nullopt);
}

TEST(SafariCache, DamagedRowsAndHostileBodyNamesAreSkipped) {
    const TempDir temp;
    const fs::path cache = copyOfSample(temp);
    fs::create_directories(temp.path() / "elsewhere");
    fs::create_symlink(temp.path() / "elsewhere", cache / "fsCachedData" / "link");
    {
        const TestConnection db(cache / "Cache.db");
        // 2: response object cut short; 4: no longer a property list; 6: a name that leads
        // out of the folder; 7: a name of a link; 9: no body row; 29: its body file is gone.
        db.exec("UPDATE cfurl_cache_blob_data SET response_object = substr(response_object, 1, "
                "300) WHERE entry_ID = 2");
        db.exec("UPDATE cfurl_cache_blob_data SET response_object = x'00' || response_object "
                "WHERE entry_ID = 4");
        db.exec("UPDATE cfurl_cache_receiver_data SET isDataOnFS = 1, receiver_data = "
                "'../Cache.db' WHERE entry_ID = 6");
        db.exec("UPDATE cfurl_cache_receiver_data SET isDataOnFS = 1, receiver_data = 'link' "
                "WHERE entry_ID = 7");
        db.exec("DELETE FROM cfurl_cache_receiver_data WHERE entry_ID = 9");
        // Keys of later versions name the page's host too.
        db.exec("UPDATE cfurl_cache_response SET request_key = request_key || '[www.apple.com]' "
                "WHERE entry_ID = 10");
    }
    fs::remove(cache / "fsCachedData" / "AA0F65BF-DB6D-4DCB-B6E3-13C46516C86B");
    ReadReport report;
    const std::vector<CacheRecord> records = readSafariCache(cache, report);
    EXPECT_EQ(records.size(), 31U - 6U);
    EXPECT_EQ(report.skipped, 6U) << report.firstProblem;
    EXPECT_NE(report.firstProblem.find("entry 2: binary property list"), std::string::npos)
        << report.firstProblem;

    // A body changed or gone after the listing is refused, not misread.
    const auto map = byUrl(records);
    EXPECT_EQ(map.count("https://cdn.smoot.apple.com/images/mac_YFVkNF/play_circle.png"), 1U);
    const CacheRecord& inline8 =
        *map.at("https://cdn.smoot.apple.com/images/mac_YFVkNF/rt_cert_fresh.png");
    const CacheRecord& file1 = *map.at("https://configuration.apple.com/configurations/"
                                       "internetservices/safari/FallbackMaskIcons-11.1.2.plist");
    EXPECT_TRUE(inline8.body(kAll));
    {
        const TestConnection db(cache / "Cache.db");
        db.exec("UPDATE cfurl_cache_receiver_data SET receiver_data = x'0102' WHERE entry_ID = 8");
    }
    temp.write("com.apple.Safari/fsCachedData/01A014EB-1E32-4CAA-B750-7A0386CF9DAE", "FWS");
    EXPECT_FALSE(inline8.body(kAll));
    EXPECT_FALSE(file1.body(kAll));

    ReadReport missing;
    EXPECT_TRUE(readSafariCache(temp.path() / "elsewhere", missing).empty());
    EXPECT_EQ(missing.skipped, 1U);
}

TEST(SafariCache, DamagedDatabaseCopiesAreReadWithoutHarm) {
    const TempDir temp;
    const fs::path cache = copyOfSample(temp);
    const std::string clean = readWholeFile(cache / "Cache.db");
    for (std::size_t at = 100; at < clean.size(); at += 1021) {
        SCOPED_TRACE("byte " + std::to_string(at));
        std::string flipped = clean;
        flipped[at] = static_cast<char>(~flipped[at]);
        temp.write("com.apple.Safari/Cache.db", flipped);
        ReadReport report;
        const auto records = readSafariCache(cache, report);
        // Damage to the header or the schema loses the whole database; elsewhere only the
        // entries of the damaged page: the listing goes on after it.
        EXPECT_TRUE(records.empty() || (records.size() >= 25 && records.size() <= 31))
            << records.size() << " " << report.firstProblem;
        for (const CacheRecord& record : records) {
            (void)record.body(kAll);
        }
        if ((at - 100) % 4084 == 0) {
            temp.write("com.apple.Safari/Cache.db", std::string_view(clean).substr(0, at));
            ReadReport cut;
            EXPECT_LE(readSafariCache(cache, cut).size(), 31U);
        }
    }
}

// The layout of the first versions (2007 to 2010, on Windows too): bodies in the blob table,
// responses as XML property lists.
TEST(SafariCache, ReadsTheOldLayoutWithXmlResponses) {
    const TempDir temp;
    const fs::path cache = temp.path() / "Safari";
    fs::create_directories(cache);
    const std::string response = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>Array</key>
	<array>
		<dict><key>_CFURLString</key><string>http://example.com/racer.swf?a=1&amp;b=2</string></dict>
		<real>247104000.5</real>
		<integer>0</integer>
		<integer>200</integer>
		<dict>
			<key>Content-Type</key><string>application/x-shockwave-flash</string>
			<key>Content-Encoding</key><string>gzip</string>
			<!-- a comment --><key>X-Note</key><string><![CDATA[a <b>]]> &#x263A;</string>
		</dict>
		<integer>12</integer>
		<string>application/x-shockwave-flash</string>
	</array>
	<key>Version</key><integer>1</integer>
</dict>
</plist>
)";
    {
        const TestConnection db(cache / "Cache.db");
        db.exec("CREATE TABLE cfurl_cache_response(entry_ID INTEGER PRIMARY KEY AUTOINCREMENT "
                "UNIQUE, version INTEGER, hash_value INTEGER, storage_policy INTEGER, request_key "
                "TEXT UNIQUE, time_stamp NOT NULL DEFAULT CURRENT_TIMESTAMP)");
        db.exec("CREATE TABLE cfurl_cache_blob_data(entry_ID INTEGER PRIMARY KEY, response_object "
                "BLOB, request_object BLOB, receiver_data BLOB, proto_props BLOB, user_info BLOB)");
        db.exec("INSERT INTO cfurl_cache_response VALUES(1, 0, 7, 0, "
                "'http://example.com/racer.swf?a=1&b=2', '2008-10-31 12:00:01')");
        db.exec("INSERT INTO cfurl_cache_blob_data VALUES(1, CAST('" + response +
                "' AS BLOB), NULL, x'4657530A0C00000001020304', NULL, NULL)");
    }
    const auto before = folderState(temp.path());
    ASSERT_TRUE(looksLikeSafariCache(cache));
    ReadReport report;
    const auto records = readSafariCache(cache, report);
    ASSERT_EQ(records.size(), 1U) << report.firstProblem;
    const CacheRecord& movie = records[0];
    EXPECT_EQ(movie.headers, "HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n"
                             "X-Note: a <b> \xE2\x98\xBA\r\nContent-Length: 12\r\n\r\n");
    EXPECT_EQ(movie.lastSync,
              fileTimeFromUnixSeconds(978'307'200 + 247'104'000) + kFileTimeTicksPerSecond / 2);
    EXPECT_EQ(*movie.body(kAll), "FWS\x0A\x0C\0\0\0\x01\x02\x03\x04"s);
    EXPECT_EQ(folderState(temp.path()), before);

    const auto refused = [](std::string_view xml) {
        return !parseXmlPlist(xml).ok();
    };
    EXPECT_TRUE(refused("<plist><dict><key>a</key></dict></plist>"));
    EXPECT_TRUE(refused("<plist><array><string>open</array></plist>"));
    EXPECT_TRUE(refused("<plist><integer>99999999999999999999</integer></plist>"));
    EXPECT_TRUE(refused("<plist><string>&bogus;</string></plist>"));
    EXPECT_TRUE(refused("<plist><string>a&;</string></plist>"));
    EXPECT_TRUE(refused("<plist><data>@@</data></plist>"));
    EXPECT_TRUE(refused(std::string(40, '\0') + "<plist><true/></plist>"));
    std::string deep = "<plist>";
    for (int i = 0; i < 40; ++i) {
        deep += "<array>";
    }
    EXPECT_TRUE(refused(deep + "<true/>"));
    const auto value = parseXmlPlist(
        "<plist><array><date>2001-01-02T00:00:01Z</date><data>AP8=</data><false/></array></plist>");
    ASSERT_TRUE(value) << value.error().message;
    EXPECT_EQ(value->items[0].real, 86'401.0);
    EXPECT_EQ(value->items[1].text, "\0\xFF"s);
    EXPECT_TRUE(value->items[2].is(PlistValue::Type::Boolean) && !value->items[2].boolean);
}

// A binary property list of the given objects (offsets of 2 bytes, references of 1).
std::string plist(const std::vector<std::string>& objects, std::uint8_t top = 0) {
    std::string out = "bplist00";
    std::vector<std::size_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(out.size());
        out += object;
    }
    const std::size_t table = out.size();
    for (const std::size_t offset : offsets) {
        out += static_cast<char>(offset >> 8U);
        out += static_cast<char>(offset & 0xFFU);
    }
    out += "\0\0\0\0\0\0\x02\x01"s + std::string(7, '\0') + static_cast<char>(objects.size()) +
           std::string(7, '\0') + static_cast<char>(top) + std::string(6, '\0') +
           static_cast<char>(table >> 8U) + static_cast<char>(table & 0xFFU);
    return out;
}

TEST(BinaryPlist, DecodesEveryKindOfObject) {
    const auto value = parseBinaryPlist(plist({
        "\xAB\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B"s, // array of the objects below
        "\x10\xC8"s,                                         // 200
        "\x13\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE"s,             // -2
        "\x14"s + std::string(8, '\0') + "\x00\x00\x00\x00\x00\x01\x00\x00"s, // 65536
        "\x23\x41\xC0\xA6\x69\x26\xDD\xD9\x23"s, // 558682701.73 (a real)
        "\x33\x41\xC0\xA6\x69\x26\xDD\xD9\x23"s, // the same as a date
        "\x53GET"s,
        "\x64\x00\xE9\xD8\x3D\xDE\x00\xD8\x00"s, // e-acute, a smiley, a lone surrogate
        "\x4F\x10\x02\x00\xFF"s,                 // data with its count in an integer
        "\x80\x05"s,                             // UID 5
        "\x09"s,                                 // true
        "\xD1\x06\x01"s,                         // {"GET": 200}
    }));
    ASSERT_TRUE(value) << value.error().message;
    ASSERT_EQ(value->items.size(), 11U);
    const auto& items = value->items;
    EXPECT_EQ(items[0].integer, 200);
    EXPECT_EQ(items[1].integer, -2);
    EXPECT_EQ(items[2].integer, 65536);
    EXPECT_TRUE(items[3].is(PlistValue::Type::Real) && items[4].is(PlistValue::Type::Date));
    EXPECT_NEAR(items[4].real, 558682701.733, 0.001);
    EXPECT_EQ(items[6].text, "\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD");
    EXPECT_EQ(items[7].text, "\x00\xFF"s);
    EXPECT_TRUE(items[8].is(PlistValue::Type::Uid) && items[8].integer == 5);
    EXPECT_TRUE(items[9].boolean);
    ASSERT_NE(items[10].find("GET"), nullptr);
    EXPECT_EQ(items[10].find("GET")->integer, 200);
}

TEST(BinaryPlist, RefusesHostileLists) {
    const auto refused = [](const std::string& bytes) {
        return !parseBinaryPlist(bytes).ok();
    };
    EXPECT_TRUE(refused(plist({"\xA1\x00"s})));                  // an array that holds itself
    EXPECT_TRUE(refused(plist({"\xA1\x01"s, "\xA1\x00"s})));     // two that hold each other
    EXPECT_TRUE(refused(plist({"\xA1\x05"s})));                  // a reference to nothing
    EXPECT_TRUE(refused(plist({"\xD1\x01\x01"s, "\x10\x01"s}))); // a key that is no string
    EXPECT_TRUE(refused(plist({"\x5F\x10\x50GET"s})));           // a string past the objects
    EXPECT_TRUE(refused(plist({"\x10\x01"s}, 1)));               // a top object that is missing
    EXPECT_TRUE(refused(plist({"\x70"s})));                      // an unknown marker
    // Each array refers twice to the next: 2^40 values if it were expanded.
    std::vector<std::string> laughs;
    for (std::uint8_t i = 1; i <= 40; ++i) {
        laughs.push_back("\xA2"s + static_cast<char>(i) + static_cast<char>(i));
    }
    laughs.push_back("\x10\x01"s);
    EXPECT_TRUE(refused(plist(laughs)));
    // Nesting beyond the limit, a cut trailer, and a valid list's prefix.
    std::vector<std::string> deep;
    for (std::uint8_t i = 1; i <= 40; ++i) {
        deep.push_back("\xA1"s + static_cast<char>(i));
    }
    deep.push_back("\x10\x01"s);
    EXPECT_TRUE(refused(plist(deep)));
    deep.erase(deep.begin(), deep.end() - 20);
    for (std::size_t i = 0; i + 1 < deep.size(); ++i) {
        deep[i] = "\xA1"s + static_cast<char>(i + 1);
    }
    EXPECT_FALSE(refused(plist(deep)));
    EXPECT_TRUE(refused(plist(deep).substr(0, 60)));
    EXPECT_TRUE(refused("bplist00"));
}

} // namespace
} // namespace sarnika::sources
