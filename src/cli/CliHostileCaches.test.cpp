// sarnika-cli on paths the user names that are links, fifos or devices. Every run has a time
// limit: the faults caught here are runs that block.
#include <cstdlib>

#include <gtest/gtest.h>

#include "support/PosixFiles.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using sarnika::testing::contentOf;
using sarnika::testing::sharedDir;
using sarnika::testing::TempDir;

struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class CliHostileCaches : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path sample = sharedDir() / "testdata" / "made-here" / "chromium-cache.tar.gz";
        const std::string command =
            "tar -C '" + dir.path().string() + "' -xzf '" + sample.string() + "'";
        ASSERT_EQ(std::system(command.c_str()), 0); // NOLINT
        fs::create_directories(dir.path() / "empty-home");
    }

    // Runs the program for at most 60 s (exit code 124 when it had to be stopped).
    CliRun cli(const std::string& arguments) {
        const fs::path out = dir.path() / "run";
        const std::string command =
            "env -u XDG_CACHE_HOME -u XDG_CONFIG_HOME -u WINEPREFIX HOME='" +
            (dir.path() / "empty-home").string() + "' timeout 60 " SARNIKA_CLI_PATH " " +
            arguments + " >'" + out.string() + ".stdout' 2>'" + out.string() + ".stderr'";
        const int status = std::system(command.c_str()); // NOLINT
        CliRun run;
        run.exitCode = sarnika::testing::childEndOf(status).exitCode;
        run.out = contentOf(out.string() + ".stdout");
        run.err = contentOf(out.string() + ".stderr");
        return run;
    }

    TempDir dir;
};

TEST_F(CliHostileCaches, FifosAndDevicesAreRefusedAtOnceAndLinksFollowed) {
    const fs::path fifo = dir.path() / "fifo";
    ASSERT_TRUE(sarnika::testing::makeFifo(fifo));
    for (const std::string& path : {fifo.string(), std::string("/dev/zero")}) {
        const CliRun run = cli("list --cache '" + path + "'");
        EXPECT_NE(run.exitCode, 124) << path << " blocked the program";
        EXPECT_NE(run.err.find("refused"), std::string::npos) << run.err;
    }
    fs::create_directory_symlink(dir.path() / "home/.cache/chromium/Default/Cache/Cache_Data",
                                 dir.path() / "link");
    const CliRun linked = cli("list --cache '" + (dir.path() / "link").string() + "'");
    EXPECT_EQ(linked.exitCode, 0) << linked.err;
    EXPECT_NE(linked.out.find("huge.swf"), std::string::npos) << linked.err;
}

} // namespace
