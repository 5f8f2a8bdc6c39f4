#include "win32/Dialogs.h"

#include <algorithm>
#include <array>
#include <vector>

// The dialogs' and the shell's headers need <windows.h> first.
#include <commdlg.h>

#include <shlobj.h>

#include "shell/BrowseSelection.h"

namespace sarnika::win32 {
namespace {

// Room for long paths in the dialog's file name buffer.
constexpr std::size_t kFileNameRoom = 32768;

struct BrowseStart {
    std::string preselected;
};

int CALLBACK browseCallback(HWND dialog, UINT message, LPARAM /*lParam*/, LPARAM data) {
    if (message == BFFM_INITIALIZED) {
        SetWindowTextA(dialog, kBrowseCaption);
        const auto* start = reinterpret_cast<const BrowseStart*>(data);
        if (!start->preselected.empty()) {
            SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE,
                         reinterpret_cast<LPARAM>(start->preselected.c_str()));
        }
    }
    return 0;
}

void freeItems(LPITEMIDLIST items) {
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr) {
        if (allocator->DidAlloc(items) > 0) {
            allocator->Free(items);
        }
        allocator->Release();
    }
}

} // namespace

std::optional<std::string> askSaveFileName(HWND owner, const std::string& folder,
                                           const std::string& fileName) {
    std::vector<char> file(kFileNameRoom, '\0');
    fileName.copy(file.data(), std::min(fileName.size(), file.size() - 1));
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    // A single entry: only files ending in .swf are shown.
    dialog.lpstrFilter = "Flash movies (*.swf)\0*.swf\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.lpstrTitle = "Save Flash movie as...";
    dialog.lpstrDefExt = "swf";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER |
                   OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (GetSaveFileNameA(&dialog) == FALSE) {
        return std::nullopt;
    }
    return std::string(file.data());
}

std::optional<std::string> browseForFolder(HWND owner, const std::string& selection) {
    BrowseStart start{selection.empty() ? std::string()
                                        : preselectionText(selection, PathRules::windows())};
    std::array<char, MAX_PATH> displayName{};
    BROWSEINFOA browse{};
    browse.hwndOwner = owner;
    browse.pszDisplayName = displayName.data();
    browse.lpszTitle = kBrowseTitle;
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    browse.lpfn = &browseCallback;
    browse.lParam = reinterpret_cast<LPARAM>(&start);
    LPITEMIDLIST items = SHBrowseForFolderA(&browse);
    if (items == nullptr) {
        return std::nullopt;
    }
    std::array<char, MAX_PATH> path{};
    const bool found = SHGetPathFromIDListA(items, path.data()) != FALSE;
    freeItems(items);
    if (!found) {
        return std::nullopt;
    }
    return std::string(path.data());
}

} // namespace sarnika::win32
