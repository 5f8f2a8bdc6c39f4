#include "cache/sources/msiecf/IeContentFolders.h"

#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using testing::sharedDir;
using testing::TempDir;

// An IE 11 profile whose WebCache database was lost: three cache folders, six PNG files named
// "name[N]" without extension.
fs::path sampleProfile() {
    return sharedDir() / "testdata" / "external" / "inetcache-no-index";
}

TEST(IeContentFolders, ServesEveryFileOfTheSampleByItsOwnName) {
    const fs::path content = sampleProfile() / "Temporary Internet Files" / "Content.IE5";
    EXPECT_TRUE(looksLikeIeContentFolders(content));
    EXPECT_FALSE(looksLikeIeContentFolders(sampleProfile() / "Temporary Internet Files" / "Low" /
                                           "Content.IE5"));
    EXPECT_FALSE(looksLikeIeContentFolders(sampleProfile() / "Temporary Internet Files"));

    ReadReport report;
    const std::vector<CacheRecord> records = readIeContentFolders(content, {}, report);
    EXPECT_EQ(report.skipped, 0U) << report.firstProblem;
    ASSERT_EQ(records.size(), 6U);
    std::set<std::string> identities;
    for (const CacheRecord& record : records) {
        SCOPED_TRACE(record.localFile);
        identities.insert(record.identity);
        EXPECT_EQ(record.kind, RecordKind::Content);
        EXPECT_TRUE(record.url.starts_with("file:///"));
        EXPECT_NE(record.url.find("/Temporary%20Internet%20Files/Content.IE5/"), std::string::npos);
        EXPECT_TRUE(record.url.ends_with(fs::path(record.localFile).filename().string()));
        EXPECT_NE(record.lastSync, 0U);
        ASSERT_TRUE(record.body);
        const auto body = record.body(1U << 20U);
        ASSERT_TRUE(body) << body.error().message;
        EXPECT_EQ(body->size(), record.size);
        EXPECT_TRUE(body->starts_with("\x89PNG"));
    }
    EXPECT_EQ(identities.size(), 6U);
}

TEST(IeContentFolders, LeavesOutIndexedFilesLinksAndBookkeeping) {
    const TempDir temp;
    const TempDir outside;
    const fs::path content = temp.path() / "INetCache" / "IE";
    const fs::path movie = temp.write("INetCache/IE/ABCD1234/movie[1].swf", "FWS\x0A");
    temp.write("INetCache/IE/ABCD1234/page[1].htm", "<html>");
    temp.write("INetCache/IE/ABCD1234/desktop.ini", "[.ShellClassInfo]");
    temp.write("INetCache/IE/container.dat", "");
    temp.write("INetCache/IE/TOOLONG123/other[1].swf", "FWS");
    const fs::path secret = outside.write("secret.swf", "CWS");
    fs::create_symlink(secret, content / "ABCD1234" / "link[1].swf");
    fs::create_directory_symlink(outside.path(), content / "LINKED00");

    ASSERT_TRUE(looksLikeIeContentFolders(content));
    ReadReport report;
    // The index names the page, by a path written another way.
    const std::set<std::string> indexed = {(content / "." / "ABCD1234" / "page[1].htm").string()};
    const std::vector<CacheRecord> records = readIeContentFolders(content, indexed, report);
    ASSERT_EQ(records.size(), 1U) << records.back().localFile;
    EXPECT_EQ(fs::path(records[0].localFile), movie);
    EXPECT_NE(records[0].url.find("/ABCD1234/movie[1].swf"), std::string::npos) << records[0].url;
    EXPECT_EQ(records[0].fileExtension, "swf");
    EXPECT_EQ(records[0].size, 4U);
    EXPECT_EQ(records[0].body(2).value(), "FW");
}

} // namespace
} // namespace sarnika::sources
