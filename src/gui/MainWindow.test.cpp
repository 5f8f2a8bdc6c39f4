#include "gui/MainWindow.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QObject>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QUrl>

#include "app/SaveMovies.h"
#include "cache/IECache.h"
#include "cache/sources/BrowserCacheLayer.h"
#include "gui/AboutBox.h"
#include "gui/BrowseDirectoryDlg.h"
#include "gui/EmbeddedWB.h"
#include "gui/Settings.h"
#include "gui/SplashWindow.h"
#include "support/gui/WindowTestSupport.h"

using namespace sarnika;
using sarnika::sources::BrowserCacheLayer;
using sarnika::testing::ModalDriver;

namespace {

// The made-here caches hold the same movies in Chromium's and in Firefox's cache: each is
// offered once.
const QStringList kExpectedLines = {
    QStringLiteral("huge.swf"), QStringLiteral("big.swf"),   QStringLiteral("packed.swf"),
    QStringLiteral("gz.swf"),   QStringLiteral("Intro.SWF"), QStringLiteral("cross.swf"),
    QStringLiteral("clip.swf"), QStringLiteral("long.swf"),  QStringLiteral("tiny.swf")};

// Stands in for the web view: remembers what it was asked to show, fails on request.
struct PreviewRecord {
    QStringList navigated;
    QString failOn; // a file name part that makes Navigate fail
};

class FakePreview final : public PreviewPort {
public:
    FakePreview(QWidget* parent, PreviewRecord& record)
        : m_widget(new QWidget(parent)), m_record(record) {
        m_widget->setObjectName(QStringLiteral("wbPreview"));
    }
    QWidget* widget() override { return m_widget; }
    void Navigate(const QString& localPath) override {
        m_record.navigated.append(localPath);
        if (!m_record.failOn.isEmpty() && localPath.contains(m_record.failOn)) {
            throw PreviewError("The movie cannot be shown: " + localPath.toStdString());
        }
    }

private:
    QWidget* m_widget;
    PreviewRecord& m_record;
};

// Copies as the program does, except for files whose name contains `failOn`.
class FlakyCopier final : public FileCopier {
public:
    std::string failOn;
    std::function<void()> beforeCopy;
    Status copyExclusive(const std::string& source, const std::string& target) override {
        if (beforeCopy) {
            beforeCopy();
        }
        return fails(target) ? refusal() : m_local.copyExclusive(source, target);
    }
    Status copyReplacing(const std::string& source, const std::string& target) override {
        return fails(target) ? refusal() : m_local.copyReplacing(source, target);
    }

private:
    bool fails(const std::string& target) const {
        return !failOn.empty() && target.find(failOn) != std::string::npos;
    }
    static Status refusal() { return makeError(Error::Code::WriteFailed, "Disk full"); }
    LocalFileCopier m_local;
};

QString documents() {
    return QDir::homePath() + QStringLiteral("/Documents");
}

QString settingsFile() {
    return QtSettingsStore().location();
}

QStringList lines(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        out.append(list->item(i)->text());
    }
    return out;
}

QStringList entryNames(const QMenu* menu) {
    QStringList out;
    for (const QAction* action : menu->actions()) {
        out.append(action->objectName());
    }
    return out;
}

// One window with its cache layer; the layer reads nothing while `empty` is set, and its scan
// fails while `broken` is (a failing reader alone is only a warning: the others go on).
struct Rig {
    explicit Rig(BrowserCacheLayer::Options options = BrowserCacheLayer::currentUserOptions()) {
        const auto read = options.reader;
        // The test's reader stands in for the streaming one, which would read past it.
        options.streamer = nullptr;
        options.reader = [this, read](const sources::SourceLocation& source, std::string_view user,
                                      sources::ReadReport& report) {
            return empty ? std::vector<sources::CacheRecord>() : read(source, user, report);
        };
        const auto discover = options.discover;
        const auto sources = options.sources;
        options.discover = [this, discover, sources] {
            if (broken) {
                throw std::runtime_error("The cache reader broke");
            }
            return discover ? discover() : sources;
        };
        layer = std::make_unique<BrowserCacheLayer>(std::move(options));
        TIECache::CheckLibrary(*layer);
        TfrmMain::Ports ports;
        ports.makePreview = [this](QWidget* parent) {
            return std::make_unique<FakePreview>(parent, preview);
        };
        ports.copier = copier;
        window = std::make_unique<TfrmMain>(*layer, utc, std::move(ports));
    }

