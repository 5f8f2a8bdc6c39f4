// The main window's side of its presenter: the splash window, the message boxes, the dialogs,
// the window's showing and hiding, and the desktop's folders and handlers.
#include <cstdlib>
#include <fstream>

#include <windows.h>
// The shell's header needs <windows.h> first.
#include <shellapi.h>
#include <shlobj.h>

#include "platform/windows/WinShell.h"
#include "win32/AboutBox.h"
#include "win32/Dialogs.h"
#include "win32/MainForm.h"
#include "win32/SplashWindow.h"
#include "win32/resource.h"

namespace sarnika::win32 {
namespace {

constexpr UINT kRunLater = WM_APP + 1;

// One line of the report: line breaks become blanks.
std::string oneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

std::string windowText(HWND window) {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Hands the file to the shell with the verb and does not wait for it.
void shellExecute(HWND owner, const char* verb, const std::string& file,
                  const std::string& directory) {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT;
    info.hwnd = owner;
    info.lpVerb = verb;
    info.lpFile = file.c_str();
    info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
    info.nShow = SW_SHOWNORMAL;
    static_cast<void>(ShellExecuteExA(&info));
    if (info.hProcess != nullptr) {
        CloseHandle(info.hProcess);
    }
}

} // namespace

void TfrmMain::showSplash() {
    m_splash = std::make_unique<SplashWindow>(m_instance, m_icon);
    m_splash->show(presenters::TSplashWindow::analyzingMessage());
}

void TfrmMain::closeSplash() {
    m_splash.reset();
}

void TfrmMain::reportError(const std::string& text) {
    m_lastMessage = "Sarnika: " + text;
    writeTestReport();
    MessageBoxA(m_window, text.c_str(), "Sarnika", MB_OK | MB_ICONERROR);
}

bool TfrmMain::showMessage(const presenters::FormMessage& message) {
    using presenters::FormMessage;
    m_lastMessage = message.title + ": " + message.text;
    writeTestReport();
    const UINT icon = message.icon == FormMessage::Icon::Question ? MB_ICONQUESTION : MB_ICONERROR;
    const UINT buttons = message.buttons == FormMessage::Buttons::YesNo ? MB_YESNO : MB_OK;
    return MessageBoxA(m_window, message.text.c_str(), message.title.c_str(), icon | buttons) ==
           IDYES;
}

void TfrmMain::runLater(std::function<void()> step) {
    m_later.add(std::move(step));
}

void TfrmMain::postRunNextLater() {
    PostMessageA(m_window, kRunLater, 0, 0);
}

void TfrmMain::runNextLater() {
    m_later.runNext();
}

bool TfrmMain::windowMinimized() const {
    return IsIconic(m_window) != FALSE;
}

void TfrmMain::showWindow() {
    ShowWindow(m_window, SW_SHOW);
}

void TfrmMain::hideWindow() {
    ShowWindow(m_window, SW_HIDE);
}

void TfrmMain::closeWindow() {
    PostMessageA(m_window, WM_CLOSE, 0, 0);
}

void TfrmMain::bringToFront() {
    winshell::BringWindowToFront(m_window, true);
}

// The entries only: the actions and their shortcuts stay as they are.
void TfrmMain::setFileEntriesEnabled(bool enabled) {
    HMENU menu = GetMenu(m_window);
    const UINT state = MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED);
    EnableMenuItem(menu, ID_ACT_SAVE, state);
    EnableMenuItem(menu, ID_ACT_SAVE_ALL, state);
    DrawMenuBar(m_window);
}

std::optional<std::string> TfrmMain::askSaveAsTarget(const std::string& folder,
                                                     const std::string& fileName) {
    return askSaveFileName(m_window, folder, fileName);
}

// A cancelled run leaves no selection.
bool TfrmMain::browseForFolder() {
    const std::optional<std::string> chosen = win32::browseForFolder(m_window, m_browseSelection);
    m_browseSelection = chosen.value_or(std::string());
    return chosen.has_value();
}

void TfrmMain::showAbout() {
    AboutBox about(m_instance, [this](const std::string& address) { openAddress(address); });
    about.exec(m_window);
}

std::string TfrmMain::personalFolder() const {
    return winshell::GetPersonalFolder();
}

std::string TfrmMain::homeFolder() const {
    return winshell::GetSpecialFolderPath(CSIDL_PROFILE);
}

bool TfrmMain::isFolder(const std::string& path) const {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void TfrmMain::openAddress(const std::string& address) {
    winshell::ShellOpen(address, m_window);
}

void TfrmMain::openFolder(const std::string& folder) {
    shellExecute(m_window, "explore", folder, folder);
}

void TfrmMain::writeTestReport() const {
    const char* path = std::getenv("SARNIKA_TEST_REPORT"); // NOLINT(concurrency-mt-unsafe)
    if (path == nullptr || *path == '\0' || m_presenter == nullptr) {
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
    const auto entryState = [this](UINT command) {
        return (GetMenuState(GetMenu(m_window), command, MF_BYCOMMAND) & MF_GRAYED) != 0
                   ? "greyed"
                   : "enabled";
    };
    report << "selected\t" << m_listBox.selectedIndex() << "\n";
    report << "status\t" << m_statusText << "\n";
    report << "preview\t" << m_previewed << "\n";
    report << "fileEntries\t" << entryState(ID_ACT_SAVE) << "\t" << entryState(ID_ACT_SAVE_ALL)
           << "\n";
    report << "message\t" << oneLine(m_lastMessage) << "\n";
    report << "saveAllFolder\t" << m_presenter->saveAllFolder() << "\n";
    report << "visible\t" << (IsWindowVisible(m_window) != FALSE ? 1 : 0) << "\n";
    report << "trayIcon\t" << (m_presenter->trayIco().added() ? 1 : 0) << "\n";
    report << "focus\t"
           << (GetFocus() == m_listBox.handle() ? "list"
               : GetFocus() == m_window         ? "form"
                                                : "other")
           << "\n";
    report << "caption\t" << windowText(m_window) << "\n";
}

} // namespace sarnika::win32
