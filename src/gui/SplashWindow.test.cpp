#include "gui/SplashWindow.h"

#include <stdexcept>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include "gui/SplashWindow.test.h"
#include "winsvc/SplashLayout.h"

using sarnika::TSplashGuard;
using sarnika::TSplashWindow;

namespace {

class TextWidth final : public sarnika::TextMeasure {
public:
    explicit TextWidth(const QFont& font) : m_metrics(font) {}
    sarnika::SplashSize measureWrapped(const std::string& text, int wrapWidth) const override {
        const QRect bounds = m_metrics.boundingRect(QRect(0, 0, wrapWidth, 0), Qt::TextWordWrap,
                                                    QString::fromStdString(text));
        return {bounds.width(), bounds.height()};
    }

private:
    QFontMetrics m_metrics;
};

QList<QWidget*> visibleSplashWindows() {
    QList<QWidget*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<TSplashWindow*>(widget) != nullptr && widget->isVisible()) {
            found.append(widget);
        }
    }
    return found;
}

} // namespace

void TestSplashWindow::shownPaintedAndPlaced() {
    TSplashGuard guard;
    TSplashWindow* splash = guard.window();
    if (splash == nullptr) {
        QFAIL("no splash window");
    }
    QVERIFY(splash->isVisible());
    QCOMPARE(splash->message(), QStringLiteral("Analyzing your computer, please wait..."));
    const auto* label = splash->findChild<QLabel*>(QStringLiteral("lblMessage"));
    if (label == nullptr) {
        QFAIL("no message label");
    }
    QCOMPARE(label->text(), splash->message());
    const auto* icon = splash->findChild<QLabel*>(QStringLiteral("imgIcon"));
    QVERIFY(icon != nullptr && icon->isVisible());
    QCOMPARE(icon->geometry(), QRect(16 + 3, 16 + 3, 32, 32));
    QVERIFY(!icon->pixmap().isNull());

    const Qt::WindowFlags flags = splash->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(flags.testFlag(Qt::WindowTransparentForInput));
    QVERIFY(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
    QCOMPARE(splash->focusPolicy(), Qt::NoFocus);

    // The numbers of the layout, measured with the window's own font.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const sarnika::SplashLayout layout = sarnika::layoutSplash(
        splash->message().toStdString(), true, screen.width(), TextWidth(label->font()));
    QCOMPARE(splash->messageRect(), QRect(layout.label.left, layout.label.top, layout.label.width(),
                                          layout.label.height()));
    QCOMPARE(splash->clientSize(), QSize(layout.clientWidth, layout.clientHeight));
    QCOMPARE(splash->clientSize().height(), 64);
    const QSize outer(layout.clientWidth + 6, layout.clientHeight + 6);
    QCOMPARE(splash->size(), outer);
    const sarnika::SplashPoint origin =
        sarnika::centreIn({0, 0, screen.width(), screen.height()}, {outer.width(), outer.height()});
    QCOMPARE(splash->pos(), QPoint(origin.x, origin.y));

    // Painted before the constructor returned: a grab shows the frame and the text's ink.
    const QImage image = splash->grab().toImage();
    QVERIFY(!image.isNull());
    const QRect text = splash->messageRect().translated(3, 3);
    const QColor background = image.pixelColor(text.left() - 2, text.center().y());
    bool ink = false;
    for (int x = text.left(); x < text.right() && !ink; ++x) {
        ink = image.pixelColor(x, text.center().y()) != background;
    }
    QVERIFY(ink);
}

void TestSplashWindow::withoutPictureTheTextMovesLeft() {
    TSplashGuard guard(QIcon(), QStringLiteral("Working"));
    QCOMPARE(guard.window()->messageRect().left(), 16);
    QVERIFY(!guard.window()->findChild<QLabel*>(QStringLiteral("imgIcon"))->isVisible());
}

void TestSplashWindow::centredOnAControl() {
    QWidget owner;
    owner.setGeometry(100, 80, 500, 300);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    TSplashGuard guard(sarnika::applicationIcon(), QStringLiteral("Busy"), &owner);
    const QPoint topLeft = owner.mapToGlobal(QPoint(0, 0));
    const QSize size = guard.window()->size();
    QCOMPARE(guard.window()->pos(),
             QPoint(topLeft.x() + 250 - size.width() / 2, topLeft.y() + 150 - size.height() / 2));
}

void TestSplashWindow::guardRemovesTheWindowWhenTheScanThrows() {
    QPointer<TSplashWindow> seen;
    bool caught = false;
    try {
        const TSplashGuard guard;
        seen = guard.window();
        QVERIFY(seen->isVisible());
        throw std::runtime_error("the scan failed");
    } catch (const std::runtime_error&) {
        caught = true;
    }
    QVERIFY(caught);
    QVERIFY(seen.isNull());
    QVERIFY(visibleSplashWindows().isEmpty());
}

void TestSplashWindow::twoScansLeaveNoWindow() {
    for (int scan = 0; scan < 2; ++scan) {
        TSplashGuard guard;
        QCOMPARE(visibleSplashWindows().size(), 1);
    }
    QVERIFY(visibleSplashWindows().isEmpty());
    TSplashGuard early;
    early.close();
    QVERIFY(early.window() == nullptr);
    QVERIFY(visibleSplashWindows().isEmpty());
}

QTEST_MAIN(TestSplashWindow)
