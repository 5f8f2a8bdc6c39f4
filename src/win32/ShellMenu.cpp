#include "win32/ShellMenu.h"

#include <array>

// The shell's header needs <windows.h> first.
#include <shlobj.h>

namespace sarnika::win32 {
namespace {

constexpr const char* kCallbackClass = "ICMCALLBACKWND";
constexpr UINT kFirstCommand = 1;
constexpr UINT kLastCommand = 0x7FFF;

std::array<wchar_t, MAX_PATH> wide(const std::string& text) {
    std::array<wchar_t, MAX_PATH> result{};
    const int length = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.c_str(), -1, result.data(),
                                           static_cast<int>(result.size()));
    if (length == 0) {
        result.fill(L'\0');
    }
    result.back() = L'\0';
    return result;
}

void freeItems(LPITEMIDLIST items) {
    if (items == nullptr) {
        return;
    }
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator != nullptr) {
        if (allocator->DidAlloc(items) > 0) {
            allocator->Free(items);
        }
        allocator->Release();
    }
}

template<typename Interface>
void release(Interface*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

struct LocatedItem {
    IShellFolder* folder = nullptr;
    LPITEMIDLIST item = nullptr;
};

LocatedItem parseIn(IShellFolder* folder, const std::string& name) {
    auto text = wide(name);
    LPITEMIDLIST item = nullptr;
    if (FAILED(folder->ParseDisplayName(nullptr, nullptr, text.data(), nullptr, &item, nullptr))) {
        return {};
    }
    return {folder, item};
}

// Drives and other items with no name within a parent folder: the drives folder parses them.
LocatedItem locateInDrives(std::string path) {
    IShellFolder* desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop))) {
        return {};
    }
    LPITEMIDLIST drivesItems = nullptr;
    IShellFolder* drives = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &drivesItems))) {
        static_cast<void>(desktop->BindToObject(drivesItems, nullptr, IID_IShellFolder,
                                                reinterpret_cast<void**>(&drives)));
    }
    freeItems(drivesItems);
    release(desktop);
    if (drives == nullptr) {
        return {};
    }
    if (path.empty() || path.back() != '\\') {
        path += '\\';
    }
    LocatedItem found = parseIn(drives, path);
    if (found.item == nullptr) {
        release(drives);
    }
    return found;
}

// The item of the path within its parent folder.
LocatedItem locateShellItem(const std::string& path) {
    const std::size_t split = path.find_last_of("\\:");
    const std::string folderPart = split == std::string::npos ? "" : path.substr(0, split + 1);
    const std::string namePart = split == std::string::npos ? path : path.substr(split + 1);
    IShellFolder* desktop = nullptr;
    if (FAILED(SHGetDesktopFolder(&desktop))) {
        return {};
    }
    auto folderText = wide(folderPart);
    LPITEMIDLIST folderItems = nullptr;
    const HRESULT parsed = desktop->ParseDisplayName(nullptr, nullptr, folderText.data(), nullptr,
                                                     &folderItems, nullptr);
    if (FAILED(parsed)) {
        release(desktop);
        return locateInDrives(path);
    }
    IShellFolder* folder = nullptr;
    const HRESULT bound = desktop->BindToObject(folderItems, nullptr, IID_IShellFolder,
                                                reinterpret_cast<void**>(&folder));
    freeItems(folderItems);
    release(desktop);
    if (FAILED(bound) || folder == nullptr) {
        return {};
    }
    LocatedItem found = parseIn(folder, namePart);
    if (found.item == nullptr) {
        release(folder);
        return locateInDrives(path);
    }
    return found;
}

// The shell draws, measures and fills its own submenus through the callback window.
LRESULT CALLBACK callbackProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    } else if (message == WM_DRAWITEM || message == WM_MEASUREITEM || message == WM_INITMENUPOPUP) {
        auto* menu2 = reinterpret_cast<IContextMenu2*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (menu2 != nullptr) {
            menu2->HandleMenuMsg(message, wParam, lParam);
            return message == WM_INITMENUPOPUP ? 0 : 1;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND makeCallbackWindow(IContextMenu2* menu2) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &callbackProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kCallbackClass;
    // Registered by the first menu; later ones find the class there.
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, kCallbackClass, kCallbackClass, WS_POPUP | WS_BORDER | WS_SYSMENU, 0,
                           0, 0, 0, nullptr, nullptr, instance, menu2);
}

bool showItemMenu(HWND owner, IShellFolder* folder, LPITEMIDLIST item, POINT clientPoint) {
    IContextMenu* menu = nullptr;
    auto* items = const_cast<LPCITEMIDLIST*>(reinterpret_cast<const LPCITEMIDLIST*>(&item));
    if (FAILED(folder->GetUIObjectOf(owner, 1, items, IID_IContextMenu, nullptr,
                                     reinterpret_cast<void**>(&menu))) ||
        menu == nullptr) {
        return false;
    }
    bool result = false;
    HMENU popup = CreatePopupMenu();
    if (popup != nullptr &&
        SUCCEEDED(menu->QueryContextMenu(popup, 0, kFirstCommand, kLastCommand, CMF_EXPLORE))) {
        IContextMenu2* menu2 = nullptr;
        HWND callback = nullptr;
        if (SUCCEEDED(menu->QueryInterface(IID_IContextMenu2, reinterpret_cast<void**>(&menu2)))) {
            callback = makeCallbackWindow(menu2);
        }
        POINT at = clientPoint;
        ClientToScreen(owner, &at);
        const auto chosen =
            static_cast<UINT>(TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0,
                                             callback != nullptr ? callback : owner, nullptr));
        if (chosen != 0) {
            CMINVOKECOMMANDINFO invoke{};
            invoke.cbSize = sizeof invoke;
            invoke.hwnd = owner;
            invoke.lpVerb = MAKEINTRESOURCEA(chosen - kFirstCommand);
            invoke.nShow = SW_SHOWNORMAL;
            result = SUCCEEDED(menu->InvokeCommand(&invoke));
        }
        if (callback != nullptr) {
            DestroyWindow(callback);
        }
        release(menu2);
    }
    if (popup != nullptr) {
        DestroyMenu(popup);
    }
    release(menu);
    return result;
}

} // namespace

bool showShellContextMenu(HWND owner, const std::string& path, POINT clientPoint) {
    LocatedItem found = locateShellItem(path);
    if (found.item == nullptr) {
        return false;
    }
    const bool result = showItemMenu(owner, found.folder, found.item, clientPoint);
    freeItems(found.item);
    release(found.folder);
    return result;
}

} // namespace sarnika::win32
