#include "gui/ShellContextMenu.h"

#include <memory>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QObject>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "base/DateTime.h"
#include "cache/ListUrlCache.h"
#include "gui/FrameCachedFlash.h"
#include "gui/MainWindow.h"
#include "support/FakeUrlCache.h"
#include "support/gui/WindowTestSupport.h"

using sarnika::ErrorGuard;
using sarnika::ListUrlCache;
using sarnika::LocateShellItem;
using sarnika::PreviewPort;
using sarnika::ShowShellContextMenu;
using sarnika::TframeCachedFlash;
using sarnika::TfrmMain;
using sarnika::UtcLocalTime;
using sarnika::testing::contentEntry;
using sarnika::testing::ModalDriver;

namespace {

class PlainPreview final : public PreviewPort {
public:
    explicit PlainPreview(QWidget* parent) : m_widget(new QWidget(parent)) {}
    QWidget* widget() override { return m_widget; }
    void Navigate(const QString& /*localPath*/) override {}

private:
    QWidget* m_widget;
};

std::unique_ptr<PreviewPort> plainPreview(QWidget* parent) {
    return std::make_unique<PlainPreview>(parent);
}

// What a popup menu looked like when it came up.
struct SeenMenu {
    QString name;
    QPoint pos;
    QStringList entries;
};

// Answers the next popup menu from inside its event loop: picks the entry of the given object
// name, or presses Escape when none is given.
class MenuAnswer {
public:
    explicit MenuAnswer(QString entry = {}) : m_entry(std::move(entry)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(10);
    }

    std::optional<SeenMenu> seen;

private:
    void poll() {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr || !menu->isVisible()) {
            return;
        }
        m_timer.stop();
        SeenMenu record{menu->objectName(), menu->pos(), {}};
        for (const QAction* action : menu->actions()) {
            record.entries.append(action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        seen = record;
        QAction* chosen = m_entry.isEmpty() ? nullptr : menu->findChild<QAction*>(m_entry);
        if (chosen == nullptr) {
            QTest::keyClick(menu, Qt::Key_Escape);
            return;
        }
        menu->setActiveAction(chosen);
        QTest::keyClick(menu, Qt::Key_Return);
    }

    QString m_entry;
    QTimer m_timer;
};

// A frame as the window would have it, but without a popup menu on its list.
struct FrameRig {
    explicit FrameRig(const QStringList& files) {
        std::vector<sarnika::CacheEntrySource> entries;
        for (const QString& file : files) {
            entries.push_back(
                contentEntry("http://movies.example/" + QFileInfo(file).fileName().toStdString(),
                             file.toStdString()));
        }
        cache = std::make_unique<ListUrlCache>(std::move(entries));
        frame = std::make_unique<TframeCachedFlash>(*cache, utc, guard, plainPreview);
        frame->setShellMenu([this](QWidget* owner, const QString& path, const QPoint& point) {
            calls.append({owner, path, point});
            return true;
        });
        frame->InitFrame();
        frame->RefreshList();
    }

    // A right click at `pos` of the list's viewport, as the window system delivers it; true
    // when someone took it.
    bool rightClick(const QPoint& pos) const {
        QWidget* viewport = frame->lbxFlash()->viewport();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, viewport->mapToGlobal(pos));
        QApplication::sendEvent(viewport, &event);
        return event.isAccepted();
    }
    bool menuKey() const {
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(), QPoint());
        QApplication::sendEvent(frame->lbxFlash(), &event);
        return event.isAccepted();
    }

    struct Call {
        QWidget* owner;
        QString path;
        QPoint point;
    };
    QList<Call> calls;
    UtcLocalTime utc;
    ErrorGuard guard;
    std::unique_ptr<ListUrlCache> cache;
    std::unique_ptr<TframeCachedFlash> frame;
};

} // namespace

// Stands in for the desktop's file manager on the session bus.
class FakeFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;
    bool refuse = false;

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
public slots:
    // NOLINTNEXTLINE(readability-identifier-naming): the method's name on the bus
    void ShowItems(const QStringList& uris, const QString& startupId);
};

