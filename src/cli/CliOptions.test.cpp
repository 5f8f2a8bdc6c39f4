#include "cli/CliOptions.h"

#include <gtest/gtest.h>

namespace sarnika::cli {
namespace {

CliOptions parsed(const std::vector<std::string>& arguments) {
    auto options = parseArguments(arguments);
    EXPECT_TRUE(options.ok()) << (options.ok() ? "" : options.error().message);
    return options.ok() ? options.value() : CliOptions{};
}

std::string failure(const std::vector<std::string>& arguments) {
    auto options = parseArguments(arguments);
    EXPECT_FALSE(options.ok());
    return options.ok() ? std::string() : options.error().message;
}

TEST(CliOptions, CommandsWithTheirOptionsInAnyOrder) {
    const CliOptions list = parsed({"--sniff", "list", "--json", "--cache", "/a", "--cache=/b"});
    EXPECT_EQ(list.command, Command::List);
    EXPECT_TRUE(list.sniff);
    EXPECT_TRUE(list.json);
    EXPECT_EQ(list.caches, (std::vector<std::string>{"/a", "/b"}));

    const CliOptions save = parsed({"save-all", "out", "--keep-paths", "--manifest", "m.jsonl"});
    EXPECT_EQ(save.command, Command::SaveAll);
    EXPECT_EQ(save.folder, "out");
    EXPECT_TRUE(save.keepPaths);
    EXPECT_EQ(save.manifest, "m.jsonl");
    EXPECT_FALSE(save.json);
    EXPECT_TRUE(save.caches.empty());

    // After "--" a folder may start with a dash.
    EXPECT_EQ(parsed({"save-all", "--", "-out"}).folder, "-out");
    EXPECT_EQ(parsed({"list", "--cache", "--sniff"}).caches, (std::vector<std::string>{"--sniff"}));
}

TEST(CliOptions, HelpAndVersionWinOverEverythingElse) {
    EXPECT_EQ(parsed({"-h"}).command, Command::Help);
    EXPECT_EQ(parsed({"list", "--help"}).command, Command::Help);
    EXPECT_EQ(parsed({"save-all", "--version"}).command, Command::Version);
    EXPECT_EQ(versionText().rfind("sarnika-cli ", 0), 0U);
    EXPECT_NE(helpText().find("--keep-paths"), std::string::npos);
}

TEST(CliOptions, MistakesAreUsageErrorsThatSayWhat) {
    EXPECT_NE(failure({}).find("no command"), std::string::npos);
    EXPECT_NE(failure({"show"}).find("unknown command show"), std::string::npos);
    EXPECT_NE(failure({"list", "--jsn"}).find("unknown option --jsn"), std::string::npos);
    EXPECT_NE(failure({"list", "--cache"}).find("--cache needs a value"), std::string::npos);
    EXPECT_NE(failure({"list", "--cache="}).find("non-empty"), std::string::npos);
    EXPECT_NE(failure({"list", "extra"}).find("extra"), std::string::npos);
    EXPECT_NE(failure({"save-all"}).find("folder"), std::string::npos);
    EXPECT_NE(failure({"save-all", "a", "b"}).find("also b"), std::string::npos);
    EXPECT_NE(failure({"save-all", "a", "--json"}).find("--json"), std::string::npos);
    EXPECT_NE(failure({"save-all", "a", "--all"}).find("--all"), std::string::npos);
    EXPECT_NE(failure({"list", "--with-assets"}).find("--with-assets"), std::string::npos);
    EXPECT_NE(failure({"warc", "a.warc", "--hosts", ","}).find("--hosts"), std::string::npos);
    EXPECT_EQ(parsed({"warc", "a.warc", "--hosts", "a.example,,b.example"}).hosts,
              (std::vector<std::string>{"a.example", "b.example"}));
    EXPECT_TRUE(parsed({"--all", "list"}).all);
    EXPECT_NE(failure({"list", "--keep-paths"}).find("save-all"), std::string::npos);
    EXPECT_NE(failure({"list", "--manifest", "m"}).find("save-all"), std::string::npos);
    EXPECT_NE(failure({"save-all", "d", "--manifest"}).find("--manifest"), std::string::npos);
    EXPECT_NE(failure({"--cachex", "list"}).find("--cachex"), std::string::npos);
}

} // namespace
} // namespace sarnika::cli
