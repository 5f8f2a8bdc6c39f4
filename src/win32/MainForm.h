#pragma once

#include <memory>
#include <string>

#include <windows.h>

#include "cache/CacheAnalyzer.h"
#include "movies/MovieList.h"
#include "presenters/FramePresenter.h"
#include "win32/Registry.h"
#include "winsvc/FormPlacement.h"

namespace sarnika::win32 {

// The list box of the movie browser frame, as the movie list fills and reads it.
class ListBoxControl final : public MovieListBox {
public:
    void attach(HWND list) { m_list = list; }
    HWND handle() const { return m_list; }

    void beginUpdate() override;
    void endUpdate() override;
    void clear() override;
    void addLine(const std::string& text) override;
    int count() const override;
    int selectedIndex() const override;
    void select(int index) override;

private:
    HWND m_list = nullptr;
};

// A window's placement as the placement passes keep it: the system's own placement record.
class Win32PlacementWindow final : public PlacementWindow {
public:
    void attach(HWND window) { m_window = window; }
    bool hasHandle() const override { return m_window != nullptr; }
    WindowPlacement placement() const override;
    void setPlacement(const WindowPlacement& placement) override;
    bool isVisible() const override;
    bool applicationMinimized() const override;
    int systemMetric(SystemMetric metric) const override;
    int pixelsPerInch() const override;
    void postMinimize() override;
    bool isMainForm() const override { return true; }
    PlacementRect bounds() const override;
    FormBorderStyle borderStyle() const override { return FormBorderStyle::Sizeable; }
    FormPosition position() const override { return m_position; }
    void setPosition(FormPosition position) override { m_position = position; }
    void setWindowState(WindowState state) override;
    void update() override;

private:
    HWND m_window = nullptr;
    FormPosition m_position = FormPosition::DesktopCenter;
};

// The main window "Sarnika" with its movie browser frame: the movie list on the left, a
// splitter, the preview pane with the selected movie's facts and a "Play" link that opens it
// with the program the system has for Flash movies, and a status bar; the menus and the
// accelerators of the window's actions.
class TfrmMain final : private presenters::FrameView {
public:
    TfrmMain(HINSTANCE instance, UrlCachePort& cache, const LocalTimePort& localTime);
    ~TfrmMain();
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // Creates the window, scans the caches and shows the window as `show` asks.
    bool create(int show);
    HWND handle() const { return m_window; }
    HACCEL accelerators() const { return m_accelerators; }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK splitterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    void createControls();
    void layout();
    // The frame's view: its presenter holds the movie list and the scan.
    MovieListBox& listBox() override { return m_listBox; }
    void moviesListed() override {}
    void showStatus(const std::string& text) override;
    void navigatePreview(const std::string& localFile) override;
    void showShellMenu(const std::string& localFile, int line, presenters::ViewPoint at) override;

    void FormCreate();
    void FormShow();
    void FormDestroy();
    void RefreshList();
    void lbxFlashClick();
    void actRefreshExecute();
    void command(int id);
    // The error guard's message box: the error's own text.
    void report(const std::string& message) const;
    // Where a test asks for it (SARNIKA_TEST_REPORT), the window's state as lines of text.
    void writeTestReport() const;

    HINSTANCE m_instance;
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
    std::string m_statusText;
    std::string m_previewed;
    presenters::TframeCachedFlash m_frameSites;
    // The folders of "Save as..." and "Save all...", kept in the settings key.
    RegistrySettings m_settings{"Software\\Quillmoor\\Sarnika"};
    std::string m_saveAsFolder;
    std::string m_saveAllFolder;
    FormEvents m_events;
    RegistryIniStore m_iniStore;
    Win32PlacementWindow m_placementWindow;
    std::unique_ptr<TFormPlacement> m_plcmntForm;
};

} // namespace sarnika::win32
