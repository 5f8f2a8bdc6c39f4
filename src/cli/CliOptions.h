#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"

namespace sarnika::cli {

enum class Command { List, SaveAll, Warc, Help, Version };

struct CliOptions {
    Command command = Command::Help;
    std::vector<std::string> caches; // --cache, in the order given
    bool sniff = false;
    bool json = false;      // list only
    bool all = false;       // list: every entry, not only the movies; warc: every content entry
    std::string folder;     // save-all only
    bool keepPaths = false; // save-all only
    std::optional<std::string> manifest;
    std::string archive; // warc only
    bool force = false;  // warc only: an existing archive may be replaced
    // save-all and warc: also the files of the movies' hosts (withAssets) or of these hosts.
    bool withAssets = false;
    std::vector<std::string> hosts;
};

// Exit codes of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitCopyFailed = 1;
inline constexpr int kExitUsage = 2;

// Reads the arguments after the program name. Options may stand before or after the command;
// "--" ends the options. The error message says what is wrong, for a usage error (exit 2).
Result<CliOptions> parseArguments(const std::vector<std::string>& arguments);

std::string helpText();
std::string versionText();

} // namespace sarnika::cli
