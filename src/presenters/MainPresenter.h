#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "presenters/ErrorGuard.h"
#include "presenters/FramePresenter.h"
#include "presenters/SplashPresenter.h"
#include "winsvc/FormPlacement.h"
#include "winsvc/RxTrayIcon.h"

namespace sarnika {
class FileCopier;
class SettingsStore;
} // namespace sarnika

namespace sarnika::presenters {

// A message box of the main window.
struct FormMessage {
    enum class Icon { Error, Question };
    enum class Buttons { Ok, YesNo };

    std::string name; // what the view may call the box
    Icon icon = Icon::Error;
    std::string title;
    std::string text;
    Buttons buttons = Buttons::Ok;
};

// The main window as its presenter sees it. Paths are in the local 8-bit encoding.
class MainView : public SplashPort {
public:
    // The application's error box, owned by the window.
    virtual void reportError(const std::string& text) = 0;
    // Shows a message box and waits; true when the user answered Yes.
    virtual bool showMessage(const FormMessage& message) = 0;
    // Runs the step from the event loop, once the events already waiting have been handled.
    virtual void runLater(std::function<void()> step) = 0;

    virtual bool windowMinimized() const = 0;
    virtual void showWindow() = 0;
    virtual void hideWindow() = 0;
    virtual void closeWindow() = 0;
    // Raises, activates and, when minimised, restores the window.
    virtual void bringToFront() = 0;
    // The form was shown: the view fits its placement to the window manager's frame.
    virtual void placementShown() = 0;

    // Greys or enables the File menu's "Save as..." and "Save all..." entries; their actions
    // and shortcuts stay as they are.
    virtual void setFileEntriesEnabled(bool enabled) = 0;

    // The "Save as..." dialog on the folder with the name filled in; the chosen file, or none.
    virtual std::optional<std::string> askSaveAsTarget(const std::string& folder,
                                                       const std::string& fileName) = 0;
    // The folder dialog of "Save all...": its selection, and the dialog itself (true: a folder
    // was chosen).
    virtual std::string browseSelection() const = 0;
    virtual void setBrowseSelection(const std::string& folder) = 0;
    virtual bool browseForFolder() = 0;
    virtual void showAbout() = 0;

    // One step of a long command: told how many steps are done; false once the user cancelled.
    using ProgressStep = std::function<bool(std::size_t done)>;
    // Runs a long command's work behind a progress display of `total` steps that the user can
    // cancel. The default shows nothing and never cancels.
    virtual void runWithProgress(const std::string& text, std::size_t total,
                                 const std::function<void(const ProgressStep& step)>& work);
};

// The desktop's folders and its handlers of folders and addresses.
class DesktopPort {
public:
    virtual ~DesktopPort() = default;
    // The user's documents folder; empty when it does not exist.
    virtual std::string personalFolder() const = 0;
    virtual std::string homeFolder() const = 0;
    virtual bool isFolder(const std::string& path) const = 0;
    // Hands a web or "mailto:" address to the desktop's handler.
    virtual void openAddress(const std::string& address) = 0;
    // Shows the folder in the desktop's file manager ("explore").
    virtual void openFolder(const std::string& folder) = 0;
};

// The main window: the movie browser frame, the menus, the save commands, the window's
// placement and its tray icon.
class TfrmMain {
public:
    // Where the window is in its life. It moves down the list, except that Shown, Minimized
    // and InTray take turns while the user minimises and restores it.
    enum class Stage {
        Built,     // constructed; the start-up has not run
        Started,   // the start-up ran: scanned, first movie previewed, folder settings read
        Showing,   // inside the form's show handler: error boxes wait until the window is up
        Shown,     // up on the desktop
        Minimized, // minimised, with no notification area to hide in or on the way back from it
        InTray,    // minimised and hidden; the tray icon is the way back
        Closed,    // the destroy handler has run
    };

    struct Ports {
        MainView& view;
        TframeCachedFlash& frameSites;
        DesktopPort& desktop;
        SettingsStore& settings;
        FileCopier& copier;
        PlacementWindow& placementWindow;
        IniStore& placementStore;
        NotificationArea& trayArea;
        std::shared_ptr<const TrayImage> trayImage;
        TrayMenu* trayMenu = nullptr;
    };

    // Reads the placement the window had (the placement component's Loaded) and creates the
    // tray icon, inactive.
    explicit TfrmMain(Ports ports);
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // The start-up: scans the cache behind the splash window, previews the first movie and
    // reads the folder settings. Runs once; an error is reported and the window can still be
    // shown.
    void FormCreate();
    // The window was shown; `spontaneous` when the window system showed it again by itself.
    void WindowShown(bool spontaneous);
    // The window's state (minimised, maximised, normal) changed.
    void WindowStateChanged();
    // Asks the form whether it may close; false refuses the close.
    bool WindowCloseQuery();
    // Runs the form's destroy handler, once.
    void WindowDestroyed();

    void actSaveExecute();
    void actSaveAllExecute();
    void actRefreshExecute();
    void actAboutExecute();
    void actExitExecute();
    void actShowMainExecute();
    void actWebSiteExecute();

    // Errors of the window services: they wait while the window is half shown.
    void reportLater(const std::string& message);

    Stage stage() const { return m_stage; }
    const std::string& saveAsFolder() const { return m_saveAsFolder; }
    const std::string& saveAllFolder() const { return m_saveAllFolder; }
    // The first of the folders that exists; the home folder when none does.
    std::string firstExistingFolder(const std::vector<std::string>& candidates) const;
    TFormPlacement& plcmntForm() { return *m_plcmntForm; }
    TRxTrayIcon& trayIco() { return *m_trayIco; }
    const ErrorGuard& guard() const { return m_guard; }

    static std::string noMoviesText();

private:
    void FormShow();
    void FormDestroy();
    void sayNoMovies();
    void reportPending();
    void dispatchAppEvents();
    void AppEventsMinimize();
    void AppEventsRestore();
    void trayIcoClick();
    void selectFirstMovie();
    void readFolderSettings();

    MainView& m_view;
    TframeCachedFlash& m_frameSites;
    DesktopPort& m_desktop;
    SettingsStore& m_settings;
    FileCopier& m_copier;
    NotificationArea& m_trayArea;
    ErrorGuard m_guard;

    Stage m_stage = Stage::Built;
    std::string m_saveAsFolder;
    std::string m_saveAllFolder;
    std::vector<std::string> m_pendingReports;

    // The placement component chains the form's own handlers held here; it goes first.
    FormEvents m_events;
    std::unique_ptr<TFormPlacement> m_plcmntForm;
    std::unique_ptr<TRxTrayIcon> m_trayIco;
};

} // namespace sarnika::presenters
