#include "win32/WindowPorts.h"

#include <stdexcept>

namespace sarnika::win32 {

void ListBoxControl::beginUpdate() {
    SendMessageA(m_list, WM_SETREDRAW, FALSE, 0);
}

void ListBoxControl::endUpdate() {
    SendMessageA(m_list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(m_list, nullptr, TRUE);
}

void ListBoxControl::clear() {
    SendMessageA(m_list, LB_RESETCONTENT, 0, 0);
}

void ListBoxControl::addLine(const std::string& text) {
    if (SendMessageA(m_list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())) < 0) {
        throw std::runtime_error("the movie list is full");
    }
}

int ListBoxControl::count() const {
    return static_cast<int>(SendMessageA(m_list, LB_GETCOUNT, 0, 0));
}

int ListBoxControl::selectedIndex() const {
    const auto index = static_cast<int>(SendMessageA(m_list, LB_GETCURSEL, 0, 0));
    return index == LB_ERR ? -1 : index;
}

void ListBoxControl::select(int index) {
    SendMessageA(m_list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

WindowPlacement Win32PlacementWindow::placement() const {
    WINDOWPLACEMENT system{};
    system.length = sizeof(system);
    GetWindowPlacement(m_window, &system);
    WindowPlacement placement;
    placement.flags = static_cast<int>(system.flags);
    placement.showCmd = static_cast<int>(system.showCmd);
    placement.minPosition = {system.ptMinPosition.x, system.ptMinPosition.y};
    placement.maxPosition = {system.ptMaxPosition.x, system.ptMaxPosition.y};
    placement.normalPosition = {system.rcNormalPosition.left, system.rcNormalPosition.top,
                                system.rcNormalPosition.right, system.rcNormalPosition.bottom};
    return placement;
}

void Win32PlacementWindow::setPlacement(const WindowPlacement& placement) {
    WINDOWPLACEMENT system{};
    system.length = sizeof(system);
    system.flags = static_cast<UINT>(placement.flags);
    system.showCmd = static_cast<UINT>(placement.showCmd);
    system.ptMinPosition = {placement.minPosition.x, placement.minPosition.y};
    system.ptMaxPosition = {placement.maxPosition.x, placement.maxPosition.y};
    system.rcNormalPosition = {placement.normalPosition.left, placement.normalPosition.top,
                               placement.normalPosition.right, placement.normalPosition.bottom};
    SetWindowPlacement(m_window, &system);
}

bool Win32PlacementWindow::isVisible() const {
    return IsWindowVisible(m_window) != FALSE;
}

bool Win32PlacementWindow::applicationMinimized() const {
    return IsIconic(m_window) != FALSE;
}

int Win32PlacementWindow::systemMetric(SystemMetric metric) const {
    switch (metric) {
    case SystemMetric::CxScreen:
        return GetSystemMetrics(SM_CXSCREEN);
    case SystemMetric::CyScreen:
        return GetSystemMetrics(SM_CYSCREEN);
    case SystemMetric::CxBorder:
        return GetSystemMetrics(SM_CXBORDER);
    case SystemMetric::CyBorder:
        return GetSystemMetrics(SM_CYBORDER);
    case SystemMetric::CxFrame:
        return GetSystemMetrics(SM_CXFRAME);
    case SystemMetric::CyFrame:
        return GetSystemMetrics(SM_CYFRAME);
    case SystemMetric::CxDlgFrame:
        return GetSystemMetrics(SM_CXDLGFRAME);
    case SystemMetric::CyDlgFrame:
        return GetSystemMetrics(SM_CYDLGFRAME);
    }
    return 0;
}

int Win32PlacementWindow::pixelsPerInch() const {
    HDC screen = GetDC(nullptr);
    const int pixels = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return pixels;
}

void Win32PlacementWindow::postMinimize() {
    PostMessageA(m_window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

PlacementRect Win32PlacementWindow::bounds() const {
    RECT outer{};
    GetWindowRect(m_window, &outer);
    return {outer.left, outer.top, outer.right, outer.bottom};
}

void Win32PlacementWindow::setWindowState(WindowState state) {
    // Before the window is shown the state is that of its first showing.
    if (IsWindowVisible(m_window) == FALSE) {
        return;
    }
    ShowWindow(m_window, state == WindowState::Maximized   ? SW_MAXIMIZE
                         : state == WindowState::Minimized ? SW_MINIMIZE
                                                           : SW_RESTORE);
}

void Win32PlacementWindow::update() {
    UpdateWindow(m_window);
}

} // namespace sarnika::win32
