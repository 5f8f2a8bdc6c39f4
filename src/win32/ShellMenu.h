#pragma once

#include <string>

#include <windows.h>

namespace sarnika::win32 {

// The shell's own context menu of a file (the one its file views show) at a point in the
// owner's client coordinates; the command the user picks is carried out by the shell. True
// when a command was picked and the shell reported success; false when no menu could be built
// for the path, the menu was dismissed or the command failed. Nothing is reported to the user.
bool showShellContextMenu(HWND owner, const std::string& path, POINT clientPoint);

} // namespace sarnika::win32
