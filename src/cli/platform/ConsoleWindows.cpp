#include <cerrno>
#include <cstdio>
#include <io.h>

#include <windows.h>

#include "cli/platform/Console.h"

namespace sarnika::cli {

bool standardErrorIsTerminal() {
    return ::_isatty(::_fileno(stderr)) != 0;
}

void enableTerminalSequences() {
    HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    if (DWORD mode = 0; GetConsoleMode(console, &mode) != 0) {
        SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

std::error_code folderWriteError(const std::filesystem::path& folder) {
    // Windows knows no execute right on folders; _waccess refuses to be asked about it.
    if (::_waccess(folder.c_str(), 2) != 0) {
        return {errno, std::generic_category()};
    }
    return {};
}

} // namespace sarnika::cli
