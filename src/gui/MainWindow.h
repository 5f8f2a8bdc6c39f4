#pragma once

#include <memory>

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include "gui/ErrorGuard.h"
#include "gui/FrameCachedFlash.h"
#include "winsvc/FormPlacement.h"
#include "winsvc/RxTrayIcon.h"

class QAction;
class QFileDialog;
class QMenu;
class QTimer;

namespace sarnika {

class FileCopier;
class QtPlacementWindow;
class QtTrayMenu;
class SettingsStore;
class TdfsBrowseDirectoryDlg;

// The main window: the movie browser frame, the menus, and the save commands.
class TfrmMain : public QMainWindow {
    Q_OBJECT

public:
    // What the window reaches the system through; empty members take the real thing.
    struct Ports {
        PreviewFactory makePreview;
        std::shared_ptr<SettingsStore> settings;
        std::shared_ptr<FileCopier> copier;
        std::shared_ptr<IniStore> placementStore;
        std::shared_ptr<NotificationArea> trayArea;
    };

    TfrmMain(UrlCachePort& cache, const LocalTimePort& localTime, Ports ports = {},
             QWidget* parent = nullptr);
    ~TfrmMain() override;
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // The start-up: scans the cache behind the splash window, previews the first movie and
    // reads the folder settings. Call once after construction and before show(); an error
    // is reported and the window can still be shown.
    void FormCreate();

    TframeCachedFlash* frameSites() const { return m_frameSites; }
    QFileDialog* dlgSave() const { return m_dlgSave; }
    TdfsBrowseDirectoryDlg* dlgBrowseDir() const { return m_dlgBrowseDir; }
    QMenu* popFiles() const { return m_popFiles; }
    const ErrorGuard& guard() const { return m_guard; }
    QString saveAsFolder() const { return m_saveAsFolder; }
    QString saveAllFolder() const { return m_saveAllFolder; }
    TFormPlacement* plcmntForm() const { return m_plcmntForm.get(); }
    TRxTrayIcon* trayIco() const { return m_trayIco.get(); }
    QMenu* popTray() const { return m_popTray; }
    // Minimised with the window hidden: the tray icon is the way back.
    bool hiddenToTray() const { return m_stage == Stage::InTray; }
    // Placed at its size and position, with the window manager's frame if one answered in time.
    bool placementSettled() const;

signals:
    // The window was closed (its close was not refused): the program ends.
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Where the window is in its life. It moves down the list, except that Shown, Minimized and
    // InTray take turns while the user minimises and restores it.
    enum class Stage {
        Built,     // constructed; the start-up has not run
        Started,   // the start-up ran: scanned, first movie previewed, folder settings read
        Showing,   // inside the form's show handler: error boxes wait until the window is up
        Shown,     // up on the desktop
        Minimized, // minimised, with no notification area to hide in or on the way back from it
        InTray,    // minimised and hidden; the tray icon is the way back
        Closed,    // the destroy handler has run
    };

    void createActions();
    void createMenus();
    QAction* makeAction(QObject* actList, const char* name, const QString& caption,
                        const QKeySequence& shortcut, void (TfrmMain::*handler)());

    void createTrayIcon();
    void reportLater(const std::string& message);
    void runLater(const char* method);
    // Run later, from the event loop (runLater).
    Q_INVOKABLE void reportPending();
    Q_INVOKABLE void sayNoMovies();
    Q_INVOKABLE void dispatchAppEvents();
    void runDestroy();

    void FormShow();
    void FormDestroy();
    void startFrameWatch();
    void watchForFrame();
    void AppEventsMinimize();
    void AppEventsRestore();
    void trayIcoClick();
    void selectFirstMovie();
    void readFolderSettings();

    void actSaveExecute();
    void actSaveAllExecute();
    void actExportWarcExecute();
    void actRefreshExecute();
    void actAboutExecute();
    void actExitExecute();
    void actShowMainExecute();
    void actWebSiteExecute();

    ErrorGuard m_guard;
    std::shared_ptr<SettingsStore> m_settings;
    std::shared_ptr<FileCopier> m_copier;

    QFileDialog* m_dlgSave = nullptr;
    QFileDialog* m_dlgExport = nullptr;
    TframeCachedFlash* m_frameSites = nullptr;
    TdfsBrowseDirectoryDlg* m_dlgBrowseDir = nullptr;
    QMenu* m_popFiles = nullptr;

    QAction* m_actSave = nullptr;
    QAction* m_actSaveAll = nullptr;
    QAction* m_actExportWarc = nullptr;
    QAction* m_actRefresh = nullptr;
    QAction* m_actAbout = nullptr;
    QAction* m_actExit = nullptr;
    QAction* m_actShowMain = nullptr;
    QAction* m_actWebSite = nullptr;
    QAction* m_miSave = nullptr;
    QAction* m_miSaveAll = nullptr;

    QString m_saveAsFolder;
    QString m_saveAllFolder;
    Stage m_stage = Stage::Built;
    QTimer* m_frameWatch = nullptr;
    int m_frameChecks = 0;
    QStringList m_pendingReports;

    // The placement component chains the form's own handlers held here; it goes first.
    FormEvents m_events;
    std::shared_ptr<IniStore> m_placementStore;
    std::unique_ptr<QtPlacementWindow> m_placementWindow;
    std::unique_ptr<TFormPlacement> m_plcmntForm;

    QMenu* m_popTray = nullptr;
    std::unique_ptr<QtTrayMenu> m_popTrayMenu;
    std::shared_ptr<NotificationArea> m_trayArea;
    std::unique_ptr<TRxTrayIcon> m_trayIco;
};

} // namespace sarnika
