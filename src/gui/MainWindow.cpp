#include "gui/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include "app/SaveMovies.h"
#include "gui/AboutBox.h"
#include "gui/BrowseDirectoryDlg.h"
#include "gui/Settings.h"
#include "gui/ShellFunctions.h"
#include "gui/SplashWindow.h"
#include "gui/TrayIcon.h"
#include "gui/WindowPlacement.h"

namespace sarnika {
namespace {

// Two blanks before "cache" on purpose: users know the message word for word; keep it so.
const QString kNoMoviesText =
    QStringLiteral("No cached FLASH movies were found in the  cache, sorry!");
const std::string kSaveAsFolderValue = "SaveAsFolder";
const std::string kSaveAllFolderValue = "SaveAllFolder";

QString fromLocal(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string toLocal(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The first of the folders that exists; the home folder when none does.
QString firstExistingFolder(const QStringList& candidates) {
    for (const QString& folder : candidates) {
        if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
            return folder;
        }
    }
    return QDir::homePath();
}

// A menu entry of its own for an action: it shows the action's caption and shortcut and runs
// it, so that greying the entry leaves the action and its shortcut working. The entry's copy
// of the shortcut only acts while its menu has the focus.
QAction* entryFor(QAction* action, const char* name, QObject* parent) {
    auto* entry = new QAction(action->text(), parent);
    entry->setObjectName(QString::fromLatin1(name));
    entry->setShortcut(action->shortcut());
    entry->setShortcutContext(Qt::WidgetShortcut);
    QObject::connect(entry, &QAction::triggered, action, [action] { action->trigger(); });
    return entry;
}

QAction* separator(const char* name, QObject* parent) {
    auto* line = new QAction(parent);
    line->setObjectName(QString::fromLatin1(name));
    line->setSeparator(true);
    return line;
}

// A file dialog for saving, wide enough that sizes, types and dates show whole; the name takes
// the rest.
QFileDialog* makeSaveDialog(QWidget* parent, const QString& caption, const QString& filter,
                            const QString& suffix) {
    auto* dialog = new QFileDialog(parent, caption);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setNameFilter(filter);
    dialog->setDefaultSuffix(suffix);
    dialog->setSizeGripEnabled(true);
    dialog->resize(760, 440);
    if (auto* files = dialog->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* columns = files->header();
        columns->setStretchLastSection(false);
        columns->setSectionResizeMode(QHeaderView::ResizeToContents);
        columns->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    return dialog;
}

} // namespace

TfrmMain::TfrmMain(UrlCachePort& cache, const LocalTimePort& localTime, Ports ports,
                   QWidget* parent)
    : QMainWindow(parent), m_guard(this), m_settings(std::move(ports.settings)),
      m_copier(std::move(ports.copier)) {
    if (!m_settings) {
        m_settings = std::make_shared<QtSettingsStore>();
    }
    if (!m_copier) {
        m_copier = std::make_shared<LocalFileCopier>();
    }
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Sarnika"));

    m_dlgSave = makeSaveDialog(this, QStringLiteral("Save Flash movie as..."),
                               QStringLiteral("Flash movies (*.swf)"), QStringLiteral("swf"));
    m_dlgSave->setObjectName(QStringLiteral("dlgSave"));
    m_dlgExport = makeSaveDialog(this, QStringLiteral("Export web archive"),
                                 QStringLiteral("Web archives (*.warc.gz *.warc)"),
                                 QStringLiteral("warc.gz"));
    m_dlgExport->setObjectName(QStringLiteral("dlgExport"));

    m_frameSites = new TframeCachedFlash(
        cache, localTime, m_guard, ports.makePreview ? ports.makePreview : makeWebPreview, this);
    m_frameSites->setObjectName(QStringLiteral("frameSites"));
    setCentralWidget(m_frameSites);

    m_dlgBrowseDir = new TdfsBrowseDirectoryDlg(this);
    m_dlgBrowseDir->setObjectName(QStringLiteral("dlgBrowseDir"));
    m_dlgBrowseDir->setTitle(QStringLiteral("Save all..."));
    m_dlgBrowseDir->setCaption(QStringLiteral("Select directory to save movies..."));

    createActions();
    createMenus();

    // An X11 window manager frames the window after it is mapped, and Qt sends no event when
    // the frame's extents arrive; the outer geometry is fitted again once they are known.
    m_frameWatch = new QTimer(this);
    connect(m_frameWatch, &QTimer::timeout, this, [this] { watchForFrame(); });

    resize(550, 437);

    m_events.onShow = [this] {
        FormShow();
    };
    m_events.onDestroy = [this] {
        FormDestroy();
    };
    m_placementStore =
        ports.placementStore ? std::move(ports.placementStore) : std::make_shared<QtIniStore>();
    m_placementWindow = std::make_unique<QtPlacementWindow>(
        this, QSize(550, 437), [this] { return m_stage == Stage::InTray || isMinimized(); });
    m_plcmntForm = std::make_unique<TFormPlacement>(
        m_events, *m_placementWindow, *m_placementStore,
        [this](const std::string& message) { reportLater(message); });
    m_plcmntForm->IniFileName = "Software\\Quillmoor\\Sarnika";
    m_plcmntForm->IniSection = "Placement";
    m_plcmntForm->UseRegistry = true;
    m_plcmntForm->Loaded();

    m_trayArea =
        ports.trayArea ? std::move(ports.trayArea) : std::make_shared<QtNotificationArea>();
    createTrayIcon();
}

TfrmMain::~TfrmMain() {
    runDestroy();
}

void TfrmMain::runDestroy() {
    if (m_stage == Stage::Closed) {
        return;
    }
    m_stage = Stage::Closed;
    m_guard.run([this] {
        if (m_events.onDestroy) {
            m_events.onDestroy();
        }
    });
}

QAction* TfrmMain::makeAction(QObject* actList, const char* name, const QString& caption,
                              const QKeySequence& shortcut, void (TfrmMain::*handler)()) {
    auto* action = new QAction(caption, actList);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this,
            m_guard.wrap([this, handler] { (this->*handler)(); }));
    // Shortcuts act only for actions that belong to a shown widget.
    QWidget::addAction(action);
    return action;
}

void TfrmMain::createActions() {
    auto* actList = new QObject(this);
    actList->setObjectName(QStringLiteral("actList"));
    m_actSave = makeAction(actList, "actSave", QStringLiteral("Save as..."),
                           QKeySequence(Qt::Key_S), &TfrmMain::actSaveExecute);
    m_actSaveAll = makeAction(actList, "actSaveAll", QStringLiteral("Save all..."),
                              QKeySequence(Qt::CTRL | Qt::Key_S), &TfrmMain::actSaveAllExecute);
    m_actExportWarc = makeAction(actList, "actExportWarc", QStringLiteral("Export web archive..."),
                                 QKeySequence(), &TfrmMain::actExportWarcExecute);
    m_actRefresh = makeAction(actList, "actRefresh", QStringLiteral("Refresh"),
                              QKeySequence(Qt::CTRL | Qt::Key_R), &TfrmMain::actRefreshExecute);
    m_actAbout = makeAction(actList, "actAbout", QStringLiteral("About"),
                            QKeySequence(Qt::ALT | Qt::Key_F1), &TfrmMain::actAboutExecute);
    m_actExit = makeAction(actList, "actExit", QStringLiteral("Exit"),
                           QKeySequence(Qt::ALT | Qt::Key_F4), &TfrmMain::actExitExecute);
    m_actShowMain = makeAction(actList, "actShowMain", QStringLiteral("Restore"), QKeySequence(),
                               &TfrmMain::actShowMainExecute);
    m_actWebSite = makeAction(actList, "actWebSite", QStringLiteral("Visit our Web-Site"),
                              QKeySequence(), &TfrmMain::actWebSiteExecute);
}

void TfrmMain::createMenus() {
    QMenuBar* menuMain = menuBar();
    menuMain->setObjectName(QStringLiteral("menuMain"));

    // The title's own S is left out: S belongs to "Save as...".
    QMenu* miFile = menuMain->addMenu(QStringLiteral("File"));
    miFile->setObjectName(QStringLiteral("miFile"));
    m_miSave = entryFor(m_actSave, "miSave", miFile);
    m_miSaveAll = entryFor(m_actSaveAll, "miSaveAll", miFile);
    miFile->addActions({m_miSave, m_miSaveAll, entryFor(m_actExportWarc, "miExportWarc", miFile),
                        separator("N4", miFile), entryFor(m_actRefresh, "miRefresh", miFile),
                        separator("N1", miFile), entryFor(m_actExit, "miExit", miFile)});

    QMenu* help1 = menuMain->addMenu(QStringLiteral("Help"));
    help1->setObjectName(QStringLiteral("Help1"));
    help1->addActions(
        {entryFor(m_actWebSite, "VisitourWebSite1", help1), entryFor(m_actAbout, "About1", help1)});

    m_popFiles = new QMenu(this);
    m_popFiles->setObjectName(QStringLiteral("popFiles"));
    m_popFiles->addActions(
        {entryFor(m_actSave, "Saveas1", m_popFiles), entryFor(m_actSaveAll, "Saveall2", m_popFiles),
         separator("N6", m_popFiles), entryFor(m_actRefresh, "Refresh2", m_popFiles)});
    QListWidget* list = m_frameSites->lbxFlash();
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& pos) {
        m_popFiles->popup(list->viewport()->mapToGlobal(pos));
    });
}

