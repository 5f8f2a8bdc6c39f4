#include "win32/MainForm.h"

#include <algorithm>

// The common controls' header needs <windows.h> first.
#include <commctrl.h>

#include "platform/windows/WinShell.h"
#include "win32/MovieFacts.h"
#include "win32/ShellMenu.h"
#include "win32/SplashWindow.h"
#include "win32/TrayArea.h"
#include "win32/resource.h"

namespace sarnika::win32 {
namespace {

constexpr const char* kWindowClass = "TfrmMain";
constexpr const char* kSplitterClass = "TSplitter";
constexpr int kOuterWidth = 550;
constexpr int kOuterHeight = 437;
constexpr int kLineHeight = 13;
constexpr int kSplitterWidth = 3;
constexpr int kStatusHeight = 19;
constexpr int kMinimumPane = 30;
constexpr int kLinkHeight = 20;
constexpr int kMargin = 6;
// Posted to itself for each step the presenter wants run from the message loop.
constexpr UINT kRunLater = WM_APP + 1;
// The submenus of the popup menus' resource.
constexpr int kTrayMenu = 0;
constexpr int kFilesMenu = 1;

enum ControlId : int { kListId = 10, kFactsId, kPlayId, kStatusId };

} // namespace

TfrmMain::TfrmMain(HINSTANCE instance, UrlCachePort& cache, const LocalTimePort& localTime)
    : m_instance(instance), m_frameSites(*this, cache, localTime) {}

TfrmMain::~TfrmMain() {
    m_presenter.reset();
    if (m_window != nullptr) {
        SetWindowLongPtrA(m_window, GWLP_USERDATA, 0);
        DestroyWindow(m_window);
    }
    if (m_popups != nullptr) {
        DestroyMenu(m_popups);
    }
    if (m_font != nullptr) {
        DeleteObject(m_font);
    }
}

bool TfrmMain::registerClasses(HICON icon) const {
    WNDCLASSEXA form{};
    form.cbSize = sizeof(form);
    form.lpfnWndProc = &TfrmMain::windowProc;
    form.hInstance = m_instance;
    form.hIcon = icon;
    form.hIconSm = icon;
    form.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = kWindowClass;
    WNDCLASSEXA splitter = form;
    splitter.lpfnWndProc = &TfrmMain::splitterProc;
    splitter.hIcon = nullptr;
    splitter.hIconSm = nullptr;
    splitter.hCursor = LoadCursorA(nullptr, IDC_SIZEWE);
    splitter.lpszClassName = kSplitterClass;
    return RegisterClassExA(&form) != 0 && RegisterClassExA(&splitter) != 0;
}

bool TfrmMain::create(int show) {
    m_icon = LoadIconA(m_instance, MAKEINTRESOURCEA(IDI_SARNIKA));
    if (!registerClasses(m_icon)) {
        return false;
    }
    // Centred on the desktop's work area at the window's outer size, unless a stored
    // placement says otherwise when it is shown.
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int left = work.left + (work.right - work.left - kOuterWidth) / 2;
    const int top = work.top + (work.bottom - work.top - kOuterHeight) / 2;
    m_window = CreateWindowExA(
        0, kWindowClass, "Sarnika", WS_OVERLAPPEDWINDOW, left, top, kOuterWidth, kOuterHeight,
        nullptr, LoadMenuA(m_instance, MAKEINTRESOURCEA(IDR_MENU_MAIN)), m_instance, this);
    if (m_window == nullptr) {
        return false;
    }
    m_accelerators = LoadAcceleratorsA(m_instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    m_popups = LoadMenuA(m_instance, MAKEINTRESOURCEA(IDR_MENU_POPUPS));
    m_placementWindow.attach(m_window);
    m_trayArea = std::make_unique<Win32NotificationArea>(m_instance);
    m_trayMenu = std::make_unique<Win32TrayMenu>(GetSubMenu(m_popups, kTrayMenu),
                                                 m_trayArea->handle(), m_window);
    auto* const trayIcon = static_cast<HICON>(
        LoadImageA(m_instance, MAKEINTRESOURCEA(IDI_TRAY), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    m_presenter = std::make_unique<presenters::TfrmMain>(presenters::TfrmMain::Ports{
        *this, m_frameSites, *this, m_settings, m_copier, m_placementWindow, m_iniStore,
        *m_trayArea, std::make_shared<Win32TrayImage>(trayIcon), m_trayMenu.get()});
    m_presenter->FormCreate();
    writeTestReport();
    // The form's show handler (with the stored placement) runs before the window appears.
    m_presenter->WindowShown(false);
    if (IsWindowVisible(m_window) == FALSE) {
        ShowWindow(m_window, show);
    }
    UpdateWindow(m_window);
    m_minimized = IsIconic(m_window) != FALSE;
    SetFocus(m_listBox.handle());
    writeTestReport();
    return true;
}

LRESULT CALLBACK TfrmMain::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        auto* form = static_cast<TfrmMain*>(creation->lpCreateParams);
        form->m_window = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TfrmMain*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    return form != nullptr ? form->handleMessage(message, wParam, lParam)
                           : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK TfrmMain::splitterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* form = reinterpret_cast<TfrmMain*>(GetWindowLongPtrA(GetParent(window), GWLP_USERDATA));
    if (form == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    switch (message) {
    case WM_LBUTTONDOWN:
        SetCapture(window);
        form->m_dragging = true;
        return 0;
    case WM_MOUSEMOVE:
        if (form->m_dragging) {
            form->dragSplitter();
        }
        return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        if (form->m_dragging) {
            form->m_dragging = false;
            ReleaseCapture();
        }
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

void TfrmMain::dragSplitter() {
    POINT at{};
    GetCursorPos(&at);
    ScreenToClient(m_window, &at);
    RECT client{};
    GetClientRect(m_window, &client);
    m_listWidth = std::max(kMinimumPane, std::min<int>(at.x, client.right - kMinimumPane));
    layout();
}

LRESULT TfrmMain::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        createControls();
        return 0;
    case WM_SETFOCUS:
        // The form hands the focus on to its list.
        SetFocus(m_listBox.handle());
        return 0;
    case WM_ACTIVATE:
        // Activated while not minimised: the keys go to the list, also when the window comes
        // back from the tray (a minimised window keeps the focus on itself).
        if (LOWORD(wParam) != WA_INACTIVE && HIWORD(wParam) == 0) {
            SetFocus(m_listBox.handle());
            return 0;
        }
        break;
    case WM_SIZE:
        layout();
        stateChanged();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kListId) {
            if (HIWORD(wParam) == LBN_SELCHANGE) {
                presenters::runGuarded([this] { m_frameSites.lbxFlashClick(); },
                                       [this](const std::string& text) { reportError(text); });
                writeTestReport();
            }
            return 0;
        }
        command(LOWORD(wParam));
        return 0;
    case WM_NOTIFY: {
        const auto* notice = reinterpret_cast<const NMHDR*>(lParam);
        if (notice->idFrom == kPlayId && (notice->code == NM_CLICK || notice->code == NM_RETURN) &&
            !m_previewed.empty()) {
            winshell::ShellOpen(m_previewed, m_window);
        }
        return 0;
    }
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == m_listBox.handle()) {
            contextMenu(m_listBox.handle(), lParam);
            return 0;
        }
        break;
    case kRunLater:
        runNextLater();
        writeTestReport();
        return 0;
    case WM_CLOSE:
        if (m_presenter == nullptr || m_presenter->WindowCloseQuery()) {
            DestroyWindow(m_window);
        }
        return 0;
    case WM_DESTROY:
        if (m_presenter != nullptr) {
            m_presenter->WindowDestroyed();
        }
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: {
        const LRESULT result = DefWindowProcA(m_window, message, wParam, lParam);
        m_window = nullptr;
        return result;
    }
    default:
        break;
    }
    return DefWindowProcA(m_window, message, wParam, lParam);
}

// Minimised, restored or maximised: the presenter follows the window's state.
void TfrmMain::stateChanged() {
    const bool minimized = IsIconic(m_window) != FALSE;
    if (m_presenter == nullptr || minimized == m_minimized) {
        return;
    }
    m_minimized = minimized;
    if (!minimized && GetFocus() == m_window) {
        SetFocus(m_listBox.handle());
    }
    m_presenter->WindowStateChanged();
}

void TfrmMain::command(int id) {
    if (m_presenter == nullptr) {
        return;
    }
    using Presenter = presenters::TfrmMain;
    void (Presenter::*handler)() = nullptr;
    switch (id) {
    case ID_ACT_SAVE:
        handler = &Presenter::actSaveExecute;
        break;
    case ID_ACT_SAVE_ALL:
        handler = &Presenter::actSaveAllExecute;
        break;
    case ID_ACT_REFRESH:
        handler = &Presenter::actRefreshExecute;
        break;
    case ID_ACT_ABOUT:
        handler = &Presenter::actAboutExecute;
        break;
    case ID_ACT_EXIT:
        handler = &Presenter::actExitExecute;
        break;
    case ID_ACT_SHOW_MAIN:
        handler = &Presenter::actShowMainExecute;
        break;
    case ID_ACT_WEB_SITE:
        handler = &Presenter::actWebSiteExecute;
        break;
    default:
        return;
    }
    m_presenter->guard().run([this, handler] { ((*m_presenter).*handler)(); });
    writeTestReport();
}

// The list has its own menu (popFiles); the frame offers the shell's menu of the movie's file
// only to a list without one.
void TfrmMain::contextMenu(HWND control, LPARAM where) {
    POINT at{static_cast<short>(LOWORD(where)), static_cast<short>(HIWORD(where))};
    const bool fromKeyboard = at.x == -1 && at.y == -1;
    if (!fromKeyboard) {
        ScreenToClient(control, &at);
    }
    bool handled = false;
    m_frameSites.lbxFlashContextPopup(
        true,
        {fromKeyboard ? -1 : static_cast<int>(at.x), fromKeyboard ? -1 : static_cast<int>(at.y)},
        handled);
    if (handled) {
        return;
    }
    if (fromKeyboard) {
        RECT line{};
        SendMessageA(control, LB_GETITEMRECT,
                     static_cast<WPARAM>(std::max(0, m_listBox.selectedIndex())),
                     reinterpret_cast<LPARAM>(&line));
        at = {line.left, line.bottom};
    }
    ClientToScreen(control, &at);
    TrackPopupMenu(GetSubMenu(m_popups, kFilesMenu), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0,
                   m_window, nullptr);
}

void TfrmMain::showShellMenu(const std::string& localFile, int line, presenters::ViewPoint at) {
    POINT point{at.x, at.y};
    if (at == presenters::kKeyboardPopup) {
        RECT bounds{};
        SendMessageA(m_listBox.handle(), LB_GETITEMRECT, static_cast<WPARAM>(line),
                     reinterpret_cast<LPARAM>(&bounds));
        point = {bounds.left, bounds.bottom};
    }
    static_cast<void>(showShellContextMenu(m_listBox.handle(), localFile, point));
}

void TfrmMain::createControls() {
    m_font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
    const auto child = [this](DWORD exStyle, const char* className, const char* text, DWORD style,
                              int id, HWND parent) {
        HWND control =
            CreateWindowExA(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                            parent, reinterpret_cast<HMENU>(INT_PTR{id}), m_instance, nullptr);
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), TRUE);
        return control;
    };
    m_listBox.attach(child(WS_EX_CLIENTEDGE, "LISTBOX", "",
                           WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, kListId,
                           m_window));
    SendMessageA(m_listBox.handle(), LB_SETITEMHEIGHT, 0, kLineHeight);
    m_splitter = child(0, kSplitterClass, "", 0, 0, m_window);
    m_preview = child(WS_EX_CONTROLPARENT, "STATIC", "", SS_NOTIFY, 0, m_window);
    // No player runs inside the window: the system's program for Flash movies plays it.
    m_play =
        child(0, "SysLink", "<a>Play</a> it with your Flash player", WS_TABSTOP, kPlayId, m_window);
    m_facts = child(0, "EDIT", "", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_TABSTOP,
                    kFactsId, m_window);
    m_status = child(0, STATUSCLASSNAMEA, "", SBARS_SIZEGRIP, kStatusId, m_window);
    SendMessageA(m_status, SB_SIMPLE, TRUE, 0);
    SendMessageA(m_status, SB_SETMINHEIGHT, kStatusHeight, 0);
    // Both come with the first movie shown.
    ShowWindow(m_status, SW_HIDE);
    ShowWindow(m_play, SW_HIDE);
}

