#pragma once

#include <memory>

#include <QMainWindow>
#include <QString>

#include "gui/ErrorGuard.h"
#include "gui/FrameCachedFlash.h"

class QAction;
class QFileDialog;
class QMenu;
class QTimer;

namespace sarnika {

class FileCopier;
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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createActions();
    void createMenus();
    QAction* makeAction(QObject* actList, const char* name, const QString& caption,
                        const QKeySequence& shortcut, void (TfrmMain::*handler)());

    void FormShow();
    void afterFirstShow();
    void FormDestroy();
    void fitOuterSize();
    void watchForFrame();
    void selectFirstMovie();
    void readFolderSettings();

    void actSaveExecute();
    void actSaveAllExecute();
    void actRefreshExecute();
    void actAboutExecute();
    void actExitExecute();
    void actShowMainExecute();
    void actWebSiteExecute();

    ErrorGuard m_guard;
    std::shared_ptr<SettingsStore> m_settings;
    std::shared_ptr<FileCopier> m_copier;

    QFileDialog* m_dlgSave = nullptr;
    TframeCachedFlash* m_frameSites = nullptr;
    TdfsBrowseDirectoryDlg* m_dlgBrowseDir = nullptr;
    QMenu* m_popFiles = nullptr;
    QTimer* m_afterFirstShow = nullptr;

    QAction* m_actSave = nullptr;
    QAction* m_actSaveAll = nullptr;
    QAction* m_actRefresh = nullptr;
    QAction* m_actAbout = nullptr;
    QAction* m_actExit = nullptr;
    QAction* m_actShowMain = nullptr;
    QAction* m_actWebSite = nullptr;
    QAction* m_miSave = nullptr;
    QAction* m_miSaveAll = nullptr;

    QString m_saveAsFolder;
    QString m_saveAllFolder;
    bool m_created = false;
    bool m_shown = false;
    bool m_sorryPending = false;
    QTimer* m_frameWatch = nullptr;
    int m_frameChecks = 0;
    bool m_destroyed = false;
};

} // namespace sarnika