// The per-file menu, its Properties window and the movie list's context-menu handler, offscreen,
// on copies of real movies.
class TestShellContextMenu : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void locatesFilesFoldersAndNothingElse();
    void noMenuOrADismissedOneGivesFalse();
    void actionsReachTheDesktop();
    void propertiesShowTheMovieHeader();
    void contextPopupFollowsItsSteps();
    void mainWindowShowsPopFilesInstead();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_movie;  // a copy of a real CWS movie
    QString m_broken; // a movie whose declared length cannot hold its header
    std::unique_ptr<sarnika::testing::ModalDriver> m_driver;
    sarnika::testing::UrlRecorder m_urls;
};

void TestShellContextMenu::initTestCase() {
    m_dir = std::make_unique<QTemporaryDir>();
    const QString samples = qEnvironmentVariable("SARNIKA_SHARED", QStringLiteral("../shared")) +
                            QStringLiteral("/testdata/swf/");
    m_movie = m_dir->filePath(QStringLiteral("logo[1].swf"));
    m_broken = m_dir->filePath(QStringLiteral("broken[1].swf"));
    QVERIFY(QFile::copy(samples + QStringLiteral("logo-anim_cws_v15_as2_sound.swf"), m_movie));
    QVERIFY(QFile::copy(samples + QStringLiteral("bad_fws_length_zero.swf"), m_broken));
}

void TestShellContextMenu::init() {
    m_driver = std::make_unique<ModalDriver>();
    m_urls.opened.clear();
    m_urls.install();
}

void TestShellContextMenu::cleanup() {
    m_urls.uninstall();
    QVERIFY2(m_driver->unexpected.isEmpty(), qPrintable(m_driver->unexpected.join(u'\n')));
    QVERIFY(m_driver->allAnswered());
    QVERIFY(QApplication::activePopupWidget() == nullptr);
}

void TestShellContextMenu::locatesFilesFoldersAndNothingElse() {
    const QString dir = QDir::cleanPath(m_dir->path());
    QCOMPARE(LocateShellItem(m_movie), m_movie);
    QCOMPARE(LocateShellItem(dir + QStringLiteral("/./logo[1].swf")), m_movie);
    // A folder with or without its trailing separator, and the root.
    QCOMPARE(LocateShellItem(dir), dir);
    QCOMPARE(LocateShellItem(dir + QStringLiteral("/")), dir);
    QCOMPARE(LocateShellItem(QStringLiteral("/")), QStringLiteral("/"));
    // Nothing: empty, missing, relative, or a file taken for a folder.
    for (const QString& nothing :
         QStringList{QString(), dir + QStringLiteral("/gone.swf"),
                     dir + QStringLiteral("/gone/logo[1].swf"), QStringLiteral("logo[1].swf"),
                     m_movie + QStringLiteral("/"), m_movie + QStringLiteral("/x")}) {
        QVERIFY2(LocateShellItem(nothing).isEmpty(), qPrintable(nothing));
    }
}

void TestShellContextMenu::noMenuOrADismissedOneGivesFalse() {
    QWidget owner;
    owner.setGeometry(100, 120, 300, 200);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    {
        MenuAnswer answer(QStringLiteral("miShellOpen"));
        QVERIFY(!ShowShellContextMenu(&owner, m_dir->filePath(QStringLiteral("gone.swf")), {}));
        QVERIFY(!ShowShellContextMenu(&owner, {}, {}));
        QTest::qWait(30);
        QVERIFY(!answer.seen);
    }
    MenuAnswer answer;
    QVERIFY(!ShowShellContextMenu(&owner, m_movie, QPoint(30, 40)));
    QVERIFY(answer.seen);
    QCOMPARE(answer.seen->name, QStringLiteral("popShellItem"));
    QCOMPARE(answer.seen->pos, owner.mapToGlobal(QPoint(30, 40)));
    QCOMPARE(answer.seen->entries,
             (QStringList{QStringLiteral("Open"), QStringLiteral("Show in Folder"),
                          QStringLiteral("Copy Path"), QStringLiteral("-"),
                          QStringLiteral("Properties")}));
    QVERIFY(m_urls.opened.isEmpty());
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
}

