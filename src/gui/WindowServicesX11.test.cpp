#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include "gui/TrayIcon.h"
#include "support/gui/ServicesTestRig.h"
#include "support/gui/WindowTestSupport.h"

using namespace sarnika;
using namespace sarnika::testing;

namespace {

// ctest reports this exit code as a skipped test.
constexpr int kSkipped = 77;

// A helper program that runs for the whole test and is stopped at its end.
class Helper {
public:
    explicit Helper(const QString& program, const QStringList& arguments = {}) {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        start();
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;
    ~Helper() { stop(); }

    void start() {
        m_process.start();
        if (!m_process.waitForStarted()) {
            qFatal("cannot start %s (is it installed? see scripts/gui-deps.sh)",
                   qPrintable(m_process.program()));
        }
    }
    void stop() {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

private:
    QProcess m_process;
};

// The notification area's host, which a test restarts.
std::unique_ptr<Helper> trayHost;

bool windowManagerRuns() {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
    xprop.waitForFinished();
    return xprop.readAllStandardOutput().contains("window id");
}

} // namespace

// The placement and the tray icon on a real X server (Xvfb) with a window manager (openbox) and
// a notification area (trayer), driven by xdotool.
class TestWindowServicesX11 : public QObject {
    Q_OBJECT

private slots:
    void init();

    void reopensAtTheSamePlaceAndSizeUnderAWindowManager();
    void trayIconRestoresOnClickAndOffersItsMenu();
    void comesBackFromTheTrayWhereItWas();
};

void TestWindowServicesX11::init() {
    QFile::remove(sarnikaConf());
}

void TestWindowServicesX11::reopensAtTheSamePlaceAndSizeUnderAWindowManager() {
    QRect closedAt;
    QString stored;
    {
        ServicesRig rig;
        rig.window->FormCreate();
        rig.showSettled();
        // The frame is there and the outer size is the declared one.
        QVERIFY(rig.window->frameGeometry() != rig.window->geometry());
        QCOMPARE(rig.window->frameGeometry().size(), QSize(550, 437));
        rig.window->move(130, 90);
        QTRY_COMPARE(rig.window->frameGeometry().topLeft(), QPoint(130, 90));
        closedAt = rig.window->frameGeometry();
        rig.window->close();
        stored = placementValue(QStringLiteral("NormPos"));
        QCOMPARE(stored, QStringLiteral("130,90,680,527"));
    }
    for (int run = 0; run < 2; ++run) {
        ServicesRig rig;
        rig.window->FormCreate();
        rig.showSettled();
        QCOMPARE(rig.window->frameGeometry(), closedAt);
        rig.window->close();
        QCOMPARE(placementValue(QStringLiteral("NormPos")), stored);
    }
}

void TestWindowServicesX11::trayIconRestoresOnClickAndOffersItsMenu() {
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    auto area = std::make_shared<QtNotificationArea>();
    ServicesRig rig(area);
    rig.window->FormCreate();
    rig.showSettled();
    QVERIFY(!area->iconVisible());

    rig.window->showMinimized();
    QTRY_VERIFY(rig.window->hiddenToTray());
    QVERIFY(!rig.window->isVisible());
    QVERIFY(area->iconVisible());
    QTRY_VERIFY(!area->iconGeometry().isEmpty());
    QTest::qWait(500);
    takeScreenshot(QStringLiteral("tray-icon.png"));

    // The right button: the menu comes up (and blocks until it closes); the window stays hidden.
    QStringList entries;
    bool windowHidden = false;
    QTimer whileMenuIsUp;
    whileMenuIsUp.setInterval(50);
    QObject::connect(&whileMenuIsUp, &QTimer::timeout, [&rig, &entries, &windowHidden] {
        QMenu* menu = rig.window->popTray();
        if (!entries.isEmpty() || !menu->isVisible()) {
            return;
        }
        windowHidden = !rig.window->isVisible();
        for (const QAction* entry : menu->actions()) {
            entries.append(entry->isSeparator() ? QStringLiteral("-") : entry->text());
        }
        takeScreenshot(QStringLiteral("tray-menu.png"));
        menu->close();
    });
    whileMenuIsUp.start();
    QVERIFY(clickTrayIcon(*area, 3, [&entries] { return !entries.isEmpty(); }));
    QCOMPARE(entries,
             (QStringList{QStringLiteral("Restore"), QStringLiteral("About"), QStringLiteral("-"),
                          QStringLiteral("Save all..."), QStringLiteral("-"),
                          QStringLiteral("Refresh"), QStringLiteral("-"), QStringLiteral("Exit")}));
    QVERIFY(windowHidden);
    QTest::qWait(300);
    QVERIFY(rig.window->hiddenToTray());

    // The area's host goes away and comes back: the icon is there again.
    trayHost->stop();
    QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 5000);
    trayHost->start();
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(area->iconVisible() && !area->iconGeometry().isEmpty(), 10000);
    QTest::qWait(1000);
    QVERIFY(rig.window->hiddenToTray());

