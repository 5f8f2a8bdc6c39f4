// The main window's side of the window services: the placement's frame fitting, and the
// window state changes that the presenter turns into minimising to the tray and coming back.
#include <QEvent>
#include <QTimer>

#include "gui/MainWindow.h"
#include "gui/WindowPlacement.h"

namespace sarnika {

namespace {
constexpr int kFrameWatchMs = 50;
} // namespace

bool TfrmMain::placementSettled() const {
    return m_placementWindow->settled();
}

void TfrmMain::startFrameWatch() {
    m_frameChecks = 0;
    m_frameWatch->setInterval(kFrameWatchMs);
    m_frameWatch->start();
}

void TfrmMain::watchForFrame() {
    // Without a window manager there is no frame, and the window settles after a second. A
    // window restored maximised or minimised is fitted once it comes back to the normal state.
    if (isMaximized() || isMinimized()) {
        m_frameWatch->stop();
        return;
    }
    constexpr int kFirstChecks = 1000 / kFrameWatchMs; // a second: a window manager that is there
    constexpr int kLateChecks = 240; // every 250 ms for a minute: one that answers late
    constexpr int kLateIntervalMs = 250;
    if (m_placementWindow->awaitingLateFrame()) {
        if (m_placementWindow->fitLateFrame() || ++m_frameChecks >= kLateChecks) {
            m_frameWatch->stop();
        }
        return;
    }
    if (m_placementWindow->noteFrame() || ++m_frameChecks >= kFirstChecks) {
        m_frameWatch->stop();
        m_placementWindow->settle();
        if (m_placementWindow->awaitingLateFrame()) {
            m_frameChecks = 0;
            m_frameWatch->setInterval(kLateIntervalMs);
            m_frameWatch->start();
        }
    }
}

void TfrmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) {
        return;
    }
    if (!isMinimized() && !isMaximized() && isVisible() && !m_frameWatch->isActive()) {
        startFrameWatch();
    }
    // The placement may change the state while the presenter is being made.
    if (m_presenter) {
        m_presenter->WindowStateChanged();
    }
}

} // namespace sarnika
