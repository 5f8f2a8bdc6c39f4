#include <memory>

#include <QAction>
#include <QApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QObject>
#include <QProcess>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include "cache/IECache.h"
#include "cache/sources/BrowserCacheLayer.h"
#include "cache/sources/SystemLocalTime.h"
#include "gui/EmbeddedWB.h"
#include "gui/MainWindow.h"
#include "gui/Settings.h"
#include "gui/TrayIcon.h"
#include "gui/WebEngineSetup.h"
#include "support/gui/WindowTestSupport.h"

using namespace sarnika;
using sarnika::sources::BrowserCacheLayer;

namespace {

// Every wait of these tests: long enough for a loaded machine, reached only by a real fault.
constexpr int kPatience = 60000;

// The demo's backgrounds are dark and close to one another: only a near-exact match counts.
bool same(QColor a, QColor b) {
    return qAbs(a.red() - b.red()) <= 4 && qAbs(a.green() - b.green()) <= 4 &&
           qAbs(a.blue() - b.blue()) <= 4;
}

QColor centreColour(QWidget* widget) {
    const QImage image = widget->grab().toImage();
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}

// The list shows the name from the address; the demo's movie files are the same in lower case.
QString movieFileOf(const QString& line) {
    return line.toLower();
}

// A helper program that runs for the whole test run.
class Helper {
public:
    explicit Helper(const QString& program, const QStringList& arguments = {}) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, arguments);
        if (!m_process.waitForStarted()) {
            qFatal("cannot start %s (is it installed? see scripts/gui-deps.sh)",
                   qPrintable(program));
        }
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;
    ~Helper() {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

private:
    QProcess m_process;
};

bool windowManagerRuns() {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
    xprop.waitForFinished(kPatience);
    return xprop.readAllStandardOutput().contains("window id");
}

bool xdotool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

bool clickAt(QPoint where, int button = 1) {
    return xdotool({QStringLiteral("mousemove"), QString::number(where.x()),
                    QString::number(where.y()), QStringLiteral("click"), QString::number(button)});
}

bool pressKeys(const QString& keys) {
    return xdotool({QStringLiteral("key"), keys});
}

// Saves the whole screen when SARNIKA_SCREENSHOTS names a folder.
void screenshot(const QString& name) {
    const QString folder = qEnvironmentVariable("SARNIKA_SCREENSHOTS");
    if (!folder.isEmpty()) {
        QProcess::execute(
            QStringLiteral("import"),
            {QStringLiteral("-window"), QStringLiteral("root"), folder + QLatin1Char('/') + name});
    }
}

// One run of the program: the window over the current user's caches with the real tray icon.
struct Session {
    Session() {
        TIECache::CheckLibrary(layer);
        TfrmMain::Ports ports;
        ports.trayArea = area;
        window = std::make_unique<TfrmMain>(layer, localTime, ports);
        window->FormCreate();
        list = window->findChild<QListWidget*>(QStringLiteral("lbxFlash"));
        preview = window->findChild<QWidget*>(QStringLiteral("wbPreview"));
    }

    // Whether the preview's centre shows the background of the movie on the list's line.
    bool shows(int row) const {
        return same(centreColour(preview),
                    testing::demoBackground(movieFileOf(list->item(row)->text())));
    }

    BrowserCacheLayer layer{BrowserCacheLayer::currentUserOptions()};
    sources::SystemLocalTime localTime;
    std::shared_ptr<QtNotificationArea> area = std::make_shared<QtNotificationArea>();
    std::unique_ptr<TfrmMain> window;
    QListWidget* list = nullptr;
    QWidget* preview = nullptr;
};

// Waits until the window sits in the tray, then clicks its icon as a user does.
bool restoreFromTray(const Session& session) {
    if (!QTest::qWaitFor([&] { return session.window->hiddenToTray(); }, kPatience)) {
        qWarning("the window did not go into the tray");
        return false;
    }
    if (!QTest::qWaitFor([&] { return !session.area->iconGeometry().isEmpty(); }, kPatience)) {
        qWarning("the tray icon did not come up");
        return false;
    }
    // A click that comes before the tray host has taken the icon in is lost: click again.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kPatience) {
        if (!clickAt(session.area->iconGeometry().center())) {
            return false;
        }
        if (QTest::qWaitFor(
                [&] { return session.window->isVisible() && !session.window->hiddenToTray(); },
                5000)) {
            return true;
        }
    }
    qWarning("a click on the tray icon did not bring the window back");
    return false;
}

} // namespace