    QListWidget* list() const { return window->frameSites()->lbxFlash(); }
    QString status() const { return window->frameSites()->statusText(); }
    QAction* action(const char* name) const {
        return window->findChild<QAction*>(QString::fromLatin1(name));
    }
    QString cacheFile(int line) const {
        return QString::fromStdString(
            window->frameSites()->movies()->CacheFile(static_cast<std::size_t>(line)));
    }
    void showActive() const {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        activate();
    }
    // The offscreen platform activates no window by itself when a dialog closes.
    void activate() const {
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }

    std::atomic<bool> empty = false;
    std::atomic<bool> broken = false;
    PreviewRecord preview;
    std::shared_ptr<FlakyCopier> copier = std::make_shared<FlakyCopier>();
    UtcLocalTime utc;
    std::unique_ptr<BrowserCacheLayer> layer;
    std::unique_ptr<TfrmMain> window;
};

bool splashVisible() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](const QWidget* widget) {
        return qobject_cast<const TSplashWindow*>(widget) != nullptr && widget->isVisible();
    });
}

// Types a name into a shown file dialog and presses Return, as a user does.
ModalDriver::Answer typeFileName(const QString& name, QStringList* seenState = nullptr) {
    return [name, seenState](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            return;
        }
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (seenState != nullptr) {
            *seenState = {dialog->windowTitle(),
                          dialog->nameFilters().join(QLatin1Char('|')),
                          dialog->defaultSuffix(),
                          dialog->directory().absolutePath(),
                          edit != nullptr ? edit->text() : QString(),
                          dialog->testOption(QFileDialog::DontConfirmOverwrite)
                              ? QStringLiteral("no prompt")
                              : QStringLiteral("prompt")};
        }
        if (edit == nullptr) {
            dialog->reject();
            return;
        }
        edit->setText(name);
        QTest::keyClick(edit, Qt::Key_Return);
    };
}

// Types a folder into the folder dialog's edit box and presses its OK button.
ModalDriver::Answer chooseFolder(const QString& folder) {
    return [folder](QWidget* modal) {
        auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("edtFolder"));
        auto* buttons = modal->findChild<QDialogButtonBox*>(QStringLiteral("buttons"));
        if (edit == nullptr || buttons == nullptr) {
            ModalDriver::reject()(modal);
            return;
        }
        edit->setText(folder);
        buttons->button(QDialogButtonBox::Ok)->click();
    };
}

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The main window on real caches (the made-here Chromium and Firefox caches), offscreen, with a
// plain widget in place of the web preview; every dialog is answered from the test.
class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cleanupTestCase();

    void listsMoviesLargestFirstAndPreviewsTheFirst();
    void statusFollowsClicksAndArrowKeys();
    void previewFailureIsReportedAndStatusStays();
    void actionsMenusAndShortcuts();
    void shortcutsReachTheirCommands();
    void emptyCacheSaysSorryOnceAndGreysFileEntries();
    void refreshKeepsGreyedEntriesAndEmptyResultKeepsPreview();
    void saveAsCopiesUnderTheChosenName();
    void saveAsReportsAFailedCopy();
    void saveAllCopiesEveryMovieAndOpensTheFolder();
    void saveAllReportsFailuresAndCancelCopiesNothing();
    void cancelledSaveAllKeepsWhatItSavedAndSaysSo();
    void folderSettingsAreReadAndWrittenAtExit();
    void wrongSettingTypeIsReportedAndWindowStillWorks();
    void failedSettingsWriteIsReported();
    void failingScanRemovesTheSplash();
    void webSiteAndAbout();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
private:
    std::unique_ptr<sarnika::testing::ModalDriver> m_driver;
    sarnika::testing::UrlRecorder m_urls;
};

void TestMainWindow::init() {
    QFile::remove(settingsFile());
    m_driver = std::make_unique<ModalDriver>();
    m_urls.opened.clear();
    m_urls.install();
}

void TestMainWindow::cleanup() {
    QVERIFY2(m_driver->unexpected.isEmpty(), qPrintable(m_driver->unexpected.join(u'\n')));
    QVERIFY(m_driver->allAnswered());
    m_driver.reset();
    QVERIFY(!splashVisible());
}

void TestMainWindow::cleanupTestCase() {
    m_urls.uninstall();
}

