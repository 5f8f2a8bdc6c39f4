#pragma once

#include <optional>
#include <string>

#include <windows.h>

namespace sarnika::win32 {

// The common file dialog of "Save as...": Flash movies only, ".swf" added to a name typed
// without an extension, and the dialog's own question before an existing file is replaced.
// The chosen path, or none when the user cancelled.
std::optional<std::string> askSaveFileName(HWND owner, const std::string& folder,
                                           const std::string& fileName);

// The shell's folder dialog of "Save all...": folders only, with an edit box; it opens with the
// selection preselected (none when it is empty). The chosen folder, or none when the user
// cancelled.
std::optional<std::string> browseForFolder(HWND owner, const std::string& selection);

// The captions of the folder dialog: its window and the text above its tree.
inline constexpr const char* kBrowseCaption = "Select directory to save movies...";
inline constexpr const char* kBrowseTitle = "Save all...";

} // namespace sarnika::win32
