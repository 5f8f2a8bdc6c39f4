#include "gui/SplashWindow.h"

#include <stdexcept>

#include <QApplication>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include "winsvc/SplashLayout.h"

using sarnika::TSplashGuard;
using sarnika::TSplashWindow;

namespace {

int visibleSplashWindows() {
    int count = 0;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        count += qobject_cast<const TSplashWindow*>(widget) != nullptr && widget->isVisible();
    }
    return count;
}

} // namespace

// The splash window and its guard, offscreen.
class TestSplashWindow : public QObject {
    Q_OBJECT

private slots:
    void shownPaintedAndPlaced();
    void withoutPictureOrCentredOnAControl();
    void guardRemovesTheWindowWhenTheScanThrows();
};

void TestSplashWindow::shownPaintedAndPlaced() {
    const TSplashGuard guard;
    TSplashWindow* splash = guard.window();
    const auto* label = splash->findChild<QLabel*>(QStringLiteral("lblMessage"));
    const auto* icon = splash->findChild<QLabel*>(QStringLiteral("imgIcon"));
    if (label == nullptr || icon == nullptr) {
        QFAIL("children missing");
    }
    QVERIFY(splash->isVisible());
    QCOMPARE(label->text(), QStringLiteral("Analyzing your computer, please wait..."));
    QVERIFY(icon->isVisible() && !icon->pixmap().isNull());
    QCOMPARE(icon->geometry(), QRect(16 + 3, 16 + 3, 32, 32));
    const Qt::WindowFlags flags = splash->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint) && flags.testFlag(Qt::FramelessWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowTransparentForInput) &&
            flags.testFlag(Qt::WindowDoesNotAcceptFocus));

    // One line next to the icon, centred in the 64-pixel height; the window in the middle.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect text = label->fontMetrics().boundingRect(
        QRect(0, 0, sarnika::splashRightLimit(screen.width()) - 56, 0), Qt::TextWordWrap,
        label->text());
    QCOMPARE(splash->messageRect(), QRect(56, 32 - text.height() / 2, text.width(), text.height()));
    QCOMPARE(splash->clientSize(), QSize(56 + text.width() + 16, 64));
    QCOMPARE(splash->size(), splash->clientSize() + QSize(6, 6));
    QCOMPARE(splash->pos(), QPoint(screen.width() / 2 - splash->width() / 2,
                                   screen.height() / 2 - splash->height() / 2));

    // Painted already: the text's middle row holds ink.
    const QImage image = splash->grab().toImage();
    const QRect shown = splash->messageRect().translated(3, 3);
    const QColor background = image.pixelColor(shown.left() - 2, shown.center().y());
    bool ink = false;
    for (int x = shown.left(); x < shown.right() && !ink; ++x) {
        ink = image.pixelColor(x, shown.center().y()) != background;
    }
    QVERIFY(ink);
}

void TestSplashWindow::withoutPictureOrCentredOnAControl() {
    const TSplashGuard plain(QIcon(), QStringLiteral("Working"));
    QCOMPARE(plain.window()->messageRect().left(), 16);
    QVERIFY(!plain.window()->findChild<QLabel*>(QStringLiteral("imgIcon"))->isVisible());

    QWidget owner;
    owner.setGeometry(100, 80, 500, 300);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    const TSplashGuard guard(sarnika::applicationIcon(), QStringLiteral("Busy"), &owner);
    const QPoint topLeft = owner.mapToGlobal(QPoint(0, 0));
    const QSize size = guard.window()->size();
    QCOMPARE(guard.window()->pos(),
             QPoint(topLeft.x() + 250 - size.width() / 2, topLeft.y() + 150 - size.height() / 2));
}

void TestSplashWindow::guardRemovesTheWindowWhenTheScanThrows() {
    QPointer<TSplashWindow> seen;
    try {
        const TSplashGuard guard;
        seen = guard.window();
        QCOMPARE(visibleSplashWindows(), 1);
        throw std::runtime_error("the scan failed");
    } catch (const std::runtime_error&) {
        QVERIFY(seen.isNull());
    }
    QCOMPARE(visibleSplashWindows(), 0);

    // A second scan makes and frees its own window; close() frees it early.
    TSplashGuard again;
    QCOMPARE(visibleSplashWindows(), 1);
    again.close();
    QVERIFY(again.window() == nullptr);
    QCOMPARE(visibleSplashWindows(), 0);
}

QTEST_MAIN(TestSplashWindow)

#include "SplashWindow.test.moc"
