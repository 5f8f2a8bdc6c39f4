#include "win32/MainForm.h"

#include <commctrl.h>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "platform/windows/WinShell.h"
#include "win32/MovieFacts.h"
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
// Sent to itself once the window is on the screen: the first showing's checks.
constexpr UINT kFormShow = WM_APP + 1;
constexpr const char* kWebSite = "https://sarnika.quillmoor.example/";
constexpr const char* kNothingFound = "No cached FLASH movies were found in the  cache, sorry!";

enum ControlId : int { kListId = 10, kFactsId, kPlayId, kStatusId };

std::string windowText(HWND window) {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace

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
    const HDC screen = GetDC(nullptr);
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

TfrmMain::TfrmMain(HINSTANCE instance, UrlCachePort& cache, const LocalTimePort& localTime)
    : m_instance(instance), m_frameSites(*this, cache, localTime) {}

TfrmMain::~TfrmMain() {
    if (m_popups != nullptr) {
        DestroyMenu(m_popups);
    }
    if (m_font != nullptr) {
        DeleteObject(m_font);
    }
}

bool TfrmMain::create(int show) {
    const HICON icon = LoadIconA(m_instance, MAKEINTRESOURCEA(IDI_SARNIKA));
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
    if (RegisterClassExA(&form) == 0 || RegisterClassExA(&splitter) == 0) {
        return false;
    }
    // Centred on the desktop's work area at the window's outer size.
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
    // The placement is kept below the settings key and restored when the window is shown.
    m_placementWindow.attach(m_window);
    m_events.onDestroy = [this] {
        FormDestroy();
    };
    m_plcmntForm =
        std::make_unique<TFormPlacement>(m_events, m_placementWindow, m_iniStore,
                                         [this](const std::string& message) { report(message); });
    m_plcmntForm->IniFileName = "Software\\Quillmoor\\Sarnika";
    m_plcmntForm->IniSection = "Placement";
    m_plcmntForm->UseRegistry = true;
    m_plcmntForm->Loaded();
    FormCreate();
    if (m_events.onShow) {
        m_events.onShow();
    }
    if (IsWindowVisible(m_window) == FALSE) {
        ShowWindow(m_window, show);
    }
    UpdateWindow(m_window);
    winshell::BringWindowToFront(m_window, true);
    SetFocus(m_listBox.handle());
    PostMessageA(m_window, kFormShow, 0, 0);
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
    if (form != nullptr) {
        switch (message) {
        case WM_LBUTTONDOWN:
            SetCapture(window);
            form->m_dragging = true;
            return 0;
        case WM_MOUSEMOVE:
            if (form->m_dragging) {
                POINT at{};
                GetCursorPos(&at);
                ScreenToClient(form->m_window, &at);
                RECT client{};
                GetClientRect(form->m_window, &client);
                form->m_listWidth =
                    std::max(kMinimumPane, std::min<int>(at.x, client.right - kMinimumPane));
                form->layout();
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
            break;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT TfrmMain::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        createControls();
        return 0;
    case WM_SIZE:
        layout();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kListId) {
            if (HIWORD(wParam) == LBN_SELCHANGE) {
                lbxFlashClick();
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
            POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            if (at.x == -1 && at.y == -1) {
                RECT line{};
                SendMessageA(m_listBox.handle(), LB_GETITEMRECT,
                             static_cast<WPARAM>(std::max(0, m_listBox.selectedIndex())),
                             reinterpret_cast<LPARAM>(&line));
                at = {line.left, line.bottom};
                ClientToScreen(m_listBox.handle(), &at);
            }
            TrackPopupMenu(GetSubMenu(m_popups, 1), TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0,
                           m_window, nullptr);
            return 0;
        }
        break;
    case kFormShow:
        FormShow();
        return 0;
    case WM_CLOSE: {
        bool canClose = true;
        if (m_events.onCloseQuery) {
            m_events.onCloseQuery(canClose);
        }
        if (canClose) {
            DestroyWindow(m_window);
        }
        return 0;
    }
    case WM_DESTROY:
        if (m_events.onDestroy) {
            m_events.onDestroy();
        }
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(m_window, message, wParam, lParam);
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
    RECT client{};
    GetClientRect(m_window, &client);
    int bottom = client.bottom;
    if (IsWindowVisible(m_status) != FALSE) {
        SendMessageA(m_status, WM_SIZE, 0, 0);
        RECT status{};
        GetWindowRect(m_status, &status);
        bottom -= status.bottom - status.top;
    }
    m_listWidth = std::max(kMinimumPane, std::min<int>(m_listWidth, client.right - kMinimumPane));
    MoveWindow(m_listBox.handle(), 0, 0, m_listWidth, bottom, TRUE);
    MoveWindow(m_splitter, m_listWidth, 0, kSplitterWidth, bottom, TRUE);
    const int paneLeft = m_listWidth + kSplitterWidth;
    const int paneWidth = std::max(0, static_cast<int>(client.right) - paneLeft);
    MoveWindow(m_preview, paneLeft, 0, paneWidth, bottom, TRUE);
    MoveWindow(m_play, paneLeft + kMargin, kMargin, std::max(0, paneWidth - 2 * kMargin),
               kLinkHeight, TRUE);
    const int factsTop = kMargin + kLinkHeight + kMargin;
    MoveWindow(m_facts, paneLeft + kMargin, factsTop, std::max(0, paneWidth - 2 * kMargin),
               std::max(0, bottom - factsTop - kMargin), TRUE);
}

void TfrmMain::FormCreate() {
    // InitFrame, then the first scan; the first movie is previewed.
    m_frameSites.InitFrame();
    try {
        RefreshList();
        if (m_listBox.count() > 0) {
            m_listBox.select(0);
            lbxFlashClick();
        }
        // The folders: the documents folder unless the settings hold others.
        m_saveAsFolder = winshell::GetPersonalFolder();
        m_saveAllFolder = m_saveAsFolder;
        if (auto folder = m_settings.readString("SaveAsFolder")) {
            m_saveAsFolder = std::move(*folder);
        }
        if (auto folder = m_settings.readString("SaveAllFolder")) {
            m_saveAllFolder = std::move(*folder);
        }
    } catch (const std::exception& failure) {
        report(failure.what());
    }
    writeTestReport();
}

void TfrmMain::FormDestroy() {
    m_frameSites.DoneFrame();
    try {
        m_settings.writeString("SaveAsFolder", m_saveAsFolder);
        m_settings.writeString("SaveAllFolder", m_saveAllFolder);
    } catch (const std::exception& failure) {
        report(failure.what());
    }
}

void TfrmMain::report(const std::string& message) const {
    MessageBoxA(m_window, message.c_str(), "Sarnika", MB_OK | MB_ICONERROR);
}

void TfrmMain::FormShow() {
    if (m_listBox.count() == 0) {
        const HMENU menu = GetMenu(m_window);
        EnableMenuItem(menu, ID_ACT_SAVE, MF_BYCOMMAND | MF_GRAYED);
        EnableMenuItem(menu, ID_ACT_SAVE_ALL, MF_BYCOMMAND | MF_GRAYED);
        MessageBoxA(m_window, kNothingFound, "Sorry", MB_OK | MB_ICONERROR);
    }
}

void TfrmMain::RefreshList() {
    const HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    m_frameSites.RefreshList();
    SetCursor(previous);
}

void TfrmMain::lbxFlashClick() {
    m_frameSites.lbxFlashClick();
    writeTestReport();
}

void TfrmMain::actRefreshExecute() {
    try {
        RefreshList();
        if (m_listBox.count() > 0) {
            m_listBox.select(0);
            lbxFlashClick();
        }
    } catch (const std::exception& failure) {
        report(failure.what());
    }
    writeTestReport();
}

void TfrmMain::command(int id) {
    switch (id) {
    case ID_ACT_REFRESH:
        actRefreshExecute();
        break;
    case ID_ACT_EXIT:
        PostMessageA(m_window, WM_CLOSE, 0, 0);
        break;
    case ID_ACT_WEB_SITE:
        winshell::ShellOpen(kWebSite, m_window);
        break;
    default:
        break;
    }
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

void TfrmMain::showShellMenu(const std::string& /*localFile*/, int /*line*/,
                             presenters::ViewPoint /*at*/) {
    // The list has its own menu (popFiles), so the frame never offers the shell's.
}

void TfrmMain::writeTestReport() const {
    const char* path = std::getenv("SARNIKA_TEST_REPORT"); // NOLINT(concurrency-mt-unsafe)
    if (path == nullptr || *path == '\0') {
        return;
    }
    std::ofstream report(path, std::ios::binary | std::ios::trunc);
    for (int line = 0; line < m_listBox.count(); ++line) {
        const auto length =
            SendMessageA(m_listBox.handle(), LB_GETTEXTLEN, static_cast<WPARAM>(line), 0);
        std::string text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, '\0');
        SendMessageA(m_listBox.handle(), LB_GETTEXT, static_cast<WPARAM>(line),
                     reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
        report << "line\t" << text << "\t"
               << m_frameSites.movies()->CacheFile(static_cast<std::size_t>(line)) << "\n";
    }
    report << "selected\t" << m_listBox.selectedIndex() << "\n";
    report << "status\t" << m_statusText << "\n";
    report << "preview\t" << m_previewed << "\n";
    report << "caption\t" << windowText(m_window) << "\n";
}

} // namespace sarnika::win32
