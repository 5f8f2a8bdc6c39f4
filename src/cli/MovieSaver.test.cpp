#include "cli/MovieSaver.h"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/Manifest.h"
#include "support/TempDir.h"

namespace sarnika::cli {
namespace {

using sarnika::testing::contentOf;

namespace fs = std::filesystem;
using testing::TempDir;

// Fails every copy with a reason of its own.
class BrokenCopier final : public FileCopier {
public:
    Status copyExclusive(const std::string&, const std::string&) override {
        return makeError(Error::Code::WriteFailed, "disk on fire");
    }
    Status copyReplacing(const std::string&, const std::string&) override {
        return makeError(Error::Code::WriteFailed, "disk on fire");
    }
};

TEST(MovieSaver, KeptPathsNeverReplaceAFileOrAFolder) {
    const TempDir dir;
    const fs::path movie = dir.write("cache/clip[1].swf", "FWS-new");
    const fs::path out = dir.path() / "out";
    dir.write("out/h/swf/clip.swf", "old");
    fs::create_directories(out / "h/swf/clip-1.swf");
    LocalFileCopier copier;
    const KeptPath kept = keptPathOf("http://h/swf/clip.swf?a=1");

    auto first = saveKeepingPath(movie.string(), kept, out, copier);
    ASSERT_TRUE(first.ok()) << first.error().message;
    EXPECT_EQ(first.value(), out / "h/swf/clip-2.swf");
    auto second = saveKeepingPath(movie.string(), kept, out, copier);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second.value(), out / "h/swf/clip-3.swf");
    EXPECT_EQ(contentOf(out / "h/swf/clip.swf"), "old");
    EXPECT_EQ(contentOf(out / "h/swf/clip-3.swf"), "FWS-new");
}

TEST(MovieSaver, FailuresCarryTheirReason) {
    const TempDir dir;
    const fs::path movie = dir.write("m.swf", "FWS");
    BrokenCopier broken;
    auto failed = saveKeepingPath(movie.string(), keptPathOf("http://h/m.swf"), dir.path(), broken);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().message, "disk on fire");

    // A folder of the URL's path that is taken by a file.
    dir.write("out/h/a", "a file");
    LocalFileCopier copier;
    auto blocked =
        saveKeepingPath(movie.string(), keptPathOf("http://h/a/m.swf"), dir.path() / "out", copier);
    ASSERT_FALSE(blocked.ok());
    EXPECT_NE(blocked.error().message.find("cannot make the folder"), std::string::npos);

    MovieRow missing;
    missing.url = "http://h/gone.swf";
    missing.localFile = (dir.path() / "gone[1].swf").string();
    missing.suggestedName = "gone.swf";
    MovieRow noFile;
    noFile.url = "http://h/none.swf";
    std::ostringstream out;
    std::ostringstream err;
    Progress quiet(stderr, false);
    const SaveSummary summary =
        saveMovies({missing, noFile}, dir.path(), false, copier, quiet, out, err, nullptr);
    EXPECT_EQ(summary.saved, 0);
    EXPECT_EQ(summary.failed, 2);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str().find("cannot save http://h/gone.swf: "), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("cannot save http://h/none.swf: the cache holds no file"),
              std::string::npos);
}

TEST(MovieSaver, PrepareFolderMakesParentsOrSaysWhyNot) {
    const TempDir dir;
    EXPECT_TRUE(prepareFolder(dir.path() / "a/b/c").ok());
    EXPECT_TRUE(fs::is_directory(dir.path() / "a/b/c"));
    EXPECT_TRUE(prepareFolder(dir.path() / "a/b/c").ok());
    dir.write("file", "x");
    const Status underFile = prepareFolder(dir.path() / "file/sub");
    ASSERT_FALSE(underFile.ok());
    EXPECT_NE(underFile.error().message.find("cannot make the folder"), std::string::npos);
    EXPECT_FALSE(prepareFolder(dir.path() / "file").ok());
}

TEST(MovieSaver, ManifestTimesAreUtcOrNull) {
    EXPECT_EQ(isoUtcOf(45292.0), "2024-01-01T00:00:00Z");
    EXPECT_EQ(isoUtcOf(25569.5), "1970-01-01T12:00:00Z");
    EXPECT_EQ(isoUtcOf(45351.0 + (13 * 3600 + 14 * 60 + 15) / 86400.0), "2024-02-29T13:14:15Z");
    EXPECT_EQ(isoUtcOf(-1.25), "1899-12-29T06:00:00Z");
    EXPECT_EQ(isoUtcOf(45292.0 - 0.1 / 86400), "2024-01-01T00:00:00Z");
    EXPECT_EQ(isoUtcOf(0), std::nullopt);
    EXPECT_EQ(isoUtcOf(static_cast<double>(dayNumber(1601, 1, 1))), std::nullopt);
    EXPECT_EQ(isoUtcOf(1e300), std::nullopt);

    TEntryInfo entry;
    entry.LastModifiedTime = 45292.0;
    MovieRow row;
    row.url = "http://h/dl?id=9";
    row.entry = &entry;
    row.source = sources::SourceDescription{"Firefox", "p", "/c"};
    const std::string line = manifestLine(row, SavedFile{"/o/h/dl.swf", 3, "ab", "id=9"});
    EXPECT_EQ(line, R"({"url":"http://h/dl?id=9","saved":"/o/h/dl.swf","size":3,"sha256":"ab",)"
                    R"("query":"id=9","source":{"family":"Firefox","profile":"p","folder":"/c"},)"
                    R"("lastModified":"2024-01-01T00:00:00Z","lastAccess":null,"expires":null})");
}

} // namespace
} // namespace sarnika::cli
