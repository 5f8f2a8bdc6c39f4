#include "gui/MainWindow.h"

#include <algorithm>
#include <climits>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QStringList>
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

constexpr qint64 kProgressUpdateMs = 40;

QString fromLocal(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string toLocal(const QString& path) {
    return QFile::encodeName(path).toStdString();
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

    m_placementStore =
        ports.placementStore ? std::move(ports.placementStore) : std::make_shared<QtIniStore>();
    m_placementWindow = std::make_unique<QtPlacementWindow>(
        this, QSize(550, 437), [this] { return stage() == Stage::InTray || isMinimized(); });
    m_trayArea =
        ports.trayArea ? std::move(ports.trayArea) : std::make_shared<QtNotificationArea>();
    createTrayMenu();
    m_presenter = std::make_unique<presenters::TfrmMain>(presenters::TfrmMain::Ports{
        *this, m_frameSites->presenter(), *this, *m_settings, *m_copier, *m_placementWindow,
        *m_placementStore, *m_trayArea, std::make_shared<QtTrayImage>(trayIcon()),
        m_popTrayMenu.get()});
}

TfrmMain::~TfrmMain() {
    m_presenter->WindowDestroyed();
}

QAction* TfrmMain::makeAction(QObject* actList, const char* name, const QString& caption,
                              const QKeySequence& shortcut, std::function<void()> handler) {
    auto* action = new QAction(caption, actList);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    connect(action, &QAction::triggered, this, m_guard.wrap(std::move(handler)));
    // Shortcuts act only for actions that belong to a shown widget.
    QWidget::addAction(action);
    return action;
}

void TfrmMain::createActions() {
    auto* actList = new QObject(this);
    actList->setObjectName(QStringLiteral("actList"));
    // The presenter is made last in the constructor; the actions run once the window is up.
    using Presenter = presenters::TfrmMain;
    const auto run = [this](void (Presenter::*handler)()) {
        return [this, handler] {
            ((*m_presenter).*handler)();
        };
    };
    m_actSave = makeAction(actList, "actSave", QStringLiteral("Save as..."),
                           QKeySequence(Qt::Key_S), run(&Presenter::actSaveExecute));
    m_actSaveAll =
        makeAction(actList, "actSaveAll", QStringLiteral("Save all..."),
                   QKeySequence(Qt::CTRL | Qt::Key_S), run(&Presenter::actSaveAllExecute));
    m_actExportWarc = makeAction(actList, "actExportWarc", QStringLiteral("Export web archive..."),
                                 QKeySequence(), [this] { actExportWarcExecute(); });
    m_actRefresh =
        makeAction(actList, "actRefresh", QStringLiteral("Refresh"),
                   QKeySequence(Qt::CTRL | Qt::Key_R), run(&Presenter::actRefreshExecute));
    m_actAbout = makeAction(actList, "actAbout", QStringLiteral("About"),
                            QKeySequence(Qt::ALT | Qt::Key_F1), run(&Presenter::actAboutExecute));
    m_actExit = makeAction(actList, "actExit", QStringLiteral("Exit"),
                           QKeySequence(Qt::ALT | Qt::Key_F4), run(&Presenter::actExitExecute));
    m_actShowMain = makeAction(actList, "actShowMain", QStringLiteral("Restore"), QKeySequence(),
                               run(&Presenter::actShowMainExecute));
    m_actWebSite = makeAction(actList, "actWebSite", QStringLiteral("Visit our Web-Site"),
                              QKeySequence(), run(&Presenter::actWebSiteExecute));
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

// The file dialogs are made when first asked for: building one reads the file system and
// costs the start-up a noticeable moment.
QFileDialog* TfrmMain::dlgSave() {
    if (m_dlgSave == nullptr) {
        m_dlgSave = makeSaveDialog(this, QStringLiteral("Save Flash movie as..."),
                                   QStringLiteral("Flash movies (*.swf)"), QStringLiteral("swf"));
        m_dlgSave->setObjectName(QStringLiteral("dlgSave"));
    }
    return m_dlgSave;
}

QFileDialog* TfrmMain::dlgExport() {
    if (m_dlgExport == nullptr) {
        m_dlgExport = makeSaveDialog(this, QStringLiteral("Export web archive"),
                                     QStringLiteral("Web archives (*.warc.gz *.warc)"),
                                     QStringLiteral("warc.gz"));
        m_dlgExport->setObjectName(QStringLiteral("dlgExport"));
    }
    return m_dlgExport;
}

void TfrmMain::FormCreate() {
    m_presenter->FormCreate();
}

QString TfrmMain::saveAsFolder() const {
    return fromLocal(m_presenter->saveAsFolder());
}

QString TfrmMain::saveAllFolder() const {
    return fromLocal(m_presenter->saveAllFolder());
}

void TfrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    m_presenter->WindowShown(event->spontaneous());
    // Back from the tray, the state may turn normal before the window is shown again or after:
    // whichever comes last starts the watch that settles the placement.
    if (m_placementShown && !isMinimized() && !isMaximized() && !m_frameWatch->isActive()) {
        startFrameWatch();
    }
}

void TfrmMain::placementShown() {
    m_placementShown = true;
    m_placementWindow->fitOuterGeometry();
    startFrameWatch();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (!m_presenter->WindowCloseQuery()) {
        event->ignore();
        return;
    }
    m_presenter->WindowDestroyed();
    QMainWindow::closeEvent(event);
    emit closed();
}

void TfrmMain::showSplash() {
    m_splash = std::make_unique<TSplashGuard>();
}

void TfrmMain::closeSplash() {
    m_splash.reset();
}

void TfrmMain::reportError(const std::string& text) {
    m_guard.report(QString::fromStdString(text));
}

bool TfrmMain::showMessage(const presenters::FormMessage& message) {
    using presenters::FormMessage;
    QMessageBox box(
        message.icon == FormMessage::Icon::Question ? QMessageBox::Question : QMessageBox::Critical,
        QString::fromStdString(message.title), QString::fromStdString(message.text),
        message.buttons == FormMessage::Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                       : QMessageBox::Ok,
        this);
    box.setObjectName(QString::fromStdString(message.name));
    return box.exec() == QMessageBox::Yes;
}

// Once the events already waiting have been handled; not at all once the window is gone.
void TfrmMain::runLater(std::function<void()> step) {
    m_later.add(std::move(step));
}

void TfrmMain::postRunNextLater() {
    const bool queued = QMetaObject::invokeMethod(this, "runNextLater", Qt::QueuedConnection);
    Q_ASSERT_X(queued, "TfrmMain::runLater", "runNextLater");
}

void TfrmMain::runNextLater() {
    m_later.runNext();
}

bool TfrmMain::windowMinimized() const {
    return isMinimized();
}

void TfrmMain::showWindow() {
    show();
}

void TfrmMain::hideWindow() {
    hide();
}

void TfrmMain::closeWindow() {
    close();
}

void TfrmMain::bringToFront() {
    BringWindowToFront(this, true);
}

void TfrmMain::setFileEntriesEnabled(bool enabled) {
    m_miSave->setEnabled(enabled);
    m_miSaveAll->setEnabled(enabled);
}

std::optional<std::string> TfrmMain::askSaveAsTarget(const std::string& folder,
                                                     const std::string& fileName) {
    QFileDialog* dialog = dlgSave();
    dialog->setDirectory(fromLocal(folder));
    dialog->selectFile(fromLocal(fileName));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return toLocal(dialog->selectedFiles().constFirst());
}

std::string TfrmMain::browseSelection() const {
    return toLocal(m_dlgBrowseDir->Selection());
}

void TfrmMain::setBrowseSelection(const std::string& folder) {
    m_dlgBrowseDir->setSelection(fromLocal(folder));
}

bool TfrmMain::browseForFolder() {
    return m_dlgBrowseDir->Execute();
}

void TfrmMain::showAbout() {
    TfmAbout about([](const QString& address) { ShellOpen(address); }, this);
    about.exec();
}

// The dialog shows only when the work takes longer than a moment; it is modal to the window.
void TfrmMain::runWithProgress(const std::string& text, std::size_t total,
                               const std::function<void(const ProgressStep& step)>& work) {
    const auto steps = static_cast<int>(std::min<std::size_t>(total, INT_MAX));
    QProgressDialog progress(QString::fromStdString(text), QStringLiteral("Cancel"), 0, steps,
                             this);
    progress.setObjectName(QStringLiteral("saveProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    // Thousands of quick steps: the bar is drawn and the events handled a few times a second,
    // not for every step.
    QElapsedTimer sinceUpdate;
    work([&progress, &sinceUpdate, steps](std::size_t done) {
        if (!sinceUpdate.isValid() || sinceUpdate.elapsed() >= kProgressUpdateMs) {
            progress.setValue(static_cast<int>(std::min(done, static_cast<std::size_t>(steps))));
            QCoreApplication::processEvents();
            sinceUpdate.start();
        }
        return !progress.wasCanceled();
    });
    progress.reset();
}

std::string TfrmMain::personalFolder() const {
    return toLocal(GetPersonalFolder());
}

std::string TfrmMain::homeFolder() const {
    return toLocal(QDir::homePath());
}

bool TfrmMain::isFolder(const std::string& path) const {
    return QFileInfo(fromLocal(path)).isDir();
}

void TfrmMain::openAddress(const std::string& address) {
    ShellOpen(QString::fromStdString(address));
}

// "explore": the folder in the desktop's file manager.
void TfrmMain::openFolder(const std::string& folder) {
    static_cast<void>(QDesktopServices::openUrl(QUrl::fromLocalFile(fromLocal(folder))));
}

void TfrmMain::actExportWarcExecute() {
    if (m_frameSites->listBox().count() == 0) {
        return;
    }
    QFileDialog* dialog = dlgExport();
    dialog->setDirectory(fromLocal(
        m_presenter->firstExistingFolder({m_presenter->saveAllFolder(), personalFolder()})));
    dialog->selectFile(QStringLiteral("flash-movies.warc.gz"));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
        return;
    }
    const QString target = dialog->selectedFiles().constFirst();
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

void TfrmMain::createTrayMenu() {
    m_popTray = new QMenu(this);
    m_popTray->setObjectName(QStringLiteral("popTray"));
    m_popTray->addActions(
        {entryFor(m_actShowMain, "Restore1", m_popTray), entryFor(m_actAbout, "About2", m_popTray),
         separator("N2", m_popTray), entryFor(m_actSaveAll, "Saveall1", m_popTray),
         separator("N5", m_popTray), entryFor(m_actRefresh, "Refresh1", m_popTray),
         separator("N3", m_popTray), entryFor(m_actExit, "Exit1", m_popTray)});
    m_popTrayMenu = std::make_unique<QtTrayMenu>(m_popTray);
}

} // namespace sarnika
