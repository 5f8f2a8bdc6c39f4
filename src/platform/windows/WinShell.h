#pragma once

#include <string>

// The shell functions on Windows, over the Windows shell itself (no Qt). Window handles are
// passed as void* so that <windows.h> stays out of this header.
namespace sarnika::winshell {

// Asks the shell to "open" a document, a folder, a web address or "mailto:" plus an address,
// and does not wait for it. Always true: the shell reports its own failures, if any.
bool ShellOpen(const std::string& text, void* ownerWindow = nullptr);

// Brings the window (an HWND) to the front unless it is disabled; with `restore`, a visible
// window that is not maximised is restored and gets the keyboard focus.
void BringWindowToFront(void* window, bool restore);

// The path of a shell folder (a CSIDL number) without a trailing delimiter; empty on failure.
std::string GetSpecialFolderPath(int folderId);
// The user's documents folder; empty on failure.
std::string GetPersonalFolder();

// The path without trailing "\" or "/", except where they make a root ("C:\", "\").
std::string withoutTrailingDelimiter(std::string path);

} // namespace sarnika::winshell
