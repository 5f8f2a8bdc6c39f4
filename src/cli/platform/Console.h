#pragma once

#include <filesystem>
#include <system_error>

// What the console program asks of the system: one implementation per system
// (ConsolePosix.cpp, ConsoleWindows.cpp).
namespace sarnika::cli {

// Whether standard error is a terminal, where a progress line may redraw itself.
bool standardErrorIsTerminal();

// Lets the console take the terminal sequences that the progress line redraws itself with,
// where it takes them only when asked to.
void enableTerminalSequences();

// Why this user cannot create files in `folder`; no error when it can.
std::error_code folderWriteError(const std::filesystem::path& folder);

} // namespace sarnika::cli