void TestMainWindow::listsMoviesLargestFirstAndPreviewsTheFirst() {
    Rig rig;
    rig.window->FormCreate();
    rig.showActive();
    QCOMPARE(rig.window->windowTitle(), QStringLiteral("Sarnika"));
    QCOMPARE(rig.window->frameGeometry().size(), QSize(550, 437));
    QCOMPARE(rig.list()->width(), 193);
    QCOMPARE(rig.list()->selectionMode(), QAbstractItemView::SingleSelection);
    QCOMPARE(rig.window->frameSites()->pnlNav()->height(), 19);
    QVERIFY(rig.window->findChild<QSplitter*>(QStringLiteral("Splitter1")) != nullptr);
    QVERIFY(rig.window->findChild<QWidget*>(QStringLiteral("pnl2")) != nullptr);

    QCOMPARE(lines(rig.list()), kExpectedLines);
    qint64 previous = std::numeric_limits<qint64>::max();
    for (int line = 0; line < rig.list()->count(); ++line) {
        const qint64 size = QFileInfo(rig.cacheFile(line)).size();
        QVERIFY2(size > 0 && size <= previous, qPrintable(rig.cacheFile(line)));
        previous = size;
    }
    QCOMPARE(rig.list()->currentRow(), 0);
    QCOMPARE(rig.preview.navigated, QStringList{rig.cacheFile(0)});
    QCOMPARE(rig.status(), QStringLiteral("Flash movie from 127.0.0.1:18473"));
    QVERIFY(rig.window->frameSites()->pnlNav()->isVisible());
    // No message: the list is not empty.
    QTest::qWait(50);
    QVERIFY(m_driver->seen.isEmpty());
}

void TestMainWindow::statusFollowsClicksAndArrowKeys() {
    Rig rig;
    rig.window->FormCreate();
    rig.showActive();
    const int cross = static_cast<int>(kExpectedLines.indexOf(QStringLiteral("cross.swf")));
    const QRect crossRect = rig.list()->visualItemRect(rig.list()->item(cross));
    QVERIFY(!crossRect.isEmpty());
    QTest::mouseClick(rig.list()->viewport(), Qt::LeftButton, {}, crossRect.center());
    QCOMPARE(rig.list()->currentRow(), cross);
    QCOMPARE(rig.status(), QStringLiteral("Flash movie from localhost:18473"));
    QCOMPARE(rig.preview.navigated.last(), rig.cacheFile(cross));

    rig.list()->setFocus();
    QTest::keyClick(rig.list(), Qt::Key_Up);
    QCOMPARE(rig.status(), QStringLiteral("Flash movie from 127.0.0.1:18473"));
    QCOMPARE(rig.preview.navigated.last(), rig.cacheFile(cross - 1));
    QTest::keyClick(rig.list(), Qt::Key_Down);
    QTest::keyClick(rig.list(), Qt::Key_Down);
    QCOMPARE(rig.list()->currentRow(), cross + 1);
    QCOMPARE(rig.status(), QStringLiteral("Flash movie from 127.0.0.1:18473"));
    QCOMPARE(rig.preview.navigated.last(), rig.cacheFile(cross + 1));
    QCOMPARE(rig.preview.navigated.size(), 5);
}

void TestMainWindow::previewFailureIsReportedAndStatusStays() {
    Rig rig;
    rig.window->FormCreate();
    rig.showActive();
    rig.preview.failOn = QStringLiteral("/tiny");
    m_driver->expect(ModalDriver::click(QMessageBox::Ok));
    rig.list()->setCurrentRow(rig.list()->count() - 1);
    QCOMPARE(m_driver->seen.size(), 1);
    QCOMPARE(m_driver->seen[0].title, QStringLiteral("Sarnika"));
    QCOMPARE(m_driver->seen[0].icon, QMessageBox::Critical);
    QVERIFY(m_driver->seen[0].text.startsWith(QStringLiteral("The movie cannot be shown: ")));
    QCOMPARE(m_driver->seen[0].parent, rig.window.get());
    QCOMPARE(rig.status(), QStringLiteral("Flash movie from 127.0.0.1:18473"));
    // The next movie previews as usual.
    rig.list()->setCurrentRow(0);
    QCOMPARE(rig.preview.navigated.last(), rig.cacheFile(0));
}

