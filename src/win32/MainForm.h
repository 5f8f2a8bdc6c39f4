#pragma once

#include <functional>
#include <memory>
#include <string>

#include <windows.h>

#include "app/SaveMovies.h"
#include "cache/CacheAnalyzer.h"
#include "presenters/FramePresenter.h"
#include "presenters/MainPresenter.h"
#include "presenters/StepQueue.h"
#include "win32/Registry.h"
#include "win32/WindowPorts.h"

namespace sarnika::win32 {

class SplashWindow;
class Win32NotificationArea;
class Win32TrayMenu;

// The main window "Sarnika" with its movie browser frame: the movie list on the left, a
// splitter, the preview pane with the selected movie's facts and a "Play" link that opens it
// with the program the system has for Flash movies, and a status bar; the menus, the
// accelerators of the window's actions and the tray icon. A view of the frame's and the main
// window's presenters, which hold what the form does.
class TfrmMain final : private presenters::FrameView,
                       private presenters::MainView,
                       private presenters::DesktopPort {
public:
    TfrmMain(HINSTANCE instance, UrlCachePort& cache, const LocalTimePort& localTime);
    ~TfrmMain() override;
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // Creates the window, runs the start-up (scan behind the splash window) and shows the
    // window as `show` asks.
    bool create(int show);
    HWND handle() const { return m_window; }
    HACCEL accelerators() const { return m_accelerators; }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK splitterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool registerClasses(HICON icon) const;
    void createControls();
    void layout();
    void dragSplitter();
    void command(int id);
    void contextMenu(HWND control, LPARAM where);
    void stateChanged();
    void runNextLater();
    void postRunNextLater();
    // Where a test asks for it (SARNIKA_TEST_REPORT), the window's state as lines of text.
    void writeTestReport() const;

    // The frame's view.
    MovieListBox& listBox() override { return m_listBox; }
    void moviesListed() override {}
    void showStatus(const std::string& text) override;
    void navigatePreview(const std::string& localFile) override;
    void showShellMenu(const std::string& localFile, int line, presenters::ViewPoint at) override;

    // The main window's view.
    void showSplash() override;
    void closeSplash() override;
    void reportError(const std::string& text) override;
    bool showMessage(const presenters::FormMessage& message) override;
    void runLater(std::function<void()> step) override;
    bool windowMinimized() const override;
    void showWindow() override;
    void hideWindow() override;
    void closeWindow() override;
    void bringToFront() override;
    void placementShown() override {}
    void setFileEntriesEnabled(bool enabled) override;
    std::optional<std::string> askSaveAsTarget(const std::string& folder,
                                               const std::string& fileName) override;
    std::string browseSelection() const override { return m_browseSelection; }
    void setBrowseSelection(const std::string& folder) override { m_browseSelection = folder; }
    bool browseForFolder() override;
    void showAbout() override;

    // The desktop.
    std::string personalFolder() const override;
    std::string homeFolder() const override;
    bool isFolder(const std::string& path) const override;
    void openAddress(const std::string& address) override;
    void openFolder(const std::string& folder) override;

    HINSTANCE m_instance;
    HICON m_icon = nullptr;
    HWND m_window = nullptr;
    HWND m_splitter = nullptr;
    HWND m_preview = nullptr;
    HWND m_facts = nullptr;
    HWND m_play = nullptr;
    HWND m_status = nullptr;
    HMENU m_popups = nullptr;
    HACCEL m_accelerators = nullptr;
    HFONT m_font = nullptr;
    ListBoxControl m_listBox;
    int m_listWidth = 193;
    bool m_dragging = false;
    bool m_minimized = false;
    std::string m_statusText;
    std::string m_previewed;
    std::string m_browseSelection;
    std::string m_lastMessage;
    // Each step posts the window a message that runs runNextLater.
    presenters::StepQueue m_later{[this] {
        postRunNextLater();
    }};
    std::unique_ptr<SplashWindow> m_splash;

    presenters::TframeCachedFlash m_frameSites;
    // The folders of "Save as..." and "Save all...", kept in the settings key.
    RegistrySettings m_settings{"Software\\Quillmoor\\Sarnika"};
    LocalFileCopier m_copier;
    RegistryIniStore m_iniStore;
    Win32PlacementWindow m_placementWindow;
    std::unique_ptr<Win32NotificationArea> m_trayArea;
    std::unique_ptr<Win32TrayMenu> m_trayMenu;
    // Last: it goes first, while the ports it holds are still there.
    std::unique_ptr<presenters::TfrmMain> m_presenter;
};

} // namespace sarnika::win32
