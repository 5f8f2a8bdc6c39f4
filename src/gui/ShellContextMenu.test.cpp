#include "gui/ShellContextMenu.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDBusConnection>
#include <QDBusError>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "cache/DateTime.h"
#include "cache/ListUrlCache.h"
#include "gui/FrameCachedFlash.h"
#include "gui/MainWindow.h"
#include "gui/ShellContextMenu.test.h"
#include "support/FakeUrlCache.h"

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

QString labelText(const QWidget* dialog, const char* name) {
    const auto* label = dialog->findChild<QLabel*>(QString::fromLatin1(name));
    return label != nullptr ? label->text() : QStringLiteral("<none>");
}

} // namespace

void TestShellContextMenu::initTestCase() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
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
    QVERIFY2(m_driver->unexpected.isEmpty(), qPrintable(m_driver->unexpected.join(u'\n')));
    QVERIFY(m_driver->allAnswered());
    m_driver.reset();
    QVERIFY(QApplication::activePopupWidget() == nullptr);
}

void TestShellContextMenu::cleanupTestCase() {
    m_urls.uninstall();
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
    QCOMPARE(LocateShellItem({}), QString());
    QCOMPARE(LocateShellItem(dir + QStringLiteral("/gone.swf")), QString());
    QCOMPARE(LocateShellItem(dir + QStringLiteral("/gone/logo[1].swf")), QString());
    QCOMPARE(LocateShellItem(QStringLiteral("logo[1].swf")), QString());
    QCOMPARE(LocateShellItem(m_movie + QStringLiteral("/")), QString());
    QCOMPARE(LocateShellItem(m_movie + QStringLiteral("/x")), QString());
}

void TestShellContextMenu::pathThatNamesNothingGivesNoMenu() {
    QWidget owner;
    MenuAnswer answer(QStringLiteral("miShellOpen"));
    QVERIFY(!ShowShellContextMenu(&owner, m_dir->filePath(QStringLiteral("gone.swf")), {}));
    QVERIFY(!ShowShellContextMenu(&owner, {}, {}));
    QTest::qWait(30);
    QVERIFY(!answer.seen);
    QVERIFY(m_urls.opened.isEmpty());
}

void TestShellContextMenu::dismissingTheMenuGivesFalse() {
    QWidget owner;
    owner.setGeometry(100, 120, 300, 200);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));

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

void TestShellContextMenu::copyPathAndOpen() {
    QWidget owner;
    {
        MenuAnswer answer(QStringLiteral("miShellCopyPath"));
        QVERIFY(ShowShellContextMenu(&owner, m_movie, {}));
        QCOMPARE(QGuiApplication::clipboard()->text(), m_movie);
    }
    MenuAnswer answer(QStringLiteral("miShellOpen"));
    QVERIFY(ShowShellContextMenu(&owner, m_movie, {}));
    QCOMPARE(m_urls.opened, QList<QUrl>{QUrl::fromLocalFile(m_movie)});
}

void FakeFileManager::ShowItems(const QStringList& uris, const QString& /*startupId*/) {
    if (refuse) {
        sendErrorReply(QDBusError::Failed, QStringLiteral("busy"));
        return;
    }
    shown += uris;
}

void TestShellContextMenu::showInFolderAsksTheFileManager() {
    QWidget owner;
    const QList<QUrl> folderOpened{QUrl::fromLocalFile(QDir::cleanPath(m_dir->path()))};
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        // No bus at all: the folder itself is opened.
        MenuAnswer answer(QStringLiteral("miShellShowInFolder"));
        QVERIFY(ShowShellContextMenu(&owner, m_movie, {}));
        QCOMPARE(m_urls.opened, folderOpened);
        QSKIP("no session bus: the file manager's side needs dbus-run-session");
    }
    FakeFileManager manager;
    QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    {
        MenuAnswer answer(QStringLiteral("miShellShowInFolder"));
        QVERIFY(ShowShellContextMenu(&owner, m_movie, {}));
        QCOMPARE(manager.shown, QStringList{QUrl::fromLocalFile(m_movie).toString()});
        QVERIFY(m_urls.opened.isEmpty());
    }
    {
        // A file manager that refuses: the folder itself is opened.
        manager.refuse = true;
        MenuAnswer answer(QStringLiteral("miShellShowInFolder"));
        QVERIFY(ShowShellContextMenu(&owner, m_movie, {}));
        QCOMPARE(m_urls.opened, folderOpened);
    }
    bus.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
}