void TestMainWindow::actionsMenusAndShortcuts() {
    Rig rig;
    struct Expected {
        const char* name;
        QString caption;
        QKeySequence shortcut;
    };
    const QList<Expected> actions = {
        {"actSave", QStringLiteral("Save as..."), QKeySequence(Qt::Key_S)},
        {"actSaveAll", QStringLiteral("Save all..."), QKeySequence(Qt::CTRL | Qt::Key_S)},
        {"actRefresh", QStringLiteral("Refresh"), QKeySequence(Qt::CTRL | Qt::Key_R)},
        {"actAbout", QStringLiteral("About"), QKeySequence(Qt::ALT | Qt::Key_F1)},
        {"actExit", QStringLiteral("Exit"), QKeySequence(Qt::ALT | Qt::Key_F4)},
        {"actShowMain", QStringLiteral("Restore"), QKeySequence()},
        {"actWebSite", QStringLiteral("Visit our Web-Site"), QKeySequence()}};
    for (const Expected& expected : actions) {
        const QAction* action = rig.action(expected.name);
        QVERIFY2(action != nullptr, expected.name);
        QCOMPARE(action->text(), expected.caption);
        QCOMPARE(action->shortcut(), expected.shortcut);
        QVERIFY(rig.window->actions().contains(const_cast<QAction*>(action)));
    }

    const QMenuBar* menuMain = rig.window->menuBar();
    QCOMPARE(menuMain->objectName(), QStringLiteral("menuMain"));
    QCOMPARE(menuMain->actions().size(), 2);
    const auto* miFile = rig.window->findChild<QMenu*>(QStringLiteral("miFile"));
    const auto* help1 = rig.window->findChild<QMenu*>(QStringLiteral("Help1"));
    QVERIFY(miFile != nullptr && help1 != nullptr);
    QCOMPARE(menuMain->actions()[0], miFile->menuAction());
    QCOMPARE(menuMain->actions()[1], help1->menuAction());
    QCOMPARE(miFile->title(), QStringLiteral("File"));
    QCOMPARE(help1->title(), QStringLiteral("Help"));
    QCOMPARE(entryNames(miFile), (QStringList{QStringLiteral("miSave"), QStringLiteral("miSaveAll"),
                                              QStringLiteral("miExportWarc"), QStringLiteral("N4"),
                                              QStringLiteral("miRefresh"), QStringLiteral("N1"),
                                              QStringLiteral("miExit")}));
    QCOMPARE(entryNames(help1),
             (QStringList{QStringLiteral("VisitourWebSite1"), QStringLiteral("About1")}));
    QCOMPARE(entryNames(rig.window->popFiles()),
             (QStringList{QStringLiteral("Saveas1"), QStringLiteral("Saveall2"),
                          QStringLiteral("N6"), QStringLiteral("Refresh2")}));
    QVERIFY(miFile->actions()[3]->isSeparator() && miFile->actions()[5]->isSeparator());
    QVERIFY(rig.window->popFiles()->actions()[2]->isSeparator());

    // Entries show their action's caption and shortcut.
    const QList<std::pair<const char*, const char*>> entries = {
        {"miSave", "actSave"},  {"miSaveAll", "actSaveAll"},        {"miRefresh", "actRefresh"},
        {"miExit", "actExit"},  {"VisitourWebSite1", "actWebSite"}, {"About1", "actAbout"},
        {"Saveas1", "actSave"}, {"Saveall2", "actSaveAll"},         {"Refresh2", "actRefresh"}};
    for (const auto& [entryName, actionName] : entries) {
        const QAction* entry = rig.action(entryName);
        QVERIFY2(entry != nullptr, entryName);
        QCOMPARE(entry->text(), rig.action(actionName)->text());
        QCOMPARE(entry->shortcut(), rig.action(actionName)->shortcut());
        QCOMPARE(entry->shortcutContext(), Qt::WidgetShortcut);
    }
    QCOMPARE(rig.list()->contextMenuPolicy(), Qt::CustomContextMenu);
}