void TfrmMain::FormCreate() {
    if (m_stage != Stage::Built) {
        return;
    }
    m_stage = Stage::Started;
    m_guard.run([this] {
        TSplashGuard splash;
        // Whatever happens while scanning, the splash goes and the window comes up.
        const auto finish = qScopeGuard([this, &splash] {
            splash.close();
            BringWindowToFront(this, true);
        });
        m_frameSites->InitFrame();
        m_frameSites->RefreshList();
        selectFirstMovie();
        m_saveAsFolder = GetPersonalFolder();
        m_saveAllFolder = m_saveAsFolder;
        readFolderSettings();
        m_dlgBrowseDir->setSelection(GetPersonalFolder());
    });
}

void TfrmMain::selectFirstMovie() {
    MovieListBox& list = m_frameSites->listBox();
    if (list.count() > 0) {
        list.select(0);
        m_frameSites->lbxFlashClick();
    }
}

void TfrmMain::readFolderSettings() {
    if (const auto value = m_settings->readString(kSaveAsFolderValue)) {
        m_saveAsFolder = fromLocal(*value);
    }
    if (const auto value = m_settings->readString(kSaveAllFolderValue)) {
        m_saveAllFolder = fromLocal(*value);
    }
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The window system's own showings (after an iconified window comes back) and the return
    // from the tray are no showings of the form; a closed form is not shown again.
    if (event->spontaneous() || m_stage == Stage::InTray || m_stage == Stage::Closed) {
        return;
    }
    const bool firstShowing = m_stage == Stage::Built || m_stage == Stage::Started;
    m_stage = Stage::Showing;
    m_guard.run([this] {
        if (m_events.onShow) {
            m_events.onShow();
        }
    });
    m_stage = Stage::Shown;
    m_placementWindow->fitOuterGeometry();
    startFrameWatch();
    // The box of an empty list belongs on top of the window: it opens once the window is up.
    if (firstShowing && m_frameSites->listBox().count() == 0) {
        runLater("sayNoMovies");
    }
}