// The whole window on the demo's caches under a real X server with a window manager (openbox)
// and a notification area (trayer): choosing a movie plays it in the preview, the preview comes
// back after the tray, and the keyboard is never caught in the movie.
class TestMainWindowPreview : public QObject {
    Q_OBJECT

private slots:
    void init();

    void selectedMoviePlays();
    void previewPlaysAfterStartingInTheTray();
    void keysLeaveTheMovie();
};

void TestMainWindowPreview::init() {
    // Each run starts as a first start: no placement of an earlier test.
    QFile::remove(QtSettingsStore().location());
}

void TestMainWindowPreview::selectedMoviePlays() {
    testing::ModalDriver modals; // an error box would otherwise stop the test
    BrowserCacheLayer layer(BrowserCacheLayer::currentUserOptions());
    TIECache::CheckLibrary(layer);
    const sources::SystemLocalTime localTime;
    TfrmMain frmMain(layer, localTime);
    frmMain.FormCreate();
    frmMain.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frmMain, kPatience));

    auto* list = frmMain.findChild<QListWidget*>(QStringLiteral("lbxFlash"));
    auto* preview = frmMain.findChild<QWidget*>(QStringLiteral("wbPreview"));
    QVERIFY(list != nullptr && preview != nullptr);
    QCOMPARE(list->count(), 7);
    QCOMPARE(list->item(0)->text(), QStringLiteral("adventure.swf"));

    // The first movie plays at start-up; the arrow keys walk the list and each movie follows.
    list->setFocus();
    for (int row = 0; row < list->count(); ++row) {
        if (row > 0) {
            QTest::keyClick(list, Qt::Key_Down);
        }
        QCOMPARE(list->currentRow(), row);
        const QString movie = movieFileOf(list->item(row)->text());
        const QColor expected = testing::demoBackground(movie);
        QVERIFY2(expected.isValid(), qPrintable(movie));
        QTRY_VERIFY2_WITH_TIMEOUT(same(centreColour(preview), expected),
                                  qPrintable(movie + QStringLiteral(": ") +
                                             centreColour(preview).name() +
                                             QStringLiteral(" instead of ") + expected.name()),
                                  kPatience);
        QVERIFY(frmMain.frameSites()->pnlNav()->currentMessage().startsWith(
            QStringLiteral("Flash movie from ")));
    }
    QVERIFY2(modals.unexpected.isEmpty(), qPrintable(modals.unexpected.join(QLatin1Char('\n'))));
}

void TestMainWindowPreview::previewPlaysAfterStartingInTheTray() {
    testing::ModalDriver modals;
    QVERIFY(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, kPatience));
    {
        // Minimised at once after start-up, while the first movie is still loading.
        Session session;
        session.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(session.window.get(), kPatience));
        session.window->showMinimized();
        QVERIFY(restoreFromTray(session));
        QTRY_VERIFY_WITH_TIMEOUT(session.shows(0), kPatience);
        // Into the tray once more, and out of the program from there.
        session.window->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(session.window->hiddenToTray(), kPatience);
        session.window->findChild<QAction*>(QStringLiteral("actExit"))->trigger();
    }
    // The next start comes up in the tray, as the last one ended; back from there, the user
    // goes straight on to another movie.
    Session session;
    session.window->show();
    // The user comes back once the program has settled in the tray, its preview asleep.
    auto* page = session.window->findChild<TEmbeddedWB*>()->view()->page();
    QTRY_COMPARE_WITH_TIMEOUT(page->lifecycleState(), QWebEnginePage::LifecycleState::Frozen,
                              kPatience);
    QVERIFY(restoreFromTray(session));
    session.list->setCurrentRow(2);
    QTRY_VERIFY_WITH_TIMEOUT(session.shows(2), kPatience);
    screenshot(QStringLiteral("preview-after-tray.png"));
    session.list->setCurrentRow(0);
    QTRY_VERIFY_WITH_TIMEOUT(session.shows(0), kPatience);
    QVERIFY2(modals.unexpected.isEmpty(), qPrintable(modals.unexpected.join(QLatin1Char('\n'))));
}