    // The left button restores the window and takes the icon away.
    QVERIFY(clickTrayIcon(
        *area, 1, [&rig] { return rig.window->isVisible() && !rig.window->isMinimized(); }));
    QVERIFY(!rig.window->hiddenToTray());
    QVERIFY(!rig.window->trayIco()->Active());
    QVERIFY(!area->iconVisible());
    QTRY_VERIFY(rig.window->isActiveWindow());
    rig.window->close();
}

// Left in the tray, the window starts in the tray next time; clicked back, it is where it was
// (as the window manager shows it: a window placed as if it had no frame creeps up by a title
// bar at each start).
void TestWindowServicesX11::comesBackFromTheTrayWhereItWas() {
    // Run by hand (-skipped cases are listed): on a machine loaded beyond its cores the window
    // manager can take longer than the waits below to map, frame or iconify the window.
    QSKIP("timing-sensitive under heavy load; run by hand");
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 60000);
    const QPoint where(130, 90);
    for (int run = 0; run < 4; ++run) {
        auto area = std::make_shared<QtNotificationArea>();
        ServicesRig rig(area);
        rig.window->FormCreate();
        if (run == 0) {
            rig.showSettled();
            rig.window->move(where);
            QTRY_COMPARE(outerOnScreen(rig.window.get()).topLeft(), where);
        } else {
            rig.window->show();
            QTRY_VERIFY_WITH_TIMEOUT(rig.window->hiddenToTray(), 60000);
            QVERIFY(clickTrayIcon(*area, 1, [&rig] {
                return rig.window->isVisible() && !rig.window->isMinimized();
            }));
            QTRY_VERIFY_WITH_TIMEOUT(rig.window->placementSettled(), 60000);
            QTRY_COMPARE_WITH_TIMEOUT(outerOnScreen(rig.window.get()),
                                      QRect(where, QSize(550, 437)), 60000);
        }
        rig.window->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(rig.window->hiddenToTray(), 60000);
        rig.window->findChild<QAction*>(QStringLiteral("actExit"))->trigger();
    }
}

namespace {

int runTests(int argc, char** argv) {
    sarnika::testing::XServer xserver("1024x768x24");
    try {
        xserver.start();
    } catch (const std::exception&) {
        std::puts(
            "SKIP: Xvfb is not installed (Debian package xvfb); these tests need an X server.");
        return kSkipped;
    }
    sarnika::testing::prepareTestHome({QStringLiteral("chromium-cache.tar.gz")});
    qputenv("QT_QPA_PLATFORM", "xcb");
    const Helper openbox(QStringLiteral("openbox"));
    trayHost = std::make_unique<Helper>(
        QStringLiteral("trayer"),
        QStringList{QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
                    QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                    QStringLiteral("--width"), QStringLiteral("120"), QStringLiteral("--height"),
                    QStringLiteral("28"), QStringLiteral("--transparent"),
                    QStringLiteral("false")});
    const auto stopTrayHost = qScopeGuard([] { trayHost.reset(); });
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Sarnika"));
    if (!QTest::qWaitFor(windowManagerRuns, 10000)) {
        qCritical("openbox did not come up");
        return 1;
    }
    TestWindowServicesX11 test;
    return QTest::qExec(&test, argc, argv);
}

} // namespace

int main(int argc, char** argv) {
    try {
        return runTests(argc, argv);
    } catch (const std::exception& error) {
        qCritical("%s", error.what());
    }
    return 1;
}

#include "WindowServicesX11.test.moc"