void TfrmMain::FormShow() {
    if (m_frameSites->listBox().count() > 0) {
        return;
    }
    m_miSave->setEnabled(false);
    m_miSaveAll->setEnabled(false);
}

void TfrmMain::sayNoMovies() {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Sorry"), kNoMoviesText, QMessageBox::Ok,
                    this);
    box.setObjectName(QStringLiteral("sorryMessage"));
    m_guard.run([&box] { box.exec(); });
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    m_guard.run([this, &canClose] {
        if (m_events.onCloseQuery) {
            m_events.onCloseQuery(canClose);
        }
    });
    if (!canClose) {
        event->ignore();
        return;
    }
    runDestroy();
    QMainWindow::closeEvent(event);
    emit closed();
}

void TfrmMain::FormDestroy() {
    m_frameSites->DoneFrame();
    m_settings->writeString(kSaveAsFolderValue, toLocal(m_saveAsFolder));
    m_settings->writeString(kSaveAllFolderValue, toLocal(m_saveAllFolder));
}

void TfrmMain::actSaveExecute() {
    if (m_frameSites->listBox().count() == 0) {
        return;
    }
    const std::string cacheFile = m_frameSites->SelectedCacheFile();
    if (cacheFile.empty()) {
        return;
    }
    m_dlgSave->setDirectory(firstExistingFolder({GetPersonalFolder()}));
    m_dlgSave->selectFile(fromLocal(m_frameSites->SuggestedFileName()));
    if (m_dlgSave->exec() != QDialog::Accepted || m_dlgSave->selectedFiles().isEmpty()) {
        return;
    }
    const QString target = m_dlgSave->selectedFiles().constFirst();
    if (const Status copied = SaveAs(cacheFile, toLocal(target), *m_copier); !copied) {
        m_guard.report(QString::fromStdString(copied.error().message));
    }
}

