#include "gui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace sarnika {
namespace {

PlacementRect toPlacement(const QRect& rect) {
    return {rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

QRect fromPlacement(const PlacementRect& rect) {
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

QScreen* screenOf(const QWidget* window) {
    QScreen* screen = window->screen();
    return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

} // namespace

QtPlacementWindow::QtPlacementWindow(QWidget* window, QSize declaredSize,
                                     std::function<bool()> applicationMinimized)
    : m_window(window), m_declaredSize(declaredSize),
      m_applicationMinimized(std::move(applicationMinimized)), m_minimizeLater(new QTimer(window)) {
    m_minimizeLater->setSingleShot(true);
    m_minimizeLater->setInterval(0);
    QObject::connect(m_minimizeLater, &QTimer::timeout, window, &QWidget::showMinimized);
}

bool QtPlacementWindow::hasHandle() const {
    return m_window->testAttribute(Qt::WA_WState_Created);
}

QRect QtPlacementWindow::normalOuter() const {
    if (m_target) {
        return *m_target;
    }
    const QRect client =
        m_window->isMaximized() ? m_window->normalGeometry() : m_window->geometry();
    return client.marginsAdded(m_frame);
}

WindowPlacement QtPlacementWindow::placement() const {
    WindowPlacement placement;
    const Qt::WindowStates state = m_window->windowState();
    if (state.testFlag(Qt::WindowMinimized)) {
        placement.showCmd = kSwShowMinimized;
        // Restores to maximised.
        placement.flags = state.testFlag(Qt::WindowMaximized) ? 2 : 0;
    } else if (state.testFlag(Qt::WindowMaximized)) {
        placement.showCmd = kSwShowMaximized;
    } else {
        placement.showCmd = kSwShowNormal;
    }
    placement.minPosition = {-1, -1};
    placement.maxPosition = m_maxPosition;
    placement.normalPosition = toPlacement(normalOuter());
    return placement;
}

void QtPlacementWindow::setPlacement(const WindowPlacement& placement) {
    m_maxPosition = placement.maxPosition;
    const QRect outer = fromPlacement(placement.normalPosition);
    if (outer != normalOuter()) {
        m_target = outer;
        fitOuterGeometry();
    }
    switch (placement.showCmd) {
    case kSwShowNormal:
        m_window->showNormal();
        break;
    case kSwShowMinimized:
        m_window->showMinimized();
        break;
    case kSwShowMaximized:
        m_window->showMaximized();
        break;
    default:
        break;
    }
}

bool QtPlacementWindow::isVisible() const {
    // The widget counts as visible in its own show event; its window is mapped only after.
    const QWindow* window = m_window->windowHandle();
    return window != nullptr && window->isVisible();
}

bool QtPlacementWindow::applicationMinimized() const {
    return m_applicationMinimized ? m_applicationMinimized() : m_window->isMinimized();
}

int QtPlacementWindow::systemMetric(SystemMetric metric) const {
    const QRect screen = QGuiApplication::primaryScreen() != nullptr
                             ? QGuiApplication::primaryScreen()->geometry()
                             : QRect();
    switch (metric) {
    case SystemMetric::CxScreen:
        return screen.width();
    case SystemMetric::CyScreen:
        return screen.height();
    case SystemMetric::CxFrame:
        return m_frame.left();
    case SystemMetric::CyFrame:
        return m_frame.bottom();
    case SystemMetric::CxBorder:
    case SystemMetric::CyBorder:
        return 1;
    case SystemMetric::CxDlgFrame:
    case SystemMetric::CyDlgFrame:
        return 3;
    }
    return 0;
}

int QtPlacementWindow::pixelsPerInch() const {
    return qRound(screenOf(m_window)->logicalDotsPerInch());
}

void QtPlacementWindow::postMinimize() {
    m_minimizeLater->start();
}

PlacementRect QtPlacementWindow::bounds() const {
    return toPlacement(outerTarget());
}

FormBorderStyle QtPlacementWindow::borderStyle() const {
    return m_window->minimumSize() == m_window->maximumSize() ? FormBorderStyle::Single
                                                              : FormBorderStyle::Sizeable;
}

void QtPlacementWindow::setWindowState(WindowState state) {
    Qt::WindowStates states =
        m_window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (state == WindowState::Maximized) {
        states |= Qt::WindowMaximized;
    } else if (state == WindowState::Minimized) {
        states |= Qt::WindowMinimized;
    }
    if (states != m_window->windowState()) {
        m_window->setWindowState(states);
    }
}

void QtPlacementWindow::update() {
    m_window->update();
}

QRect QtPlacementWindow::outerTarget() const {
    if (m_target) {
        return *m_target;
    }
    if (m_position == FormPosition::DesktopCenter || m_position == FormPosition::ScreenCenter) {
        QRect outer(QPoint(), m_declaredSize);
        outer.moveCenter(screenOf(m_window)->availableGeometry().center());
        return outer;
    }
    return normalOuter();
}

void QtPlacementWindow::fitOuterGeometry() {
    noteFrame();
    const QRect outer = outerTarget();
    const QSize client = outer.size().shrunkBy(m_frame);
    if (m_window->isMaximized()) {
        // The normal geometry of a maximised window is what it returns to.
        m_window->setGeometry(
            QRect(outer.topLeft() + QPoint(m_frame.left(), m_frame.top()), client));
        return;
    }
    // move() places the frame's corner; resize() sets the client area.
    m_window->resize(client);
    m_window->move(outer.topLeft());
}

bool QtPlacementWindow::noteFrame() {
    if (m_window->isMaximized() || m_window->isMinimized()) {
        return false;
    }
    const QRect frame = m_window->frameGeometry();
    const QRect client = m_window->geometry();
    if (frame == client) {
        return false;
    }
    m_frame = QMargins(client.left() - frame.left(), client.top() - frame.top(),
                       frame.right() - client.right(), frame.bottom() - client.bottom());
    return true;
}

void QtPlacementWindow::settle() {
    fitOuterGeometry();
    m_target.reset();
    if (m_position == FormPosition::DesktopCenter || m_position == FormPosition::ScreenCenter) {
        // Centred once; from now on the window stays where the user puts it.
        m_position = FormPosition::Designed;
    }
}

} // namespace sarnika
