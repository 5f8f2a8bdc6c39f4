#include "cli/MovieSaver.h"

#include <climits>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/Manifest.h"
#include "support/PosixFiles.h"
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
                    R"("query":"id=9","source":{"family":"Firefox","profile":"p","user":"",)"
                    R"("folder":"/c"},)"
                    R"("lastModified":"2024-01-01T00:00:00Z","lastAccess":null,"expires":null})");
}

// Saving onto hostile folders and under concurrency, on the POSIX side.
#ifndef _WIN32
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

MovieRow rowOf(const std::string& url, const fs::path& file, const std::string& name = "m") {
    MovieRow row;
    row.url = url;
    row.localFile = file.string();
    row.suggestedName = name;
    return row;
}

std::vector<std::string> linesIn(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Long names and paths, links inside the folder: each movie fails on its own, with its reason.
TEST(MovieSaver, LongPathsAndLinksFailOrFitMovieByMovie) {
    const TempDir dir;
    const fs::path movie = dir.write("cache/m[1].swf", "FWS-movie");
    const fs::path out = dir.path() / "out";
    fs::create_directories(dir.path() / "elsewhere");
    fs::create_directories(out);
    fs::create_directory_symlink(dir.path() / "elsewhere", out / "evil.test");
    std::string deep = "http://h";
    while (deep.size() < PATH_MAX + 100) {
        deep += "/" + std::string(150, 'd');
    }
    const std::string longName = "http://h/" + std::string(300, 'n') + ".swf";
    const std::vector<MovieRow> rows = {rowOf("http://evil.test/x.swf", movie),
                                        rowOf(deep + "/deep.swf", movie),
                                        rowOf(deep + "/deep.swf", movie), rowOf(longName, movie)};
    LocalFileCopier copier;
    Progress quiet(stderr, false);
    std::ostringstream saved;
    std::ostringstream err;
    auto manifest = files::AppendFile::open((dir.path() / "manifest").string());
    ASSERT_TRUE(manifest.ok());
    const SaveSummary kept =
        saveMovies(rows, out, true, copier, quiet, saved, err, &manifest.value());
    EXPECT_EQ(kept.saved, 3);
    EXPECT_EQ(kept.failed, 1);
    EXPECT_NE(err.str().find("cannot save http://evil.test/x.swf: "), std::string::npos);
    EXPECT_NE(err.str().find("symbolic link"), std::string::npos) << err.str();
    EXPECT_TRUE(fs::is_empty(dir.path() / "elsewhere"));
    std::set<std::string> files;
    for (const std::string& line : linesOf(saved.str())) {
        const std::string file = line.substr(0, line.find('\t'));
        EXPECT_LT(file.size(), std::size_t{PATH_MAX}) << file;
        EXPECT_EQ(contentOf(file), "FWS-movie") << file;
        files.insert(file);
    }
    EXPECT_EQ(files.size(), 3U);
    EXPECT_EQ(linesIn(dir.path() / "manifest").size(), 3U);

    // Flat: a name of 300 bytes is cut to fit 255 with its counter and extension.
    const fs::path flat = dir.path() / "flat";
    fs::create_directories(flat);
    const std::string name(300, 'n');
    const SaveSummary cut = saveMovies({rowOf(longName, movie, name), rowOf(longName, movie, name)},
                                       flat, false, copier, quiet, saved, err, nullptr);
    EXPECT_EQ(cut.saved, 2);
    for (const auto& entry : fs::directory_iterator(flat)) {
        EXPECT_LE(entry.path().filename().string().size(), 255U);
        EXPECT_EQ(entry.path().extension(), ".swf");
    }
}

// Two runs appending to one manifest at the same time never mix their lines.
TEST(MovieSaver, ConcurrentRunsKeepManifestLinesWhole) {
    const TempDir dir;
    const fs::path movie = dir.write("cache/m[1].swf", "FWS");
    const fs::path manifest = dir.path() / "manifest";
    constexpr int kRows = 150;
    std::vector<std::function<int()>> runs;
    for (int run = 0; run < 2; ++run) {
        fs::create_directories(dir.path() / ("out" + std::to_string(run)));
        runs.emplace_back([&dir, &movie, &manifest, run] {
            std::vector<MovieRow> rows;
            rows.reserve(kRows);
            for (int i = 0; i < kRows; ++i) {
                rows.push_back(rowOf("http://h/" + std::string(2000, static_cast<char>('a' + run)) +
                                         "/" + std::to_string(i) + ".swf",
                                     movie));
            }
            LocalFileCopier copier;
            Progress quiet(stderr, false);
            std::ostringstream ignored;
            auto lines = files::AppendFile::open(manifest.string());
            const SaveSummary summary =
                saveMovies(rows, dir.path() / ("out" + std::to_string(run)), false, copier, quiet,
                           ignored, ignored, lines ? &lines.value() : nullptr);
            return summary.saved == kRows ? 0 : 1;
        });
    }
    for (const testing::ChildEnd& end : testing::runInChildren(runs)) {
        EXPECT_EQ(end.exitCode, 0);
    }
    const auto lines = linesIn(manifest);
    EXPECT_EQ(lines.size(), 2U * kRows);
    for (const std::string& line : lines) {
        ASSERT_EQ(line.rfind("{\"url\":\"http://h/", 0), 0U) << line.substr(0, 80);
        ASSERT_EQ(line.back(), '}');
    }
}

#endif

} // namespace
} // namespace sarnika::cli