void TfrmMain::layout() {
    // A minimised window has no client area: the panes keep the sizes they had.
    if (IsIconic(m_window) != FALSE) {
        return;
    }
    RECT client{};
    GetClientRect(m_window, &client);
    int bottom = client.bottom;
    if (IsWindowVisible(m_status) != FALSE) {
        SendMessageA(m_status, WM_SIZE, 0, 0);
        RECT status{};
        GetWindowRect(m_status, &status);
        bottom -= status.bottom - status.top;
    }
    // The list keeps the width the user gave it; a narrow window only shows less of it.
    const int listWidth =
        std::max(kMinimumPane, std::min<int>(m_listWidth, client.right - kMinimumPane));
    MoveWindow(m_listBox.handle(), 0, 0, listWidth, bottom, TRUE);
    MoveWindow(m_splitter, listWidth, 0, kSplitterWidth, bottom, TRUE);
    const int paneLeft = listWidth + kSplitterWidth;
    const int paneWidth = std::max(0, static_cast<int>(client.right) - paneLeft);
    MoveWindow(m_preview, paneLeft, 0, paneWidth, bottom, TRUE);
    MoveWindow(m_play, paneLeft + kMargin, kMargin, std::max(0, paneWidth - 2 * kMargin),
               kLinkHeight, TRUE);
    const int factsTop = kMargin + kLinkHeight + kMargin;
    MoveWindow(m_facts, paneLeft + kMargin, factsTop, std::max(0, paneWidth - 2 * kMargin),
               std::max(0, bottom - factsTop - kMargin), TRUE);
}

void TfrmMain::navigatePreview(const std::string& localFile) {
    m_previewed = localFile;
    ShowWindow(m_play, SW_SHOW);
    SetWindowTextA(m_facts, movieFacts(localFile).c_str());
}

void TfrmMain::showStatus(const std::string& text) {
    m_statusText = text;
    if (IsWindowVisible(m_status) == FALSE) {
        ShowWindow(m_status, SW_SHOW);
        layout();
    }
    SendMessageA(m_status, SB_SETTEXTA, SB_SIMPLEID, reinterpret_cast<LPARAM>(text.c_str()));
}

} // namespace sarnika::win32
