#pragma once

#include <windows.h>

#include "winsvc/RxTrayIcon.h"

namespace sarnika::win32 {

// An icon of the program's resources, shown in the notification area.
class Win32TrayImage final : public TrayImage {
public:
    explicit Win32TrayImage(HICON icon) : m_icon(icon) {}
    bool empty() const override { return m_icon == nullptr; }
    HICON handle() const { return m_icon; }

private:
    HICON m_icon;
};

// The taskbar's notification area through Shell_NotifyIconA. The icon's notifications and the
// taskbar's "TaskbarCreated" broadcast arrive at a hidden tool window of its own.
class Win32NotificationArea final : public NotificationArea {
public:
    explicit Win32NotificationArea(HINSTANCE instance);
    ~Win32NotificationArea() override;
    Win32NotificationArea(const Win32NotificationArea&) = delete;
    Win32NotificationArea& operator=(const Win32NotificationArea&) = delete;

    HWND handle() const { return m_window; }

    bool available() const override;
    void listen(Receiver receiver) override { m_receiver = std::move(receiver); }
    bool add(const NotifyIconData& data) override;
    bool modify(const NotifyIconData& data) override;
    bool remove(const NotifyIconData& data) override;
    unsigned taskbarCreatedMessage() const override { return m_taskbarCreated; }
    TrayPoint cursorPos() const override;
    TrayShiftState keyState() const override;
    void cancelMode() override;
    void foreground() override;
    void processMessages() override;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool notify(DWORD operation, const NotifyIconData& data) const;

    HWND m_window = nullptr;
    UINT m_taskbarCreated = 0;
    Receiver m_receiver;
};

// The icon's menu: a submenu of the program's resources whose commands go to the main window.
class Win32TrayMenu final : public TrayMenu {
public:
    Win32TrayMenu(HMENU menu, HWND menuOwner, HWND commandTarget)
        : m_menu(menu), m_menuOwner(menuOwner), m_commandTarget(commandTarget) {}
    bool autoPopup() const override { return true; }
    int itemCount() const override;
    bool clickDefaultItem() override;
    void popup(TrayPoint where) override;

private:
    HMENU m_menu;
    HWND m_menuOwner;
    HWND m_commandTarget;
};

} // namespace sarnika::win32
