#include "win32/TrayArea.h"

#include <algorithm>
#include <cstring>

// The shell's header needs <windows.h> first.
#include <shellapi.h>

namespace sarnika::win32 {
namespace {

constexpr const char* kTrayWindowClass = "TRxTrayIconWindow";

bool keyDown(int key) {
    return (static_cast<unsigned short>(GetKeyState(key)) & 0x8000U) != 0;
}

} // namespace

Win32NotificationArea::Win32NotificationArea(HINSTANCE instance)
    : m_taskbarCreated(RegisterWindowMessageA("TaskbarCreated")) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &Win32NotificationArea::windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kTrayWindowClass;
    // A second area finds the class registered already.
    RegisterClassA(&windowClass);
    m_window = CreateWindowExA(WS_EX_TOOLWINDOW, kTrayWindowClass, "", WS_POPUP, 0, 0, 0, 0,
                               nullptr, nullptr, instance, nullptr);
    if (m_window != nullptr) {
        SetWindowLongPtrA(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
}

Win32NotificationArea::~Win32NotificationArea() {
    if (m_window != nullptr) {
        SetWindowLongPtrA(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
}

LRESULT CALLBACK Win32NotificationArea::windowProc(HWND window, UINT message, WPARAM wParam,
                                                   LPARAM lParam) {
    auto* area = reinterpret_cast<Win32NotificationArea*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (area != nullptr && area->m_receiver &&
        (message == kTrayCallbackMessage || message == area->m_taskbarCreated) &&
        area->m_receiver(message, static_cast<unsigned>(lParam))) {
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The taskbar's own window holds the notification area.
bool Win32NotificationArea::available() const {
    return FindWindowA("Shell_TrayWnd", nullptr) != nullptr;
}

bool Win32NotificationArea::notify(DWORD operation, const NotifyIconData& data) const {
    NOTIFYICONDATAA record{};
    // The first layout of the record: what every shell version takes.
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = m_window;
    record.uID = data.id;
    record.uFlags = data.flags;
    record.uCallbackMessage = data.callbackMessage;
    const auto* image = dynamic_cast<const Win32TrayImage*>(data.icon.get());
    // -1 stands for no icon at all.
    record.hIcon = image != nullptr ? image->handle() : reinterpret_cast<HICON>(INT_PTR{-1});
    const std::size_t tipLength = std::min(data.tip.size(), sizeof record.szTip - 1);
    std::memcpy(record.szTip, data.tip.data(), tipLength);
    return Shell_NotifyIconA(operation, &record) != FALSE;
}

bool Win32NotificationArea::add(const NotifyIconData& data) {
    return notify(NIM_ADD, data);
}

bool Win32NotificationArea::modify(const NotifyIconData& data) {
    return notify(NIM_MODIFY, data);
}

bool Win32NotificationArea::remove(const NotifyIconData& data) {
    return notify(NIM_DELETE, data);
}

TrayPoint Win32NotificationArea::cursorPos() const {
    POINT where{};
    GetCursorPos(&where);
    return {where.x, where.y};
}

TrayShiftState Win32NotificationArea::keyState() const {
    TrayShiftState state = 0;
    if (keyDown(VK_SHIFT)) {
        state |= static_cast<unsigned>(TrayShift::Shift);
    }
    if (keyDown(VK_MENU)) {
        state |= static_cast<unsigned>(TrayShift::Alt);
    }
    if (keyDown(VK_CONTROL)) {
        state |= static_cast<unsigned>(TrayShift::Ctrl);
    }
    return state;
}

void Win32NotificationArea::cancelMode() {
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    if (GetGUIThreadInfo(GetCurrentThreadId(), &thread) != FALSE && thread.hwndFocus != nullptr) {
        SendMessageA(thread.hwndFocus, WM_CANCELMODE, 0, 0);
    }
}

void Win32NotificationArea::foreground() {
    if (m_window != nullptr && IsWindowEnabled(m_window) != FALSE) {
        SetForegroundWindow(m_window);
    }
}

void Win32NotificationArea::processMessages() {
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
        if (message.message == WM_QUIT) {
            // The program's own loop ends on it.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int Win32TrayMenu::itemCount() const {
    return GetMenuItemCount(m_menu);
}

bool Win32TrayMenu::clickDefaultItem() {
    const UINT item = GetMenuDefaultItem(m_menu, FALSE, 0);
    if (item == static_cast<UINT>(-1)) {
        return false;
    }
    SendMessageA(m_commandTarget, WM_COMMAND, MAKEWPARAM(item, 0), 0);
    return true;
}

void Win32TrayMenu::popup(TrayPoint where) {
    const auto command =
        static_cast<WORD>(TrackPopupMenu(m_menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD,
                                         where.x, where.y, 0, m_menuOwner, nullptr));
    // The menu of a window in the background closes only after its owner sees a message.
    PostMessageA(m_menuOwner, WM_NULL, 0, 0);
    if (command != 0) {
        SendMessageA(m_commandTarget, WM_COMMAND, MAKEWPARAM(command, 0), 0);
    }
}

} // namespace sarnika::win32
