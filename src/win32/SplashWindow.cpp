#include "win32/SplashWindow.h"

namespace sarnika::win32 {
namespace {

constexpr const char* kSplashClass = "TSplashWindow";
constexpr DWORD kStyle = WS_POPUP | WS_DLGFRAME | WS_DISABLED;
constexpr DWORD kExStyle = WS_EX_TOPMOST | WS_EX_TOOLWINDOW;
constexpr int kIconOrigin = 16;
constexpr int kIconSize = 32;

} // namespace

SplashWindow::SplashWindow(HINSTANCE instance, HICON icon) : m_icon(icon) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &SplashWindow::windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_WAIT);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kSplashClass;
    // Registered by the first splash window; the later ones find it there.
    RegisterClassA(&windowClass);
    m_font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    RECT outer{0, 0, kSplashInitialClient, kSplashInitialClient};
    AdjustWindowRectEx(&outer, kStyle, FALSE, kExStyle);
    m_window = CreateWindowExA(kExStyle, kSplashClass, "", kStyle, 0, 0, outer.right - outer.left,
                               outer.bottom - outer.top, nullptr, nullptr, instance, nullptr);
    if (m_window != nullptr) {
        SetWindowLongPtrA(m_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
}

SplashWindow::~SplashWindow() {
    if (m_window != nullptr) {
        DestroyWindow(m_window);
    }
    if (m_font != nullptr) {
        DeleteObject(m_font);
    }
}

void SplashWindow::show(const std::string& text) {
    if (m_window == nullptr) {
        return;
    }
    m_text = text;
    SetWindowTextA(m_window, text.c_str());
    presenters::TSplashWindow(*this).ShowSplash(text, m_icon != nullptr);
}

LRESULT CALLBACK SplashWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* splash = reinterpret_cast<SplashWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (splash != nullptr && message == WM_PAINT) {
        splash->paint();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void SplashWindow::paint() {
    PAINTSTRUCT painting{};
    HDC dc = BeginPaint(m_window, &painting);
    if (m_icon != nullptr) {
        DrawIconEx(dc, kIconOrigin, kIconOrigin, m_icon, kIconSize, kIconSize, 0, nullptr,
                   DI_NORMAL);
    }
    HGDIOBJ previous = SelectObject(dc, m_font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    RECT label{m_label.left, m_label.top, m_label.right, m_label.bottom};
    DrawTextA(dc, m_text.c_str(), -1, &label, DT_CENTER | DT_WORDBREAK);
    SelectObject(dc, previous);
    EndPaint(m_window, &painting);
}

int SplashWindow::screenWidth() const {
    return GetSystemMetrics(SM_CXSCREEN);
}

SplashSize SplashWindow::measureWrapped(const std::string& text, int wrapWidth) const {
    HDC dc = GetDC(m_window);
    HGDIOBJ previous = SelectObject(dc, m_font);
    RECT bounds{0, 0, wrapWidth, 0};
    DrawTextA(dc, text.c_str(), -1, &bounds, DT_CALCRECT | DT_WORDBREAK);
    SelectObject(dc, previous);
    ReleaseDC(m_window, dc);
    return {bounds.right - bounds.left, bounds.bottom - bounds.top};
}

void SplashWindow::setClientSize(int width, int height) {
    RECT outer{0, 0, width, height};
    AdjustWindowRectEx(&outer, kStyle, FALSE, kExStyle);
    SetWindowPos(m_window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

SplashRect SplashWindow::centringReference() const {
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

SplashSize SplashWindow::outerSize() const {
    RECT outer{};
    GetWindowRect(m_window, &outer);
    return {outer.right - outer.left, outer.bottom - outer.top};
}

void SplashWindow::moveTo(SplashPoint origin) {
    SetWindowPos(m_window, nullptr, origin.x, origin.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SplashWindow::showPainted() {
    ShowWindow(m_window, SW_SHOWNOACTIVATE);
    UpdateWindow(m_window);
}

} // namespace sarnika::win32