void TestShellContextMenu::propertiesShowTheMovieHeader() {
    QWidget owner;
    QStringList movieRows;
    m_driver->expect([&movieRows](QWidget* modal) {
        movieRows = {modal->objectName(),
                     modal->windowTitle(),
                     labelText(modal, "lblName"),
                     labelText(modal, "lblFolder"),
                     labelText(modal, "lblFormat"),
                     labelText(modal, "lblDeclaredLength").remove(u',').remove(u'.'),
                     labelText(modal, "lblStage"),
                     labelText(modal, "lblFrameRate"),
                     labelText(modal, "lblFrames"),
                     labelText(modal, "lblWarning")};
        QVERIFY(labelText(modal, "lblSize").contains(QStringLiteral("bytes")));
        QVERIFY(!labelText(modal, "lblModified").isEmpty());
        ModalDriver::reject()(modal);
    });
    {
        MenuAnswer answer(QStringLiteral("miShellProperties"));
        QVERIFY(ShowShellContextMenu(&owner, m_movie, {}));
    }
    QCOMPARE(
        movieRows,
        (QStringList{QStringLiteral("dlgProperties"), QStringLiteral("Properties of logo[1].swf"),
                     QStringLiteral("logo[1].swf"), QDir::cleanPath(m_dir->path()),
                     QStringLiteral("CWS (zlib), version 15"), QStringLiteral("40440 bytes"),
                     QStringLiteral("600 × 400 pixels"), QStringLiteral("30 frames per second"),
                     QStringLiteral("1"), QStringLiteral("<none>")}));

    // A damaged movie says why its header cannot be read; a folder has no size and no header.
    QStringList otherRows;
    m_driver->expect([&otherRows](QWidget* modal) {
        otherRows << labelText(modal, "lblFlashError") << labelText(modal, "lblFormat");
        ModalDriver::reject()(modal);
    });
    m_driver->expect([&otherRows](QWidget* modal) {
        otherRows << labelText(modal, "lblKind") << labelText(modal, "lblSize")
                  << labelText(modal, "lblFlashError");
        ModalDriver::reject()(modal);
    });
    for (const QString& item : {m_broken, m_dir->path()}) {
        MenuAnswer answer(QStringLiteral("miShellProperties"));
        QVERIFY(ShowShellContextMenu(&owner, item, {}));
    }
    QCOMPARE(
        otherRows,
        (QStringList{QStringLiteral("declared length 0 is too short for the movie's own header"),
                     QStringLiteral("<none>"), QStringLiteral("Folder"), QStringLiteral("<none>"),
                     QStringLiteral("<none>")}));
}

void TestShellContextMenu::contextPopupFollowsItsSteps() {
    FrameRig rig({m_movie, m_broken});
    QListWidget* list = rig.frame->lbxFlash();
    QCOMPARE(list->count(), 2);
    rig.frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.frame.get()));

    // No line selected: nothing.
    list->clearSelection();
    QVERIFY(!rig.rightClick(QPoint(10, 5)));
    QVERIFY(!rig.menuKey());
    QVERIFY(rig.calls.isEmpty());

    // A selected line: the menu for its cached file, at the click, owned by the frame.
    list->setCurrentRow(0);
    const QString first = QString::fromStdString(rig.frame->movies()->CacheFile(0));
    QVERIFY(rig.rightClick(QPoint(10, 5)));
    QCOMPARE(rig.calls.size(), 1);
    QCOMPARE(rig.calls[0].owner, rig.frame.get());
    QCOMPARE(rig.calls[0].path, first);
    QCOMPARE(rig.calls[0].point, list->viewport()->mapTo(rig.frame.get(), QPoint(10, 5)));

    // From the keyboard: at the selected line.
    list->setCurrentRow(1);
    QVERIFY(rig.menuKey());
    QCOMPARE(rig.calls.size(), 2);
    QCOMPARE(rig.calls[1].path, QString::fromStdString(rig.frame->movies()->CacheFile(1)));
    const QRect line = list->visualItemRect(list->item(1));
    QCOMPARE(rig.calls[1].point, list->viewport()->mapTo(rig.frame.get(), line.center()));

    // A list with a menu of its own keeps it: its owner is asked, this handler stays out.
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
    list->removeAction(&own);
    list->setContextMenuPolicy(Qt::DefaultContextMenu);
    QCOMPARE(rig.calls.size(), 2);

    // The handler itself: "handled" only when the menu was offered.
    bool handled = false;
    rig.frame->lbxFlashContextPopup(list, QPoint(3, 4), handled);
    QVERIFY(handled);
    QCOMPARE(rig.calls.size(), 3);
    QCOMPARE(rig.calls[2].point, list->mapTo(rig.frame.get(), QPoint(3, 4)));
    handled = false;
    list->clearSelection();
    rig.frame->lbxFlashContextPopup(list, QPoint(3, 4), handled);
    QVERIFY(!handled);
}

void TestShellContextMenu::rightClickOnTheFrameAloneShowsTheMenu() {
    FrameRig rig({m_movie});
    rig.frame->setShellMenu(ShowShellContextMenu);
    rig.frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.frame.get()));
    rig.frame->lbxFlash()->setCurrentRow(0);

    MenuAnswer answer(QStringLiteral("miShellCopyPath"));
    QVERIFY(rig.rightClick(QPoint(12, 6)));
    QVERIFY(answer.seen);
    QCOMPARE(answer.seen->name, QStringLiteral("popShellItem"));
    QCOMPARE(answer.seen->pos, rig.frame->lbxFlash()->viewport()->mapToGlobal(QPoint(12, 6)));
    QCOMPARE(QGuiApplication::clipboard()->text(), m_movie);
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
