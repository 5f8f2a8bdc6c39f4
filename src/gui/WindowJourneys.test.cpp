#include <cstdio>
#include <memory>
#include <stdexcept>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <QWindow>

#include "gui/Program.h"
#include "gui/TrayIcon.h"
#include "support/gui/ServicesTestRig.h"
#include "support/gui/WindowTestSupport.h"

using namespace sarnika;
using namespace sarnika::testing;

namespace {

// Every wait is for a condition; a busy machine may take long to meet it.
constexpr int kLimitMs = 60000;

bool shownAndActive(QWidget* window) {
    return QTest::qWaitFor(
        [window] {
            const QWindow* handle = window->windowHandle();
            return handle != nullptr && handle->isExposed() && window->isActiveWindow();
        },
        kLimitMs);
}

// Shows the window of the rig and waits until it has the keyboard.
void showActive(const ServicesRig& rig) {
    rig.showSettled();
    rig.window->activateWindow();
    QVERIFY(shownAndActive(rig.window.get()));
}

bool noModalOpen() {
    return QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, kLimitMs);
}

// What the user sees of a dialog once it is up: its caption and the folder it offers.
struct Offer {
    QString caption;
    QString folder;
    bool columnsFit = true; // a file dialog's columns show their texts whole
};

// Whether each column of a file dialog's detail view is as wide as its texts, once it lists
// the folder's files.
bool columnsFit(const QFileDialog* dialog) {
    const auto* view = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    if (view == nullptr ||
        !QTest::qWaitFor([view] { return view->model()->rowCount(view->rootIndex()) > 0; },
                         kLimitMs)) {
        return false;
    }
    QStyleOptionViewItem option;
    option.initFrom(view->viewport());
    for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
        for (int column = 0; column < view->model()->columnCount(view->rootIndex()); ++column) {
            const QModelIndex cell = view->model()->index(row, column, view->rootIndex());
            const int wanted = view->itemDelegateForIndex(cell)->sizeHint(option, cell).width();
            if (view->header()->sectionSize(column) < wanted) {
                return false;
            }
        }
    }
    return true;
}

// Looks at a folder or save dialog once it has the keyboard, then cancels it.
ModalDriver::Answer lookAndCancel(QList<Offer>& offers) {
    return [&offers](QWidget* modal) {
        shownAndActive(modal);
        Offer offer{shownCaption(modal), {}};
        takeScreenshot(QStringLiteral("journey-%1.png").arg(modal->objectName()));
        if (const auto* files = qobject_cast<QFileDialog*>(modal)) {
            offer.folder = files->directory().absolutePath();
            offer.columnsFit = files->directory().isEmpty() || columnsFit(files);
        } else if (const auto* edit = modal->findChild<QLineEdit*>(QStringLiteral("edtFolder"))) {
            offer.folder = edit->text();
        }
        offers.append(offer);
        ModalDriver::reject()(modal);
    };
}

// The size a window has when it first appears on the screen.
class FirstExpose : public QObject {
public:
    explicit FirstExpose(QWidget* window) : m_window(window) {
        QApplication::instance()->installEventFilter(this);
    }
    QSize size;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && size.isEmpty() &&
            watched == m_window->windowHandle() && m_window->windowHandle()->isExposed()) {
            size = m_window->size();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* m_window;
};

} // namespace

// The window as a user meets it on a desktop: Xvfb, a window manager (openbox) and a
// notification area (trayer), driven with the mouse and the keyboard through xdotool.
class TestWindowJourneys : public QObject {
    Q_OBJECT

private slots:
    void init();

    void comesUpAtItsSize();
    void restoreFromTheTrayMenu();
    void startUpErrorInTheMiddleOfTheScreen();
    void savingNeverOffersTheRoot();
    void ctrlClickKeepsTheSelection();
    void refreshFindsACacheMadeAfterTheStart();
    void exportsAWebArchiveFromTheFileMenu();
};

void TestWindowJourneys::init() {
    QFile::remove(sarnikaConf());
}

