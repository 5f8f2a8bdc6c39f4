// The window on a desktop whose window manager frames it late: on a busy machine the frame may
// come seconds after the window is shown, or a window manager may start after the program.
#include <memory>

#include <QTest>

#include "support/gui/ServicesTestRig.h"
#include "support/gui/WindowTestSupport.h"

using namespace sarnika;
using namespace sarnika::testing;

namespace {

constexpr int kLimitMs = 60000;

} // namespace

class TestWindowLateFrame : public QObject {
    Q_OBJECT

private slots:
    void frameThatComesLateIsFitted();
};

void TestWindowLateFrame::frameThatComesLateIsFitted() {
    ServicesRig rig;
    rig.window->FormCreate();
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get(), kLimitMs));
    // No window manager yet: the window settles unframed at its declared size.
    QTRY_VERIFY_WITH_TIMEOUT(rig.window->placementSettled(), kLimitMs);
    QCOMPARE(rig.window->frameGeometry().size(), QSize(550, 437));

    const Desktop desktop;
    QVERIFY(desktop.ready());
    QTRY_VERIFY_WITH_TIMEOUT(rig.window->frameGeometry() != rig.window->geometry(), kLimitMs);
    // Framed, it keeps its outer size: the frame is taken from the client area, not added.
    QTRY_COMPARE_WITH_TIMEOUT(rig.window->frameGeometry().size(), QSize(550, 437), kLimitMs);
    takeScreenshot(QStringLiteral("late-frame.png"));
}

int main(int argc, char** argv) {
    // No desktop at the start: the test brings the window manager up late.
    return runWindowTests(
        argc, argv, [] { return std::make_unique<TestWindowLateFrame>(); }, false);
}

#include "WindowLateFrame.test.moc"