void TfrmMain::actExportWarcExecute() {
    if (m_frameSites->listBox().count() == 0) {
        return;
    }
    m_dlgExport->setDirectory(firstExistingFolder({m_saveAllFolder, GetPersonalFolder()}));
    m_dlgExport->selectFile(QStringLiteral("flash-movies.warc.gz"));
    if (m_dlgExport->exec() != QDialog::Accepted || m_dlgExport->selectedFiles().isEmpty()) {
        return;
    }
    const QString target = m_dlgExport->selectedFiles().constFirst();
    std::vector<curation::ArchivedMovie> movies = m_frameSites->ArchivedMovies();
    const std::size_t movieCount = movies.size();
    // Reading the caches again for the site files takes a moment on a big cache.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::vector<curation::ArchivedMovie> siteFiles = m_frameSites->SiteFiles();
    QApplication::restoreOverrideCursor();
    std::move(siteFiles.begin(), siteFiles.end(), std::back_inserter(movies));
    curation::ArchiveRequest request;
    request.target = toLocal(target);
    // The dialog has asked before the user chose a file that is there.
    request.replace = QFileInfo(target).isFile();
    request.caches = m_frameSites->CachesRead();
    request.now = QDateTime::currentSecsSinceEpoch();
    QProgressDialog progress(QStringLiteral("Writing the web archive..."), QStringLiteral("Cancel"),
                             0, static_cast<int>(movies.size()), this);
    progress.setObjectName(QStringLiteral("exportProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    const auto written =
        curation::writeMovieArchive(movies, request, [&progress](std::size_t index, std::size_t) {
            progress.setValue(static_cast<int>(index));
            QCoreApplication::processEvents();
            return !progress.wasCanceled();
        });
    progress.reset();
    if (!written) {
        if (written.error().code != Error::Code::Cancelled) {
            m_guard.report(QString::fromStdString(written.error().message));
        }
        return;
    }
    if (!written->leftOut.empty()) {
        QStringList leftOut;
        for (const std::string& movie : written->leftOut) {
            leftOut.append(QString::fromStdString(movie));
        }
        m_guard.report(QStringLiteral("Left out of the archive:\n") +
                       leftOut.join(QLatin1Char('\n')));
    }
    // What was left out is named by its URL first.
    std::size_t moviesLeftOut = 0;
    for (const std::string& leftOut : written->leftOut) {
        moviesLeftOut += static_cast<std::size_t>(
            std::any_of(movies.begin(), movies.begin() + static_cast<std::ptrdiff_t>(movieCount),
                        [&leftOut](const curation::ArchivedMovie& movie) {
                            return leftOut.starts_with(movie.url + ": ");
                        }));
    }
    const auto moviesArchived = static_cast<int>(movieCount - moviesLeftOut);
    const int filesArchived = written->archived - moviesArchived;
    const QString what = filesArchived > 0
                             ? QStringLiteral("%1 movie(s) and %2 other file(s) of their sites")
                                   .arg(moviesArchived)
                                   .arg(filesArchived)
                             : QStringLiteral("%1 movie(s)").arg(moviesArchived);
    QMessageBox question(QMessageBox::Question, QStringLiteral("Congratulations"),
                         QStringLiteral("%1 archived in \"%2\" (%3).\nOpen the folder now?")
                             .arg(what, QFileInfo(target).fileName(),
                                  locale().formattedDataSize(static_cast<qint64>(written->bytes))),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setObjectName(QStringLiteral("exported"));
    if (question.exec() == QMessageBox::Yes) {
        static_cast<void>(
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(target).absolutePath())));
    }
}

void TfrmMain::actSaveAllExecute() {
    if (m_frameSites->listBox().count() == 0) {
        return;
    }
    // The dialog opens on a folder that is there, never on none: with nothing preselected its
    // tree offers the root, and Enter would save every movie into it.
    m_dlgBrowseDir->setSelection(
        firstExistingFolder({m_dlgBrowseDir->Selection(), m_saveAllFolder, GetPersonalFolder()}));
    if (!m_dlgBrowseDir->Execute()) {
        return;
    }
    m_saveAllFolder = fromLocal(WithTrailingSeparator(toLocal(m_dlgBrowseDir->Selection())));
    const SaveAllResult result = SaveAll(toLocal(m_saveAllFolder), m_frameSites->AllCacheFiles(),
                                         m_frameSites->AllSuggestedNames(), *m_copier);
    if (const std::string failures = SaveAllFailureText(result); !failures.empty()) {
        m_guard.report(QString::fromStdString(failures));
    }
    if (result.saved <= 0) {
        return;
    }
    QMessageBox question(QMessageBox::Question, QStringLiteral("Congratulations"),
                         QString::fromStdString(SaveAllQuestion(result.saved)),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setObjectName(QStringLiteral("congratulations"));
    if (question.exec() == QMessageBox::Yes) {
        // "explore": the folder in the desktop's file manager.
        static_cast<void>(QDesktopServices::openUrl(QUrl::fromLocalFile(m_saveAllFolder)));
    }
}

void TfrmMain::actRefreshExecute() {
    {
        const TSplashGuard splash;
        m_frameSites->RefreshList();
    }
    selectFirstMovie();
}

void TfrmMain::actAboutExecute() {
    TfmAbout about([](const QString& address) { ShellOpen(address); }, this);
    about.exec();
}

void TfrmMain::actExitExecute() {
    close();
}

void TfrmMain::createTrayIcon() {
    m_popTray = new QMenu(this);
    m_popTray->setObjectName(QStringLiteral("popTray"));
    m_popTray->addActions(
        {entryFor(m_actShowMain, "Restore1", m_popTray), entryFor(m_actAbout, "About2", m_popTray),
         separator("N2", m_popTray), entryFor(m_actSaveAll, "Saveall1", m_popTray),
         separator("N5", m_popTray), entryFor(m_actRefresh, "Refresh1", m_popTray),
         separator("N3", m_popTray), entryFor(m_actExit, "Exit1", m_popTray)});
    m_popTrayMenu = std::make_unique<QtTrayMenu>(m_popTray);

    m_trayIco = std::make_unique<TRxTrayIcon>(
        *m_trayArea, [this](const std::string& message) { reportLater(message); });
    m_trayIco->setActive(false);
    m_trayIco->setIcon(std::make_shared<QtTrayImage>(trayIcon()));
    m_trayIco->PopupMenu = m_popTrayMenu.get();
    m_trayIco->OnClick = [this](TRxTrayIcon&, TrayButton, TrayShiftState, int, int) {
        trayIcoClick();
    };
}

void TfrmMain::actWebSiteExecute() {
    ShellOpen(TfmAbout::webSiteAddress());
}

} // namespace sarnika
