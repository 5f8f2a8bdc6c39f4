#include "win32/ShellMenu.h"

#include <windows.h>
// COM's header needs <windows.h> first.
#include <objbase.h>

#include <gtest/gtest.h>

namespace {

using sarnika::win32::showShellContextMenu;

// A path the shell's namespace does not know builds no menu, neither in its folder nor among
// the drives, and shows nothing.
TEST(ShellMenu, PathsThatNameNothingShowNoMenu) {
    // As in the program, where the thread has OLE for the shell's dialogs and menus.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    EXPECT_FALSE(showShellContextMenu(nullptr, "C:\\no such folder\\clip[1].swf", {0, 0}));
    EXPECT_FALSE(showShellContextMenu(nullptr, "Q:\\clip.swf", {0, 0}));
    EXPECT_FALSE(showShellContextMenu(nullptr, "", {0, 0}));
    EXPECT_FALSE(showShellContextMenu(nullptr, "clip.swf", {-1, -1}));
    CoUninitialize();
}

} // namespace