void TestWindowJourneys::comesUpAtItsSize() {
    ServicesRig rig;
    rig.window->FormCreate();
    const FirstExpose first(rig.window.get());
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get(), kLimitMs));
    // Framed, the window has its declared outer size; it had it from the start.
    QTRY_VERIFY_WITH_TIMEOUT(rig.window->frameGeometry() != rig.window->geometry(), kLimitMs);
    QTRY_COMPARE_WITH_TIMEOUT(rig.window->frameGeometry().size(), QSize(550, 437), kLimitMs);
    QCOMPARE(first.size, rig.window->size());
}

void TestWindowJourneys::restoreFromTheTrayMenu() {
    auto area = std::make_shared<QtNotificationArea>();
    ServicesRig rig(area);
    rig.window->FormCreate();
    showActive(rig);
    QMenu* menu = rig.window->popTray();
    auto* restore = menu->findChild<QAction*>(QStringLiteral("Restore1"));
    QVERIFY(restore != nullptr);

    const auto menuClosed = qScopeGuard([menu] { menu->close(); });
    // Twice: the session goes on after the first return.
    for (int round = 0; round < 2; ++round) {
        rig.window->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(rig.window->hiddenToTray(), kLimitMs);
        QTRY_VERIFY_WITH_TIMEOUT(area->iconVisible() && trayIconShown(), kLimitMs);
        // The menu runs its own event loop: "Restore" is chosen from inside it.
        bool chosen = false;
        QTimer whileMenuIsUp;
        whileMenuIsUp.setInterval(50);
        QObject::connect(&whileMenuIsUp, &QTimer::timeout, [&] {
            const QWindow* shown = menu->windowHandle();
            if (chosen || shown == nullptr || !shown->isExposed()) {
                return;
            }
            chosen = true;
            takeScreenshot(QStringLiteral("journey-tray-menu.png"));
            clickAt(menu->mapToGlobal(menu->actionGeometry(restore).center()));
        });
        whileMenuIsUp.start();
        QVERIFY(clickTrayIcon(*area, 3, [&chosen] { return chosen; }));
        QTRY_VERIFY_WITH_TIMEOUT(rig.window->isVisible() && !rig.window->isMinimized(), kLimitMs);
        QVERIFY(!rig.window->hiddenToTray());
        QTRY_VERIFY_WITH_TIMEOUT(!area->iconVisible(), kLimitMs);
        QVERIFY(QTest::qWaitForWindowExposed(rig.window.get(), kLimitMs));
    }
    rig.window->close();
}

void TestWindowJourneys::startUpErrorInTheMiddleOfTheScreen() {
    // A setting of the wrong kind fails the start-up before the window is shown.
    QSettings(sarnikaConf(), QSettings::IniFormat)
        .setValue(QStringLiteral("SaveAsFolder"), QSize(4, 2));
    ModalDriver driver;
    QRect box;
    QString caption;
    driver.expect([&](QWidget* modal) {
        if (QTest::qWaitFor([modal] { return modal->windowHandle()->isExposed(); }, kLimitMs)) {
            box = modal->frameGeometry();
        }
        caption = shownCaption(modal);
        ModalDriver::click(QMessageBox::Ok)(modal);
    });
    ServicesRig rig;
    rig.window->FormCreate();
    QCOMPARE(driver.seen.size(), 1);
    QCOMPARE(caption, QStringLiteral("Sarnika"));
    const QPoint middle = rig.window->screen()->availableGeometry().center();
    // The window manager's frame may shift it a little.
    QVERIFY2(
        (box.center() - middle).manhattanLength() < 60,
        qPrintable(
            QStringLiteral("the box sits at %1,%2").arg(box.center().x()).arg(box.center().y())));
}