void TestMainWindow::shortcutsReachTheirCommands() {
    Rig rig;
    rig.window->FormCreate();
    rig.showActive();
    rig.list()->setFocus();

    // S: the save dialog; Ctrl+S: the folder dialog; Alt+F1: the about box.
    m_driver->expect(ModalDriver::reject());
    QTest::keyClick(rig.list(), Qt::Key_S);
    rig.activate();
    m_driver->expect(ModalDriver::reject());
    QTest::keyClick(rig.list(), Qt::Key_S, Qt::ControlModifier);
    rig.activate();
    m_driver->expect(ModalDriver::reject());
    QTest::keyClick(rig.list(), Qt::Key_F1, Qt::AltModifier);
    rig.activate();
    QCOMPARE(m_driver->seen.size(), 3);
    QCOMPARE(m_driver->seen[0].title, QStringLiteral("Save Flash movie as..."));
    QCOMPARE(m_driver->seen[1].title, QStringLiteral("Select directory to save movies..."));
    QCOMPARE(m_driver->seen[2].className, QStringLiteral("sarnika::TfmAbout"));

    // Ctrl+R: a new scan selects and previews the first movie again.
    rig.list()->setCurrentRow(5);
    const qsizetype previews = rig.preview.navigated.size();
    QTest::keyClick(rig.list(), Qt::Key_R, Qt::ControlModifier);
    rig.activate();
    QCOMPARE(rig.list()->currentRow(), 0);
    QCOMPARE(rig.preview.navigated.size(), previews + 1);
    QCOMPARE(lines(rig.list()), kExpectedLines);

    // Alt+F4 closes the window, writing the settings on the way.
    QTest::keyClick(rig.list(), Qt::Key_F4, Qt::AltModifier);
    QTRY_VERIFY(!rig.window->isVisible());
    QVERIFY(QFile::exists(settingsFile()));
}

