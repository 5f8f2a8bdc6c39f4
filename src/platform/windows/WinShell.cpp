#include "platform/windows/WinShell.h"

#include <array>

#include <windows.h>
// The shell's headers need <windows.h> first.
#include <shellapi.h>
#include <shlobj.h>

namespace sarnika::winshell {

bool ShellOpen(const std::string& text, void* ownerWindow) {
    SHELLEXECUTEINFOA info{};
    // The record's own size: 60 bytes in 32-bit programs, more in 64-bit ones, where a fixed
    // 60 makes the call fail.
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT;
    info.hwnd = static_cast<HWND>(ownerWindow);
    info.lpVerb = "open";
    info.lpFile = text.c_str();
    static_cast<void>(ShellExecuteExA(&info));
    if (info.hProcess != nullptr) {
        CloseHandle(info.hProcess);
    }
    return true;
}

void BringWindowToFront(void* window, bool restore) {
    auto* const handle = static_cast<HWND>(window);
    if (IsWindowEnabled(handle) == 0) {
        return;
    }
    SetForegroundWindow(handle);
    if (restore && IsWindowVisible(handle) != 0) {
        // A maximised window stays maximised.
        if (IsZoomed(handle) == 0) {
            SendMessageA(handle, WM_SYSCOMMAND, SC_RESTORE, 0);
        }
        SetFocus(handle);
    }
}

std::string GetSpecialFolderPath(int folderId) {
    LPITEMIDLIST items = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folderId, &items)) || items == nullptr) {
        return {};
    }
    std::array<char, MAX_PATH> buffer{};
    std::string path;
    if (SHGetPathFromIDListA(items, buffer.data()) != 0) {
        path = buffer.data();
    }
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr) {
        if (allocator->DidAlloc(items) > 0) {
            allocator->Free(items);
        }
        allocator->Release();
    }
    return withoutTrailingDelimiter(std::move(path));
}

std::string GetPersonalFolder() {
    return GetSpecialFolderPath(CSIDL_PERSONAL);
}

std::string withoutTrailingDelimiter(std::string path) {
    const auto isDelimiter = [](char c) {
        return c == '\\' || c == '/';
    };
    while (path.size() > 1 && isDelimiter(path.back())) {
        // "C:\" is a drive's root and keeps its delimiter.
        if (path.size() == 3 && path[1] == ':') {
            break;
        }
        path.pop_back();
    }
    return path;
}

} // namespace sarnika::winshell