void TestWindowJourneys::savingNeverOffersTheRoot() {
    const QString home = QDir::homePath();
    const QString documents = home + QStringLiteral("/Documents");
    QVERIFY(QDir(documents).removeRecursively());
    const auto documentsBack = qScopeGuard([documents] { QDir().mkpath(documents); });
    ModalDriver driver;
    QList<Offer> offers;
    ServicesRig rig;
    rig.window->FormCreate();
    showActive(rig);
    const auto offered = [&](const QString& keys) {
        driver.expect(lookAndCancel(offers));
        const qsizetype before = offers.size();
        return runXdotool({QStringLiteral("key"), keys}) &&
               QTest::qWaitFor([&] { return offers.size() > before; }, kLimitMs) && noModalOpen() &&
               shownAndActive(rig.window.get());
    };

    // Without a documents folder "Save all..." offers the home folder, again after a cancel;
    // "Save as..." starts there too.
    QVERIFY(offered(QStringLiteral("ctrl+s")));
    QVERIFY(offered(QStringLiteral("ctrl+s")));
    QVERIFY(offered(QStringLiteral("s")));
    // Once the documents folder is there, it is offered.
    QVERIFY(QDir().mkpath(documents));
    QFile movie(documents + QStringLiteral("/intro.swf"));
    QVERIFY(movie.open(QIODevice::WriteOnly) && movie.write(QByteArray(123456, 'F')) == 123456);
    movie.close();
    QVERIFY(offered(QStringLiteral("ctrl+s")));
    QVERIFY(offered(QStringLiteral("s")));

    QStringList folders;
    QStringList captions;
    for (const Offer& offer : offers) {
        folders.append(offer.folder);
        captions.append(offer.caption);
        QVERIFY2(offer.columnsFit, qPrintable(offer.caption));
    }
    QCOMPARE(folders, QStringList({home, home, home, documents, documents}));
    const QString saveAll = QStringLiteral("Select directory to save movies...");
    const QString saveAs = QStringLiteral("Save Flash movie as...");
    QCOMPARE(captions, QStringList({saveAll, saveAll, saveAs, saveAll, saveAs}));
    QVERIFY2(driver.unexpected.isEmpty(), qPrintable(driver.unexpected.join(QLatin1Char('\n'))));
}

void TestWindowJourneys::ctrlClickKeepsTheSelection() {
    ModalDriver driver;
    ServicesRig rig;
    rig.window->FormCreate();
    showActive(rig);
    QListWidget* list = rig.window->frameSites()->lbxFlash();
    QVERIFY(list->count() > 1);
    QCOMPARE(list->currentRow(), 0);
    const QString status = rig.window->frameSites()->statusText();
    const auto lineAt = [list](int row) {
        return list->viewport()->mapToGlobal(list->visualItemRect(list->item(row)).center());
    };

    // Ctrl+click on the selected line; "Save as..." still has its movie and offers it.
    QVERIFY(clickAt(lineAt(0), 1, QStringLiteral("ctrl")));
    QList<Offer> offers;
    driver.expect(lookAndCancel(offers));
    QVERIFY(runXdotool({QStringLiteral("key"), QStringLiteral("s")}));
    QTRY_COMPARE_WITH_TIMEOUT(offers.size(), 1, kLimitMs);
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(list->currentRow(), 0);
    QCOMPARE(rig.window->frameSites()->statusText(), status);

    // Hovering a line tells whose cache its movie is in.
    QVERIFY(noModalOpen() && shownAndActive(rig.window.get()));
    QVERIFY(runXdotool({QStringLiteral("mousemove"), QString::number(lineAt(1).x()),
                        QString::number(lineAt(1).y())}));
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), kLimitMs);
    takeScreenshot(QStringLiteral("journey-tooltip.png"));
    QVERIFY2(QToolTip::text().startsWith(QStringLiteral("From the cache of Chromium (Default)\n")),
             qPrintable(QToolTip::text()));
    // ... and whose files they are: the user's own, here.
    QVERIFY2(QToolTip::text().section(QLatin1Char('\n'), 1, 1).startsWith(QStringLiteral("User: ")),
             qPrintable(QToolTip::text()));
    QVERIFY(driver.unexpected.isEmpty());
}