void TestMainWindow::emptyCacheSaysSorryOnceAndGreysFileEntries() {
    Rig rig;
    rig.empty = true;
    rig.window->FormCreate();
    QCOMPARE(rig.list()->count(), 0);
    m_driver->expect(ModalDriver::click(QMessageBox::Ok));
    rig.window->show();
    QTRY_COMPARE(m_driver->seen.size(), 1);
    QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
    rig.activate();
    const auto& sorry = m_driver->seen[0];
    QCOMPARE(sorry.text, QStringLiteral("No cached FLASH movies were found in the  cache, sorry!"));
    QCOMPARE(sorry.title, QStringLiteral("Sorry"));
    QCOMPARE(sorry.icon, QMessageBox::Critical);
    QCOMPARE(sorry.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(sorry.parent, rig.window.get());

    QVERIFY(!rig.action("miSave")->isEnabled());
    QVERIFY(!rig.action("miSaveAll")->isEnabled());
    for (const char* name : {"miRefresh", "miExit", "VisitourWebSite1", "About1", "Saveas1",
                             "Saveall2", "Refresh2", "actSave", "actSaveAll"}) {
        QVERIFY2(rig.action(name)->isEnabled(), name);
    }
    // On the empty list the commands do nothing, from wherever they come.
    rig.action("Saveas1")->trigger();
    rig.action("actSaveAll")->trigger();
    QTest::keyClick(rig.list(), Qt::Key_S);

    // Once per run.
    rig.window->hide();
    rig.window->show();
    QTest::qWait(50);
    QCOMPARE(m_driver->seen.size(), 1);
}

void TestMainWindow::refreshKeepsGreyedEntriesAndEmptyResultKeepsPreview() {
    Rig rig;
    rig.empty = true;
    rig.window->FormCreate();
    m_driver->expect(ModalDriver::click(QMessageBox::Ok));
    rig.window->show();
    QTRY_COMPARE(m_driver->seen.size(), 1);

    rig.empty = false;
    rig.action("Refresh2")->trigger();
    QCOMPARE(lines(rig.list()), kExpectedLines);
    QCOMPARE(rig.list()->currentRow(), 0);
    QCOMPARE(rig.preview.navigated, QStringList{rig.cacheFile(0)});
    QVERIFY(!rig.action("miSave")->isEnabled());
    QVERIFY(!rig.action("miSaveAll")->isEnabled());
    // The popup's entry works now.
    m_driver->expect(ModalDriver::reject());
    rig.action("Saveas1")->trigger();
    QCOMPARE(m_driver->seen.size(), 2);

    // A refresh that finds nothing empties the list and leaves preview and status alone.
    rig.empty = true;
    rig.action("actRefresh")->trigger();
    QCOMPARE(rig.list()->count(), 0);
    QCOMPARE(rig.status(), QStringLiteral("Flash movie from 127.0.0.1:18473"));
    QCOMPARE(rig.preview.navigated.size(), 1);
    QCOMPARE(m_driver->seen.size(), 2);
}

void TestMainWindow::saveAsCopiesUnderTheChosenName() {
    Rig rig;
    rig.window->FormCreate();
    rig.showActive();
    const int clip = static_cast<int>(kExpectedLines.indexOf(QStringLiteral("clip.swf")));
    rig.list()->setCurrentRow(clip);

    QStringList dialogState;
    m_driver->expect(typeFileName(QStringLiteral("my copy"), &dialogState));
    rig.action("actSave")->trigger();
    QCOMPARE(dialogState,
             (QStringList{QStringLiteral("Save Flash movie as..."),
                          QStringLiteral("Flash movies (*.swf)"), QStringLiteral("swf"),
                          documents(), QStringLiteral("clip.swf"), QStringLiteral("prompt")}));
    const QString target = documents() + QStringLiteral("/my copy.swf");
    QCOMPARE(contentOf(target), contentOf(rig.cacheFile(clip)));

    // Again under the same name: the dialog asks before the file is replaced.
    rig.list()->setCurrentRow(0);
    m_driver->expect(typeFileName(QStringLiteral("my copy.swf"), &dialogState));
    m_driver->expect(ModalDriver::click(QMessageBox::Yes));
    rig.action("miSave")->trigger();
    QCOMPARE(dialogState[4], QStringLiteral("huge.swf"));
    QCOMPARE(m_driver->seen.size(), 3);
    QCOMPARE(m_driver->seen[2].className, QStringLiteral("QMessageBox"));
    QCOMPARE(contentOf(target), contentOf(rig.cacheFile(0)));

    // Cancelling copies nothing.
    m_driver->expect(ModalDriver::reject());
    rig.action("actSave")->trigger();
    QCOMPARE(QDir(documents()).entryList(QDir::Files), QStringList{QStringLiteral("my copy.swf")});
    QFile::remove(target);
}

void TestMainWindow::saveAsReportsAFailedCopy() {
    Rig rig;
    rig.copier->failOn = "refused";
    rig.window->FormCreate();
    rig.showActive();
    m_driver->expect(typeFileName(QStringLiteral("refused")));
    m_driver->expect(ModalDriver::click(QMessageBox::Ok));
    rig.action("actSave")->trigger();
    QCOMPARE(m_driver->seen.size(), 2);
    QVERIFY2(m_driver->seen[1].text.contains(QStringLiteral("Disk full")),
             qPrintable(m_driver->seen[1].text));
    QCOMPARE(m_driver->seen[1].icon, QMessageBox::Critical);
    QVERIFY(!QFile::exists(documents() + QStringLiteral("/refused.swf")));
}

void TestMainWindow::saveAllCopiesEveryMovieAndOpensTheFolder() {
    QTemporaryDir target;
    Rig rig;
    rig.window->FormCreate();
    rig.showActive();
    QCOMPARE(rig.window->dlgBrowseDir()->Selection(), documents() + QLatin1Char('/'));

    m_driver->expect(chooseFolder(target.path()));
    m_driver->expect(ModalDriver::click(QMessageBox::Yes));
    rig.action("miSaveAll")->trigger();
    QCOMPARE(m_driver->seen.size(), 2);
    const auto& question = m_driver->seen[1];
    QCOMPARE(question.title, QStringLiteral("Congratulations"));
    QCOMPARE(question.text,
             QStringLiteral("9 file(s) have been successfully saved.\n\rOpen destination folder?"));
    QCOMPARE(question.icon, QMessageBox::Question);
    QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(question.parent, rig.window.get());
    QCOMPARE(m_urls.opened, QList<QUrl>{QUrl::fromLocalFile(target.path() + QLatin1Char('/'))});
    QCOMPARE(rig.window->saveAllFolder(), target.path() + QLatin1Char('/'));

    const QStringList saved = QDir(target.path()).entryList(QDir::Files, QDir::Name);
    QCOMPARE(saved.size(), 9);
    QVERIFY(saved.contains(QStringLiteral("huge.swf.swf")));
    QVERIFY(!saved.contains(QStringLiteral("huge.swf-1.swf")));
    QCOMPARE(contentOf(target.filePath(QStringLiteral("tiny.swf.swf"))),
             contentOf(rig.cacheFile(8)));

    // The second run adds the next free names and opens nothing on No.
    m_driver->expect(chooseFolder(target.path()));
    m_driver->expect(ModalDriver::click(QMessageBox::No));
    rig.action("actSaveAll")->trigger();
    QCOMPARE(QDir(target.path()).entryList(QDir::Files).size(), 18);
    QVERIFY(QFile::exists(target.filePath(QStringLiteral("huge.swf-1.swf"))));
    QCOMPARE(m_urls.opened.size(), 1);
}

void TestMainWindow::saveAllReportsFailuresAndCancelCopiesNothing() {
    QTemporaryDir target;
    Rig rig;
    rig.copier->failOn = "huge";
    rig.window->FormCreate();
    rig.showActive();
    m_driver->expect(chooseFolder(target.path()));
    m_driver->expect(ModalDriver::click(QMessageBox::Ok));
    m_driver->expect(ModalDriver::click(QMessageBox::No));
    rig.action("actSaveAll")->trigger();
    QCOMPARE(m_driver->seen.size(), 3);
    QCOMPARE(m_driver->seen[1].icon, QMessageBox::Critical);
    QVERIFY2(m_driver->seen[1].text.startsWith(QStringLiteral("1 file(s) could not be saved.")),
             qPrintable(m_driver->seen[1].text));
    QVERIFY(m_driver->seen[1].text.contains(QStringLiteral("Disk full")));
    QVERIFY(m_driver->seen[2].text.startsWith(QStringLiteral("8 file(s) have been")));
    QCOMPARE(QDir(target.path()).entryList(QDir::Files).size(), 8);

    // A cancelled run leaves the folder setting and copies nothing; the next run starts empty.
    const QString before = rig.window->saveAllFolder();
    m_driver->expect(ModalDriver::reject());
    rig.action("actSaveAll")->trigger();
    QCOMPARE(rig.window->saveAllFolder(), before);
    QCOMPARE(rig.window->dlgBrowseDir()->Selection(), QString());
    QCOMPARE(QDir(target.path()).entryList(QDir::Files).size(), 8);
}

void TestMainWindow::cancelledSaveAllKeepsWhatItSavedAndSaysSo() {
    QTemporaryDir target;
    Rig rig;
    rig.window->FormCreate();
    rig.showActive();
    // The user presses Cancel while the fourth movie is being copied.
    int copies = 0;
    rig.copier->beforeCopy = [&rig, &copies] {
        if (++copies == 4) {
            auto* progress =
                rig.window->findChild<QProgressDialog*>(QStringLiteral("saveProgress"));
            QVERIFY(progress != nullptr);
            progress->cancel();
        }
    };
    m_driver->expect(chooseFolder(target.path()));
    m_driver->expect(ModalDriver::click(QMessageBox::No));
    rig.action("actSaveAll")->trigger();
    QCOMPARE(m_driver->seen.size(), 2);
    QCOMPARE(m_driver->seen[1].text,
             QStringLiteral("Saved 4 of 9 movies; cancelled.\nOpen destination folder?"));
    QCOMPARE(QDir(target.path()).entryList(QDir::Files).size(), 4);
    QVERIFY(m_urls.opened.isEmpty());
}

void TestMainWindow::folderSettingsAreReadAndWrittenAtExit() {
    {
        // Absent values: the personal folder for both, written at exit.
        Rig rig;
        rig.window->FormCreate();
        QCOMPARE(rig.window->saveAsFolder(), documents());
        QCOMPARE(rig.window->saveAllFolder(), documents());
        rig.showActive();
        rig.window->close();
        QCOMPARE(rig.list()->count(), 0);
        const QSettings written(settingsFile(), QSettings::IniFormat);
        QCOMPARE(written.value(QStringLiteral("SaveAsFolder")).toString(), documents());
        QCOMPARE(written.value(QStringLiteral("SaveAllFolder")).toString(), documents());
    }
    {
        QSettings(settingsFile(), QSettings::IniFormat)
            .setValue(QStringLiteral("SaveAllFolder"), QStringLiteral("/srv/movies, old/"));
    }
    QTemporaryDir target;
    Rig rig;
    rig.window->FormCreate();
    QCOMPARE(rig.window->saveAsFolder(), documents());
    QCOMPARE(rig.window->saveAllFolder(), QStringLiteral("/srv/movies, old/"));
    // The browse dialog starts in the personal folder whatever the setting says.
    QCOMPARE(rig.window->dlgBrowseDir()->Selection(), documents() + QLatin1Char('/'));
    rig.showActive();
    m_driver->expect(chooseFolder(target.path()));
    m_driver->expect(ModalDriver::click(QMessageBox::No));
    rig.action("actSaveAll")->trigger();
    rig.window.reset();
    const QSettings written(settingsFile(), QSettings::IniFormat);
    QCOMPARE(written.value(QStringLiteral("SaveAllFolder")).toString(),
             target.path() + QLatin1Char('/'));
}

void TestMainWindow::wrongSettingTypeIsReportedAndWindowStillWorks() {
    QSettings(settingsFile(), QSettings::IniFormat)
        .setValue(QStringLiteral("SaveAsFolder"), QSize(4, 2));
    Rig rig;
    m_driver->expect(ModalDriver::click(QMessageBox::Ok));
    rig.window->FormCreate();
    QCOMPARE(m_driver->seen.size(), 1);
    QCOMPARE(m_driver->seen[0].text, QStringLiteral("Invalid data type for 'SaveAsFolder'"));
    QCOMPARE(m_driver->seen[0].icon, QMessageBox::Critical);
    QCOMPARE(m_driver->seen[0].parent, rig.window.get());
    QVERIFY(!splashVisible());
    // The steps after the failed read were skipped; the scan before it stands.
    QCOMPARE(rig.window->dlgBrowseDir()->Selection(), QString());
    QCOMPARE(lines(rig.list()), kExpectedLines);

    rig.showActive();
    rig.list()->setCurrentRow(3);
    QCOMPARE(rig.preview.navigated.last(), rig.cacheFile(3));
    rig.action("actRefresh")->trigger();
    QCOMPARE(rig.list()->currentRow(), 0);
    QCOMPARE(m_driver->seen.size(), 1);
}

void TestMainWindow::failedSettingsWriteIsReported() {
    Rig rig;
    rig.window->FormCreate();
    rig.showActive();
    // A folder where the settings file belongs cannot be written.
    QFile::remove(settingsFile());
    QVERIFY(QDir().mkpath(settingsFile()));
    for (int box = 0; box < 3; ++box) {
        m_driver->expect(ModalDriver::click(QMessageBox::Ok));
    }
    rig.window->close();
    QVERIFY(QDir().rmdir(settingsFile()));
    // The placement in the close query, again before the destroy handler, then the folders.
    QCOMPARE(m_driver->seen.size(), 3);
    QCOMPARE(m_driver->seen[0].text, QStringLiteral("Failed to set data for 'FormVersion'"));
    QCOMPARE(m_driver->seen[1].text, QStringLiteral("Failed to set data for 'FormVersion'"));
    QCOMPARE(m_driver->seen[2].text, QStringLiteral("Failed to set data for 'SaveAsFolder'"));
    QVERIFY(!rig.window->isVisible());
}

void TestMainWindow::failingScanRemovesTheSplash() {
    Rig rig;
    rig.broken = true;
    m_driver->expect([](QWidget* modal) {
        // The splash is gone before the message comes.
        QVERIFY(!splashVisible());
        ModalDriver::click(QMessageBox::Ok)(modal);
    });
    rig.window->FormCreate();
    QCOMPARE(m_driver->seen.size(), 1);
    QCOMPARE(m_driver->seen[0].text, QStringLiteral("The cache reader broke"));
    QVERIFY(!splashVisible());

    // A refresh that fails removes its splash too; one that works fills the list.
    m_driver->expect(ModalDriver::click(QMessageBox::Ok));
    rig.action("actRefresh")->trigger();
    QCOMPARE(m_driver->seen.size(), 2);
    QVERIFY(!splashVisible());
    rig.broken = false;
    rig.action("actRefresh")->trigger();
    QCOMPARE(lines(rig.list()), kExpectedLines);
}

void TestMainWindow::webSiteAndAbout() {
    Rig rig;
    rig.window->FormCreate();
    rig.showActive();
    rig.action("VisitourWebSite1")->trigger();
    QCOMPARE(m_urls.opened,
             QList<QUrl>{QUrl(QStringLiteral("https://www.quillmoor.example/sarnika/"))});

    m_driver->expect([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    rig.action("About1")->trigger();
    QCOMPARE(m_driver->seen.size(), 1);
    QCOMPARE(m_driver->seen[0].parent, rig.window.get());
    QVERIFY(rig.window->findChild<TfmAbout*>() == nullptr);

    // Exit closes the window.
    rig.action("miExit")->trigger();
    QVERIFY(!rig.window->isVisible());
}

int main(int argc, char** argv) {
    sarnika::testing::prepareTestHome(
        {QStringLiteral("chromium-cache.tar.gz"), QStringLiteral("firefox-cache.tar.gz")});
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Sarnika"));
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindow.test.moc"
