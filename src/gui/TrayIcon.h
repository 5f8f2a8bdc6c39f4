#pragma once

#include <memory>

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include "winsvc/RxTrayIcon.h"

namespace sarnika {

class QtTrayImage final : public TrayImage {
public:
    explicit QtTrayImage(QIcon icon) : m_icon(std::move(icon)) {}
    bool empty() const override { return m_icon.isNull(); }
    const QIcon& icon() const { return m_icon; }

private:
    QIcon m_icon;
};

// The notification area through QSystemTrayIcon. Qt reports finished clicks rather than button
// messages, so each is handed on as the press and release it stands for. Qt has no signal
// for a tray host that comes back, so availability is polled while someone listens.
class QtNotificationArea final : public QObject, public NotificationArea {
    Q_OBJECT

public:
    static constexpr unsigned kTaskbarCreated = 0xC0F0;

    QtNotificationArea();

    bool available() const override;
    void listen(Receiver receiver) override;
    bool add(const NotifyIconData& data) override;
    bool modify(const NotifyIconData& data) override;
    bool remove(const NotifyIconData& data) override;
    unsigned taskbarCreatedMessage() const override { return kTaskbarCreated; }
    TrayPoint cursorPos() const override;
    TrayShiftState keyState() const override;
    void cancelMode() override;
    void foreground() override {}
    void processMessages() override;

    // Where the icon sits on the screen (empty while it is not shown).
    QRect iconGeometry() const { return m_icon.geometry(); }
    bool iconVisible() const { return m_icon.isVisible(); }

private:
    void activated(QSystemTrayIcon::ActivationReason reason);
    void deliver(TrayMouseMessage message);
    void apply(const NotifyIconData& data);
    void pollArea();

    QSystemTrayIcon m_icon;
    Receiver m_receiver;
    QTimer m_poll;
    bool m_wasAvailable = false;
};

// The icon's menu over a QMenu.
class QtTrayMenu final : public TrayMenu {
public:
    explicit QtTrayMenu(QMenu* menu) : m_menu(menu) {}
    bool autoPopup() const override { return true; }
    int itemCount() const override;
    bool clickDefaultItem() override;
    void popup(TrayPoint where) override;

private:
    QPointer<QMenu> m_menu;
};

} // namespace sarnika