void TestMainWindowPreview::keysLeaveTheMovie() {
    testing::ModalDriver modals;
    Session session;
    session.window->show();
    QVERIFY(QTest::qWaitForWindowActive(session.window.get(), kPatience));
    QTRY_VERIFY_WITH_TIMEOUT(session.shows(0), kPatience);
    const QPoint movie = session.preview->mapToGlobal(session.preview->rect().center());
    const auto focusInMovie = [&] {
        return session.preview->isAncestorOf(QApplication::focusWidget());
    };
    const auto listFocused = [&] {
        return QApplication::focusWidget() == session.list;
    };

    // Tab and Shift+Tab take the focus from the movie back to the list.
    for (const QString& keys : {QStringLiteral("Tab"), QStringLiteral("shift+Tab")}) {
        QVERIFY(clickAt(movie));
        QTRY_VERIFY_WITH_TIMEOUT(focusInMovie(), kPatience);
        QVERIFY(pressKeys(keys));
        QTRY_VERIFY2_WITH_TIMEOUT(listFocused(), qPrintable(keys), kPatience);
    }

    // Keys the movie leaves alone reach the window's commands.
    int refreshes = 0;
    int saves = 0;
    connect(session.window->findChild<QAction*>(QStringLiteral("actRefresh")), &QAction::triggered,
            this, [&] { ++refreshes; });
    connect(session.window->findChild<QAction*>(QStringLiteral("actSave")), &QAction::triggered,
            this, [&] { ++saves; });
    modals.expect(testing::ModalDriver::reject()); // the save dialog
    QVERIFY(clickAt(movie));
    QTRY_VERIFY_WITH_TIMEOUT(focusInMovie(), kPatience);
    QVERIFY(pressKeys(QStringLiteral("ctrl+r")));
    QTRY_COMPARE_WITH_TIMEOUT(refreshes, 1, kPatience);
    QVERIFY(clickAt(movie));
    QTRY_VERIFY_WITH_TIMEOUT(focusInMovie(), kPatience);
    QVERIFY(pressKeys(QStringLiteral("s")));
    QTRY_COMPARE_WITH_TIMEOUT(saves, 1, kPatience);
    QTRY_VERIFY_WITH_TIMEOUT(modals.allAnswered(), kPatience);
    QVERIFY2(modals.unexpected.isEmpty(), qPrintable(modals.unexpected.join(QLatin1Char('\n'))));
}

namespace {

int runTests(int argc, char** argv) {
    // A server of our own, whatever DISPLAY says: the window manager and the tray host belong to
    // the test.
    testing::XServer xserver("1024x768x24");
    try {
        xserver.start();
    } catch (const std::exception& error) {
        qCritical("%s", error.what());
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    testing::prepareDemoHome();
    prepareWebEngine();
    const Helper openbox(QStringLiteral("openbox"));
    const Helper trayHost(
        QStringLiteral("trayer"),
        {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
         QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
         QStringLiteral("--width"), QStringLiteral("120"), QStringLiteral("--height"),
         QStringLiteral("28"), QStringLiteral("--transparent"), QStringLiteral("false")});
    QApplication app(argc, argv);
    QApplication::setOrganizationName(kSettingsOrganisation);
    QApplication::setApplicationName(kSettingsApplication);
    if (!QTest::qWaitFor(windowManagerRuns, kPatience)) {
        qCritical("openbox did not come up");
        return 1;
    }
    TestMainWindowPreview test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace

int main(int argc, char** argv) {
    return runTests(argc, argv);
}

#include "MainWindowPreview.test.moc"
