// Saving under interruption and onto hostile targets, on the POSIX side.
#include "app/platform/LocalFiles.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace sarnika::files {
namespace {

namespace fs = std::filesystem;
using sarnika::testing::contentOf;
using sarnika::testing::TempDir;

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

mode_t modeOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0);
    return info.st_mode & 07777;
}

TEST(SavingOntoHostileTargets, ReplacingKeepsLinksModesAndLongNames) {
    const TempDir dir;
    const std::string movie = dir.write("cache/f_1", "new movie").string();
    // A link chosen as the target: the file it names gets the content, the link stays.
    const fs::path real = dir.write("out/real.swf", "old");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    const fs::path link = dir.path() / "out" / "link.swf";
    fs::create_symlink("real.swf", link);
    ASSERT_TRUE(copyReplacing(movie, link.string()).ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contentOf(real), "new movie");
    EXPECT_EQ(modeOf(real), 0600U);

    // A name of 255 bytes, the most a file system allows.
    const fs::path longName = dir.write("out/" + std::string(251, 'n') + ".swf", "old");
    ASSERT_TRUE(copyReplacing(movie, longName.string()).ok());
    EXPECT_EQ(contentOf(longName), "new movie");
    EXPECT_EQ((std::set<std::string>{"real.swf", "link.swf", longName.filename().string()}),
              namesIn(dir.path() / "out"));

    // A failed copy leaves the old content whole and no temporary file.
    EXPECT_FALSE(copyReplacing((dir.path() / "cache").string(), real.string()).ok());
    EXPECT_FALSE(copyReplacing(movie + "-gone", real.string()).ok());
    EXPECT_EQ(contentOf(real), "new movie");
    EXPECT_EQ(namesIn(dir.path() / "out").size(), 3U);
}

TEST(SavingOntoHostileTargets, NothingIsWrittenThroughALinkBelowTheFolder) {
    const TempDir dir;
    const std::string movie = dir.write("cache/f_1", "movie").string();
    fs::create_directories(dir.path() / "elsewhere");
    fs::create_directories(dir.path() / "out");
    fs::create_directory_symlink(dir.path() / "elsewhere", dir.path() / "out" / "evil.test");
    fs::create_symlink(dir.path() / "elsewhere" / "x.swf", dir.path() / "out" / "dangling.swf");

    const Status throughFolder =
        copyExclusiveBelow(movie, (dir.path() / "out").string(), "evil.test/sub/clip.swf");
    ASSERT_FALSE(throughFolder.ok());
    EXPECT_NE(throughFolder.error().message.find("symbolic link"), std::string::npos)
        << throughFolder.error().message;
    EXPECT_EQ(copyExclusiveBelow(movie, (dir.path() / "out").string(), "dangling.swf").error().code,
              Error::Code::Exists);
    EXPECT_TRUE(fs::is_empty(dir.path() / "elsewhere"));

    // The folder the user names may itself be a link, and new folders are made below it.
    fs::create_directory_symlink(dir.path() / "out", dir.path() / "chosen");
    ASSERT_TRUE(
        copyExclusiveBelow(movie, (dir.path() / "chosen").string(), "host/a/clip.swf").ok());
    EXPECT_EQ(contentOf(dir.path() / "out" / "host" / "a" / "clip.swf"), "movie");
}

// Copies a large movie in a child process and interrupts it with `signal` as soon as the copy
// has begun; answers the names left in the target folder.
// A file made piece by piece (an archive being written) never stands half-made under its name
// and never replaces what the user has, unless asked to.
TEST(WritingANewFile, AppearsWholeOrNotAtAll) {
    const TempDir dir;
    const std::string target = (dir.path() / "out.warc.gz").string();
    const auto pieces = [](int count) -> ContentWriter {
        return [count](const std::function<Status(std::string_view)>& write) -> Status {
            for (int i = 0; i < count; ++i) {
                SARNIKA_TRY(write("piece "));
            }
            if (count < 0) {
                return makeError(Error::Code::Cancelled, "stopped");
            }
            return {};
        };
    };
    EXPECT_EQ(writeNewFile(target, pieces(-1), false).error().code, Error::Code::Cancelled);
    EXPECT_TRUE(namesIn(dir.path()).empty());
    ASSERT_TRUE(writeNewFile(target, pieces(3), false).ok());
    EXPECT_EQ(contentOf(target), "piece piece piece ");
    // The user's file stays as it is; with leave to replace it, it is replaced whole.
    EXPECT_EQ(writeNewFile(target, pieces(1), false).error().code, Error::Code::Exists);
    EXPECT_EQ(contentOf(target), "piece piece piece ");
    EXPECT_FALSE(writeNewFile(target, pieces(-1), true).ok());
    EXPECT_EQ(contentOf(target), "piece piece piece ");
    ASSERT_TRUE(writeNewFile(target, pieces(1), true).ok());
    EXPECT_EQ(contentOf(target), "piece ");
    fs::create_directory(dir.path() / "folder");
    EXPECT_FALSE(writeNewFile((dir.path() / "folder").string(), pieces(1), true).ok());
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"out.warc.gz", "folder"}));
}

std::set<std::string> interruptedCopy(const TempDir& dir, int signal) {
    const fs::path movie = dir.path() / "cache" / "big";
    fs::create_directories(movie.parent_path());
    std::ofstream(movie) << std::string(std::size_t{64} << 20U, 'x');
    const fs::path out = dir.path() / ("out" + std::to_string(signal));
    fs::create_directories(out);
    std::array<int, 2> ready{};
    EXPECT_EQ(::pipe(ready.data()), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        removeTemporariesOnInterrupt();
        ::close(ready[0]);
        static_cast<void>(::write(ready[1], "go", 2));
        for (int round = 0; round < 1000; ++round) {
            static_cast<void>(copyExclusiveBelow(movie.string(), out.string(),
                                                 "big-" + std::to_string(round) + ".swf"));
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    std::array<char, 2> go{};
    EXPECT_EQ(::read(ready[0], go.data(), go.size()), 2);
    ::close(ready[0]);
    ::kill(child, signal);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    std::set<std::string> names = namesIn(out);
    // Every file there is complete; only what is not is answered.
    for (auto it = names.begin(); it != names.end();) {
        it = fs::file_size(out / *it) == fs::file_size(movie) ? names.erase(it) : std::next(it);
    }
    return names;
}

TEST(SavingUnderInterruption, NoPartialFileAfterSigintOrSigterm) {
    const TempDir dir;
    EXPECT_EQ(interruptedCopy(dir, SIGINT), std::set<std::string>{});
    EXPECT_EQ(interruptedCopy(dir, SIGTERM), std::set<std::string>{});
    // The same where files without a name cannot be made.
    useUnnamedTemporaries(false);
    EXPECT_EQ(interruptedCopy(dir, SIGINT), std::set<std::string>{});
    useUnnamedTemporaries(true);
}

} // namespace
} // namespace sarnika::files
