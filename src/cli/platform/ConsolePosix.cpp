#include <cerrno>

#include <unistd.h>

#include "cli/platform/Console.h"

namespace sarnika::cli {

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

void enableTerminalSequences() {}

std::error_code folderWriteError(const std::filesystem::path& folder) {
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return {errno, std::generic_category()};
    }
    return {};
}

} // namespace sarnika::cli