void FakeFileManager::ShowItems(const QStringList& uris, const QString& /*startupId*/) {
    if (refuse) {
        sendErrorReply(QDBusError::Failed, QStringLiteral("busy"));
        return;
    }
    shown += uris;
}

void TestShellContextMenu::actionsReachTheDesktop() {
    QWidget owner;
    const auto choose = [this, &owner](const char* entry) {
        MenuAnswer answer(QString::fromLatin1(entry));
        return ShowShellContextMenu(&owner, m_movie, {});
    };
    QVERIFY(choose("miShellCopyPath"));
    QCOMPARE(QGuiApplication::clipboard()->text(), m_movie);
    QVERIFY(choose("miShellOpen"));
    QCOMPARE(m_urls.opened, QList<QUrl>{QUrl::fromLocalFile(m_movie)});

    // "Show in Folder" asks the file manager; without one, or when it refuses, the folder
    // itself is opened.
    m_urls.opened.clear();
    const QList<QUrl> folderOpened{QUrl::fromLocalFile(QDir::cleanPath(m_dir->path()))};
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QVERIFY(choose("miShellShowInFolder"));
        QCOMPARE(m_urls.opened, folderOpened);
        QSKIP("no session bus: the file manager's side needs dbus-run-session");
    }
    FakeFileManager manager;
    const QString name = QStringLiteral("org.freedesktop.FileManager1");
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(name));
    QVERIFY(choose("miShellShowInFolder"));
    QCOMPARE(manager.shown, QStringList{QUrl::fromLocalFile(m_movie).toString()});
    QVERIFY(m_urls.opened.isEmpty());
    manager.refuse = true;
    QVERIFY(choose("miShellShowInFolder"));
    QCOMPARE(m_urls.opened, folderOpened);
    bus.unregisterService(name);
    bus.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
}

void TestShellContextMenu::propertiesShowTheMovieHeader() {
    QWidget owner;
    QStringList rows;
    const auto record = [&rows](const QList<const char*>& names) {
        return [&rows, names](QWidget* modal) {
            rows << modal->windowTitle();
            for (const char* name : names) {
                const auto* label = modal->findChild<QLabel*>(QString::fromLatin1(name));
                rows << (label != nullptr ? label->text() : QStringLiteral("-"));
            }
            ModalDriver::reject()(modal);
        };
    };
    m_driver->expect(record({"lblName", "lblFolder", "lblFormat", "lblStage", "lblFrameRate",
                             "lblFrames", "lblWarning", "lblFlashError"}));
    m_driver->expect(record({"lblFormat", "lblFlashError"}));
    m_driver->expect(record({"lblKind", "lblSize", "lblFlashError"}));
    for (const QString& item : {m_movie, m_broken, m_dir->path()}) {
        MenuAnswer answer(QStringLiteral("miShellProperties"));
        QVERIFY(ShowShellContextMenu(&owner, item, {}));
    }
    QCOMPARE(rows, (QStringList{
                       QStringLiteral("Properties of logo[1].swf"), QStringLiteral("logo[1].swf"),
                       QDir::cleanPath(m_dir->path()), QStringLiteral("CWS (zlib), version 15"),
                       QStringLiteral("600 × 400 pixels"), QStringLiteral("30 frames per second"),
                       QStringLiteral("1"), QStringLiteral("-"), QStringLiteral("-"),
                       // A damaged movie says why its header cannot be read.
                       QStringLiteral("Properties of broken[1].swf"), QStringLiteral("-"),
                       QStringLiteral("declared length 0 is too short for the movie's own header"),
                       // A folder has neither size nor header.
                       QStringLiteral("Properties of ") + QFileInfo(m_dir->path()).fileName(),
                       QStringLiteral("Folder"), QStringLiteral("-"), QStringLiteral("-")}));
}

