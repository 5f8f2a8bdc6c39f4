#include "gui/TrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>

namespace sarnika {

QtNotificationArea::QtNotificationArea() {
    // Queued: the icon's menu runs its own event loop, and a "Restore" chosen there hides the
    // icon, which destroys the icon's window. Handled directly, the click would return into the
    // mouse handler of that destroyed window.
    connect(&m_icon, &QSystemTrayIcon::activated, this, &QtNotificationArea::activated,
            Qt::QueuedConnection);
    m_poll.setInterval(1000);
    connect(&m_poll, &QTimer::timeout, this, &QtNotificationArea::pollArea);
}

bool QtNotificationArea::available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void QtNotificationArea::listen(Receiver receiver) {
    m_receiver = std::move(receiver);
    if (m_receiver) {
        m_wasAvailable = available();
        m_poll.start();
    } else {
        m_poll.stop();
    }
}

void QtNotificationArea::pollArea() {
    const bool now = available();
    const bool cameBack = now && !m_wasAvailable;
    m_wasAvailable = now;
    if (cameBack && m_receiver) {
        m_receiver(kTaskbarCreated, 0);
    }
}

void QtNotificationArea::apply(const NotifyIconData& data) {
    const auto* image = dynamic_cast<const QtTrayImage*>(data.icon.get());
    m_icon.setIcon(image != nullptr ? image->icon() : QIcon());
    m_icon.setToolTip(QString::fromStdString(data.tip));
}

bool QtNotificationArea::add(const NotifyIconData& data) {
    apply(data);
    if (!available()) {
        return false;
    }
    m_icon.show();
    return m_icon.isVisible();
}

bool QtNotificationArea::modify(const NotifyIconData& data) {
    apply(data);
    return m_icon.isVisible();
}

bool QtNotificationArea::remove(const NotifyIconData&) {
    const bool shown = m_icon.isVisible();
    m_icon.hide();
    return shown;
}

TrayPoint QtNotificationArea::cursorPos() const {
    const QPoint where = QCursor::pos();
    return {where.x(), where.y()};
}

TrayShiftState QtNotificationArea::keyState() const {
    const Qt::KeyboardModifiers keys = QGuiApplication::queryKeyboardModifiers();
    TrayShiftState state = 0;
    if (keys.testFlag(Qt::ShiftModifier)) {
        state |= static_cast<unsigned>(TrayShift::Shift);
    }
    if (keys.testFlag(Qt::AltModifier)) {
        state |= static_cast<unsigned>(TrayShift::Alt);
    }
    if (keys.testFlag(Qt::ControlModifier)) {
        state |= static_cast<unsigned>(TrayShift::Ctrl);
    }
    return state;
}

void QtNotificationArea::cancelMode() {
    // An open drop-down or menu of the program closes before the icon's menu comes up.
    if (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();
    }
}

void QtNotificationArea::processMessages() {
    QCoreApplication::processEvents();
}

void QtNotificationArea::deliver(TrayMouseMessage message) {
    if (m_receiver) {
        m_receiver(kTrayCallbackMessage, static_cast<unsigned>(message));
    }
}

void QtNotificationArea::activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        deliver(TrayMouseMessage::LButtonDown);
        deliver(TrayMouseMessage::LButtonUp);
        break;
    case QSystemTrayIcon::Context:
        deliver(TrayMouseMessage::RButtonDown);
        deliver(TrayMouseMessage::RButtonUp);
        break;
    case QSystemTrayIcon::DoubleClick:
        deliver(TrayMouseMessage::LButtonDblClk);
        deliver(TrayMouseMessage::LButtonUp);
        break;
    case QSystemTrayIcon::MiddleClick:
        deliver(TrayMouseMessage::MButtonDown);
        deliver(TrayMouseMessage::MButtonUp);
        break;
    case QSystemTrayIcon::Unknown:
        break;
    }
}

int QtTrayMenu::itemCount() const {
    return m_menu != nullptr ? static_cast<int>(m_menu->actions().size()) : 0;
}

bool QtTrayMenu::clickDefaultItem() {
    QAction* item = m_menu != nullptr ? m_menu->defaultAction() : nullptr;
    if (item == nullptr || !item->isEnabled()) {
        return false;
    }
    item->trigger();
    return true;
}

void QtTrayMenu::popup(TrayPoint where) {
    if (m_menu != nullptr) {
        m_menu->exec(QPoint(where.x, where.y));
    }
}

} // namespace sarnika