void TestWindowJourneys::refreshFindsACacheMadeAfterTheStart() {
    const QString cache = QDir::homePath() + QStringLiteral("/.cache/chromium");
    const QString later = QDir::homePath() + QStringLiteral("/chromium-later");
    QVERIFY(QDir().rename(cache, later));
    const auto cacheBack = qScopeGuard([&] { QDir().rename(later, cache); });
    ModalDriver driver;
    QString caption;
    driver.expect([&caption](QWidget* modal) {
        shownAndActive(modal);
        caption = shownCaption(modal);
        ModalDriver::click(QMessageBox::Ok)(modal);
    });
    ServicesRig rig;
    rig.window->FormCreate();
    showActive(rig);
    QListWidget* list = rig.window->frameSites()->lbxFlash();
    QTRY_COMPARE_WITH_TIMEOUT(caption, QStringLiteral("Sorry"), kLimitMs);
    QVERIFY(noModalOpen() && shownAndActive(rig.window.get()));
    QCOMPARE(list->count(), 0);

    // The browser makes its cache; Ctrl+R finds it.
    QVERIFY(QDir().rename(later, cache));
    QVERIFY(runXdotool({QStringLiteral("key"), QStringLiteral("ctrl+r")}));
    QTRY_VERIFY_WITH_TIMEOUT(list->count() > 0, kLimitMs);
    QCOMPARE(list->currentRow(), 0);
    QVERIFY(driver.unexpected.isEmpty());
}

// From the File menu with the keyboard: the archive goes where the user says, holds every
// listed movie, and the window says how much it wrote.
void TestWindowJourneys::exportsAWebArchiveFromTheFileMenu() {
    const QTemporaryDir out;
    const QString archive = out.filePath(QStringLiteral("rescued.warc.gz"));
    ModalDriver driver;
    QString folderOffered;
    driver.expect([&](QWidget* modal) {
        shownAndActive(modal);
        auto* files = qobject_cast<QFileDialog*>(modal);
        QVERIFY(files != nullptr);
        folderOffered = files->directory().absolutePath();
        auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name != nullptr);
        name->setText(archive);
        QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
    });
    QString told;
    driver.expect([&told](QWidget* modal) {
        shownAndActive(modal);
        told = qobject_cast<QMessageBox*>(modal)->text();
        ModalDriver::click(QMessageBox::No)(modal);
    });
    ServicesRig rig;
    rig.window->FormCreate();
    showActive(rig);
    const int movies = rig.window->frameSites()->lbxFlash()->count();
    QVERIFY(movies > 0);
    // Alt takes the keyboard to the menu bar, Down opens File on its first entry; the third.
    QVERIFY(runXdotool({QStringLiteral("key"), QStringLiteral("alt")}));
    QVERIFY(runXdotool({QStringLiteral("key"), QStringLiteral("Down")}));
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activePopupWidget() != nullptr, kLimitMs);
    QVERIFY(runXdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Down"),
                        QStringLiteral("Return")}));
    QTRY_VERIFY_WITH_TIMEOUT(driver.allAnswered(), kLimitMs);
    QCOMPARE(folderOffered, QDir(QDir::homePath() + QStringLiteral("/Documents")).exists()
                                ? QDir::homePath() + QStringLiteral("/Documents")
                                : QDir::homePath());
    // The movies come with the other files of their sites: pages, images, scripts.
    const QRegularExpressionMatch counts =
        QRegularExpression(QStringLiteral("^(\\d+) movie\\(s\\) and (\\d+) other file\\(s\\) of "
                                          "their sites archived in \"rescued.warc.gz\""))
            .match(told);
    QVERIFY2(counts.hasMatch(), qPrintable(told));
    QCOMPARE(counts.captured(1).toInt(), movies);
    const int siteFiles = counts.captured(2).toInt();
    QVERIFY(siteFiles > 0);
    QProcess gunzip;
    gunzip.start(QStringLiteral("gzip"), {QStringLiteral("-dc"), archive});
    QVERIFY(gunzip.waitForFinished(kLimitMs) && gunzip.exitCode() == 0);
    const QByteArray records = gunzip.readAllStandardOutput();
    QCOMPARE(records.count("WARC-Type: response"), movies + siteFiles);
    QVERIFY(records.contains("WARC-Target-URI: http://127.0.0.1:18473/img/pic.png\r\n"));
    QVERIFY(noModalOpen() && shownAndActive(rig.window.get()));
    QVERIFY2(driver.unexpected.isEmpty(), qPrintable(driver.unexpected.join(QLatin1Char('\n'))));
}

int main(int argc, char** argv) {
    return runWindowTests(argc, argv, [] { return std::make_unique<TestWindowJourneys>(); });
}

#include "WindowJourneys.test.moc"