void TestShellContextMenu::contextPopupFollowsItsSteps() {
    FrameRig rig({m_movie, m_broken});
    QListWidget* list = rig.frame->lbxFlash();
    QCOMPARE(list->count(), 2);
    rig.frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.frame.get()));
    const auto cacheFile = [&rig](std::size_t line) {
        return QString::fromStdString(rig.frame->movies()->CacheFile(line));
    };

    // No line selected: nothing.
    list->clearSelection();
    QVERIFY(!rig.rightClick(QPoint(10, 5)));
    QVERIFY(!rig.menuKey());
    QVERIFY(rig.calls.isEmpty());

    // A selected line: the menu for its cached file, owned by the frame, at the click or, from
    // the keyboard, at the selected line.
    list->setCurrentRow(0);
    QVERIFY(rig.rightClick(QPoint(10, 5)));
    list->setCurrentRow(1);
    QVERIFY(rig.menuKey());
    QCOMPARE(rig.calls.size(), 2);
    QCOMPARE(rig.calls[0].owner, rig.frame.get());
    QCOMPARE(rig.calls[0].path, cacheFile(0));
    QCOMPARE(rig.calls[0].point, list->viewport()->mapTo(rig.frame.get(), QPoint(10, 5)));
    QCOMPARE(rig.calls[1].path, cacheFile(1));
    QCOMPARE(
        rig.calls[1].point,
        list->viewport()->mapTo(rig.frame.get(), list->visualItemRect(list->item(1)).center()));

    // A list with a menu of its own keeps it: its owner is asked, or its actions are shown.
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    const QSignalSpy asked(list, &QWidget::customContextMenuRequested);
    rig.rightClick(QPoint(10, 5));
    QCOMPARE(asked.count(), 1);
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    QAction own(QStringLiteral("Own entry"));
    list->addAction(&own);
    {
        MenuAnswer answer;
        rig.menuKey();
        QVERIFY(answer.seen);
        QCOMPARE(answer.seen->entries, QStringList{QStringLiteral("Own entry")});
    }
    list->setContextMenuPolicy(Qt::DefaultContextMenu);
    QCOMPARE(rig.calls.size(), 2);

    // The real menu comes up at the click.
    rig.frame->setShellMenu(ShowShellContextMenu);
    MenuAnswer answer(QStringLiteral("miShellCopyPath"));
    QVERIFY(rig.rightClick(QPoint(12, 6)));
    QVERIFY(answer.seen);
    QCOMPARE(answer.seen->name, QStringLiteral("popShellItem"));
    QCOMPARE(answer.seen->pos, list->viewport()->mapToGlobal(QPoint(12, 6)));
    QCOMPARE(QGuiApplication::clipboard()->text(), cacheFile(1));
}

void TestShellContextMenu::mainWindowShowsPopFilesInstead() {
    const std::vector<sarnika::CacheEntrySource> entries = {
        contentEntry("http://movies.example/logo.swf", m_movie.toStdString())};
    ListUrlCache cache(entries);
    const UtcLocalTime utc;
    TfrmMain::Ports ports;
    ports.makePreview = plainPreview;
    TfrmMain window(cache, utc, std::move(ports));
    TframeCachedFlash* frame = window.frameSites();
    int shellMenus = 0;
    frame->setShellMenu([&shellMenus](QWidget*, const QString&, const QPoint&) {
        ++shellMenus;
        return true;
    });
    frame->InitFrame();
    frame->RefreshList();
    frame->lbxFlash()->setCurrentRow(0);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // A real right click through the window system, on the selected line.
    const QRect line = frame->lbxFlash()->visualItemRect(frame->lbxFlash()->item(0));
    const QPoint at = frame->lbxFlash()->viewport()->mapTo(&window, line.center());
    MenuAnswer answer;
    QTest::mouseClick(window.windowHandle(), Qt::RightButton, {}, at);
    QTRY_VERIFY(answer.seen.has_value());
    QCOMPARE(answer.seen->name, QStringLiteral("popFiles"));
    QCOMPARE(shellMenus, 0);
    window.close();
}

int main(int argc, char** argv) {
    sarnika::testing::prepareTestHome({});
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Sarnika"));
    TestShellContextMenu test;
    return QTest::qExec(&test, argc, argv);
}

#include "ShellContextMenu.test.moc"
