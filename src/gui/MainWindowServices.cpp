// The main window's side of the window services: minimising to the tray and coming back,
// the placement's frame fitting, and error reports that wait until the window is up.
#include <QEvent>
#include <QMetaObject>
#include <QTimer>

#include "gui/MainWindow.h"
#include "gui/ShellFunctions.h"
#include "gui/WindowPlacement.h"

namespace sarnika {

namespace {
constexpr int kFrameWatchMs = 50;
} // namespace

// An error box cannot open while the window is half shown; it follows once the window is up.
void TfrmMain::reportLater(const std::string& message) {
    const QString text = QString::fromStdString(message);
    if (m_stage != Stage::Showing) {
        m_guard.report(text);
        return;
    }
    m_pendingReports.append(text);
    runLater("reportPending");
}

void TfrmMain::reportPending() {
    while (!m_pendingReports.isEmpty()) {
        m_guard.report(m_pendingReports.takeFirst());
    }
}

// Calls one of the window's invokable methods once the events already waiting have been handled.
void TfrmMain::runLater(const char* method) {
    const bool queued = QMetaObject::invokeMethod(this, method, Qt::QueuedConnection);
    Q_ASSERT_X(queued, "TfrmMain::runLater", method);
}

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
    // After the state change has been handled, as the application's events come.
    runLater("dispatchAppEvents");
}

// The application's minimise and restore follow the window's state; the window hears of it
// once it has been shown, and no more once it is closed.
void TfrmMain::dispatchAppEvents() {
    const bool appMinimized = m_stage == Stage::Minimized || m_stage == Stage::InTray;
    if (m_stage != Stage::Shown && !appMinimized) {
        return;
    }
    if (isMinimized() == appMinimized) {
        return;
    }
    m_guard.run([this] {
        if (isMinimized()) {
            AppEventsMinimize();
        } else {
            AppEventsRestore();
        }
    });
}

void TfrmMain::AppEventsMinimize() {
    m_trayIco->setActive(true);
    // Without a notification area the icon cannot be the way back: the window stays a normal
    // minimised one.
    if (m_trayArea->available() && isMinimized()) {
        m_stage = Stage::InTray;
        hide();
    } else {
        m_stage = Stage::Minimized;
    }
}

void TfrmMain::AppEventsRestore() {
    // Shown from the tray, the window does not run the form's show handler again.
    if (m_stage == Stage::InTray) {
        show();
    }
    m_stage = Stage::Shown;
    m_trayIco->setActive(false);
}

void TfrmMain::trayIcoClick() {
    m_actShowMain->trigger();
}

void TfrmMain::actShowMainExecute() {
    // Still minimised until the window manager has brought it back; the restore follows then.
    if (m_stage == Stage::InTray) {
        show();
        m_stage = Stage::Minimized;
    }
    BringWindowToFront(this, true);
    m_trayIco->setActive(false);
}

} // namespace sarnika
