#pragma once

#include <functional>
#include <memory>

#include <QMainWindow>
#include <QString>

#include "gui/ErrorGuard.h"
#include "gui/FrameCachedFlash.h"
#include "presenters/MainPresenter.h"
#include "presenters/StepQueue.h"
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
class TSplashGuard;

// The main window: the movie browser frame, the menus, and the save commands. A view of the
// main window's presenter, which holds what the form does.
class TfrmMain : public QMainWindow, private presenters::MainView, private presenters::DesktopPort {
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
    // Made when first asked for.
    QFileDialog* dlgSave();
    TdfsBrowseDirectoryDlg* dlgBrowseDir() const { return m_dlgBrowseDir; }
    QMenu* popFiles() const { return m_popFiles; }
    const ErrorGuard& guard() const { return m_guard; }
    QString saveAsFolder() const;
    QString saveAllFolder() const;
    TFormPlacement* plcmntForm() const { return &m_presenter->plcmntForm(); }
    TRxTrayIcon* trayIco() const { return &m_presenter->trayIco(); }
    QMenu* popTray() const { return m_popTray; }
    // Minimised with the window hidden: the tray icon is the way back.
    bool hiddenToTray() const { return stage() == Stage::InTray; }
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
    using Stage = presenters::TfrmMain::Stage;

    Stage stage() const { return m_presenter ? m_presenter->stage() : Stage::Built; }

    void createActions();
    void createMenus();
    QAction* makeAction(QObject* actList, const char* name, const QString& caption,
                        const QKeySequence& shortcut, std::function<void()> handler);

    void createTrayMenu();
    // Runs the first of the steps waiting in m_later.
    Q_INVOKABLE void runNextLater();
    void postRunNextLater();
    void startFrameWatch();
    void watchForFrame();
    QFileDialog* dlgExport();
    void actExportWarcExecute();

    // The view's side of the presenter.
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
    void placementShown() override;
    void setFileEntriesEnabled(bool enabled) override;
    std::optional<std::string> askSaveAsTarget(const std::string& folder,
                                               const std::string& fileName) override;
    std::string browseSelection() const override;
    void setBrowseSelection(const std::string& folder) override;
    bool browseForFolder() override;
    void showAbout() override;
    void runWithProgress(const std::string& text, std::size_t total,
                         const std::function<void(const ProgressStep& step)>& work) override;
    std::string personalFolder() const override;
    std::string homeFolder() const override;
    bool isFolder(const std::string& path) const override;
    void openAddress(const std::string& address) override;
    void openFolder(const std::string& folder) override;

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

    QTimer* m_frameWatch = nullptr;
    int m_frameChecks = 0;
    // The placement has been applied at the first showing: later showings watch for the frame.
    bool m_placementShown = false;
    // Each step wakes the window with a queued call of runNextLater; Qt drops those with it.
    presenters::StepQueue m_later{[this] {
        postRunNextLater();
    }};
    std::unique_ptr<TSplashGuard> m_splash;

    std::shared_ptr<IniStore> m_placementStore;
    std::unique_ptr<QtPlacementWindow> m_placementWindow;
    QMenu* m_popTray = nullptr;
    std::unique_ptr<QtTrayMenu> m_popTrayMenu;
    std::shared_ptr<NotificationArea> m_trayArea;
    // Last: it goes first, while the ports it holds are still there.
    std::unique_ptr<presenters::TfrmMain> m_presenter;
};

} // namespace sarnika
