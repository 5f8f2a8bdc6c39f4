#include "gui/WindowPlacement.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#ifdef SARNIKA_WITH_XCB
#include <xcb/xcb.h>
#endif

namespace sarnika {
namespace {

PlacementRect toPlacement(const QRect& rect) {
    return {rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()};
}

QRect fromPlacement(const PlacementRect& rect) {
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

#ifdef SARNIKA_WITH_XCB
xcb_atom_t atomNamed(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply); // NOLINT(cppcoreguidelines-no-malloc): xcb's replies are malloc'ed
    return atom;
}

// The 32-bit values of a window's property; empty when it is not set.
std::vector<std::uint32_t> cardinals(xcb_connection_t* connection, xcb_window_t window,
                                     xcb_atom_t property, xcb_atom_t type, std::uint32_t count) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, type, 0, count), nullptr);
    std::vector<std::uint32_t> values;
    if (reply != nullptr && reply->format == 32) {
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply); // NOLINT(cppcoreguidelines-no-malloc): xcb's replies are malloc'ed
    return values;
}

std::optional<QMargins> frameExtents(xcb_connection_t* connection, xcb_window_t window,
                                     xcb_atom_t extents) {
    const std::vector<std::uint32_t> frame =
        cardinals(connection, window, extents, XCB_ATOM_CARDINAL, 4);
    if (frame.size() != 4) {
        return std::nullopt;
    }
    // left, right, top, bottom
    return QMargins(static_cast<int>(frame[0]), static_cast<int>(frame[2]),
                    static_cast<int>(frame[1]), static_cast<int>(frame[3]));
}
#endif

// The frame an X11 window manager will put around the window, asked for before the window is
// mapped (_NET_REQUEST_FRAME_EXTENTS), so that it comes up at its size rather than being
// resized once framed. Empty elsewhere, without such a window manager, or when it does not
// answer within a second.
QMargins expectedFrame(QWidget* window) {
#ifdef SARNIKA_WITH_XCB
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->connection() == nullptr) {
        return {};
    }
    xcb_connection_t* connection = x11->connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t request = atomNamed(connection, "_NET_REQUEST_FRAME_EXTENTS");
    const xcb_atom_t extents = atomNamed(connection, "_NET_FRAME_EXTENTS");
    const std::vector<std::uint32_t> supported =
        cardinals(connection, root, atomNamed(connection, "_NET_SUPPORTED"), XCB_ATOM_ATOM, 1024);
    if (request == XCB_ATOM_NONE ||
        std::find(supported.begin(), supported.end(), request) == supported.end()) {
        return {};
    }
    const auto id = static_cast<xcb_window_t>(window->winId());
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = request;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message)); // NOLINT: xcb takes the raw event
    xcb_flush(connection);
    constexpr qint64 kAnswerMs = 1000;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kAnswerMs) {
        if (const std::optional<QMargins> frame = frameExtents(connection, id, extents)) {
            return *frame;
        }
        QThread::msleep(5);
    }
#else
    static_cast<void>(window);
#endif
    return {};
}

// The frame the window manager has put around the window (_NET_FRAME_EXTENTS), read when it
// comes too late for the window's first placement: Qt notices a frame only when the window is
// configured again. Empty without one.
QMargins frameNow(QWidget* window) {
#ifdef SARNIKA_WITH_XCB
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 != nullptr && x11->connection() != nullptr) {
        xcb_connection_t* connection = x11->connection();
        return frameExtents(connection, static_cast<xcb_window_t>(window->winId()),
                            atomNamed(connection, "_NET_FRAME_EXTENTS"))
            .value_or(QMargins());
    }
#else
    static_cast<void>(window);
#endif
    return {};
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
    if (m_frame.isNull() && !m_frameAsked && hasHandle()) {
        m_frameAsked = true;
        m_frame = expectedFrame(m_window);
    }
    const QRect outer = outerTarget();
    const QSize client = outer.size().shrunkBy(m_frame);
    if (m_window->isMaximized()) {
        // The normal geometry of a maximised window is what it returns to.
        m_window->setGeometry(
            QRect(outer.topLeft() + QPoint(m_frame.left(), m_frame.top()), client));
        return;
    }
    if (!m_frame.isNull()) {
        // The frame is known: the client area goes inside it. Qt's own idea of the frame is
        // lost each time the window is mapped again (back from the tray), and a move() made
        // before it learns the frame again would put the client area at the frame's corner.
        m_window->setGeometry(
            QRect(outer.topLeft() + QPoint(m_frame.left(), m_frame.top()), client));
        return;
    }
    // No frame known yet: move() places the frame's corner; resize() sets the client area.
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
    m_unframedClient.reset();
    if (m_frame.isNull() && !m_window->isMaximized()) {
        m_unframedOuter = outerTarget();
        m_unframedClient = m_window->geometry();
    }
    m_settled = true;
    m_target.reset();
    if (m_position == FormPosition::DesktopCenter || m_position == FormPosition::ScreenCenter) {
        // Centred once; from now on the window stays where the user puts it.
        m_position = FormPosition::Designed;
    }
}

bool QtPlacementWindow::fitLateFrame() {
    if (!m_unframedClient) {
        return false;
    }
    if (!noteFrame()) {
        const QMargins frame = frameNow(m_window);
        if (frame.isNull()) {
            return false;
        }
        m_frame = frame;
    }
    const QRect placed = *m_unframedClient;
    m_unframedClient.reset();
    if (m_window->geometry().size() != placed.size()) {
        return true; // resized since: the window's size is no longer ours to fix
    }
    m_target = m_unframedOuter;
    fitOuterGeometry();
    m_target.reset();
    return true;
}

} // namespace sarnika
