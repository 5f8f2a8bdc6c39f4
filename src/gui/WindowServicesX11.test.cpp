#include "gui/WindowServicesX11.test.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include "gui/ServicesTestRig.h"
#include "gui/TrayIcon.h"
#include "gui/WindowTestSupport.h"

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

void xdotool(const QStringList& arguments) {
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), arguments), 0);
}

// Saves the whole screen when SARNIKA_SCREENSHOTS names a folder.
void screenshot(const QString& name) {
    const QString folder = qEnvironmentVariable("SARNIKA_SCREENSHOTS");
    if (folder.isEmpty()) {
        return;
    }
    QDir().mkpath(folder);
    QProcess::execute(QStringLiteral("import"), {QStringLiteral("-window"), QStringLiteral("root"),
                                                 folder + QLatin1Char('/') + name});
}

} // namespace

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
    screenshot(QStringLiteral("tray-icon.png"));
    const QPoint icon = area->iconGeometry().center();
    const QStringList moveThere = {QStringLiteral("mousemove"), QString::number(icon.x()),
                                   QString::number(icon.y())};

    // The right button: the menu comes up (and blocks until it closes); the window stays hidden.
    QStringList entries;
    bool windowHidden = false;
    QTimer whileMenuIsUp;
    whileMenuIsUp.setSingleShot(true);
    QObject::connect(&whileMenuIsUp, &QTimer::timeout, [&rig, &entries, &windowHidden] {
        QMenu* menu = rig.window->popTray();
        if (!menu->isVisible()) {
            return;
        }
        windowHidden = !rig.window->isVisible();
        for (const QAction* entry : menu->actions()) {
            entries.append(entry->isSeparator() ? QStringLiteral("-") : entry->text());
        }
        screenshot(QStringLiteral("tray-menu.png"));
        menu->close();
    });
    whileMenuIsUp.start(1500);
    xdotool(moveThere + QStringList{QStringLiteral("click"), QStringLiteral("3")});
    QTRY_VERIFY_WITH_TIMEOUT(!entries.isEmpty(), 5000);
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
    const QPoint iconAgain = area->iconGeometry().center();

    // The left button restores the window and takes the icon away.
    xdotool({QStringLiteral("mousemove"), QString::number(iconAgain.x()),
             QString::number(iconAgain.y()), QStringLiteral("click"), QStringLiteral("1")});
    QTRY_VERIFY(rig.window->isVisible() && !rig.window->isMinimized());
    QVERIFY(!rig.window->hiddenToTray());
    QVERIFY(!rig.window->trayIco()->Active());
    QVERIFY(!area->iconVisible());
    QTRY_VERIFY(rig.window->isActiveWindow());
    rig.window->close();
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
