#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sarnika {

// An image the notification area can show.
class TrayImage {
public:
    virtual ~TrayImage() = default;
    virtual bool empty() const = 0;
};

enum class TrayButton { None, Left, Right, Middle };

// Shift, Alt and Ctrl come from the keyboard; the rest from the mouse message.
enum class TrayShift : unsigned {
    Shift = 1,
    Alt = 2,
    Ctrl = 4,
    Left = 8,
    Right = 16,
    Middle = 32,
    Double = 64
};
using TrayShiftState = unsigned;
inline constexpr bool hasShift(TrayShiftState state, TrayShift flag) {
    return (state & static_cast<unsigned>(flag)) != 0;
}

struct TrayPoint {
    int x = 0;
    int y = 0;
};

// The mouse messages the notification area reports.
enum class TrayMouseMessage : unsigned {
    MouseMove = 0x200,
    LButtonDown = 0x201,
    LButtonUp = 0x202,
    LButtonDblClk = 0x203,
    RButtonDown = 0x204,
    RButtonUp = 0x205,
    RButtonDblClk = 0x206,
    MButtonDown = 0x207,
    MButtonUp = 0x208,
    MButtonDblClk = 0x209
};

// The notification record sent with every add, modify and delete.
struct NotifyIconData {
    unsigned id = 0;
    unsigned flags = 7; // message, icon and tip
    unsigned callbackMessage = 0xB054;
    std::shared_ptr<const TrayImage> icon; // none: the icon is empty
    std::string tip;                       // at most 63 characters
};

inline constexpr unsigned kTrayCallbackMessage = 0xB054;

// The system's notification area and the bits of the desktop the icon's menu needs.
class NotificationArea {
public:
    using Receiver = std::function<bool(unsigned message, unsigned lParam)>;

    virtual ~NotificationArea() = default;
    // Whether the desktop has a notification area at all.
    virtual bool available() const = 0;
    // Where the icon's notifications and the area's re-creation message go; empty stops them.
    virtual void listen(Receiver receiver) = 0;
    // True when the area accepted the icon.
    virtual bool add(const NotifyIconData& data) = 0;
    virtual bool modify(const NotifyIconData& data) = 0;
    virtual bool remove(const NotifyIconData& data) = 0;
    // The message that says the area was created again (its host restarted).
    virtual unsigned taskbarCreatedMessage() const = 0;
    virtual TrayPoint cursorPos() const = 0;
    // Shift, Alt and Ctrl as they are held now.
    virtual TrayShiftState keyState() const = 0;
    // Ends a pending mode (an open drop-down list) of the active window's focused control.
    virtual void cancelMode() = 0;
    // Brings the icon's message window to the front, so that the menu closes when the user
    // clicks elsewhere.
    virtual void foreground() = 0;
    virtual void processMessages() = 0;
};

// The icon's menu.
class TrayMenu {
public:
    virtual ~TrayMenu() = default;
    virtual bool autoPopup() const = 0;
    virtual int itemCount() const = 0;
    // The first item marked default that is enabled, clicked; false when there is none.
    virtual bool clickDefaultItem() = 0;
    // Shows the menu at the point and returns when it has closed; the chosen item has run.
    virtual void popup(TrayPoint where) = 0;
};

// A program's icon in the notification area: shown while Active; clicks and the menu on the
// right button reach the program through the events.
class TRxTrayIcon {
public:
    using MouseEvent =
        std::function<void(TRxTrayIcon& sender, TrayButton, TrayShiftState, int x, int y)>;
    using MouseMoveEvent = std::function<void(TRxTrayIcon& sender, TrayShiftState, int x, int y)>;
    using NotifyEvent = std::function<void(TRxTrayIcon& sender)>;
    using ErrorReport = std::function<void(const std::string& message)>;

    TRxTrayIcon(NotificationArea& area, ErrorReport reportError);
    ~TRxTrayIcon();
    TRxTrayIcon(const TRxTrayIcon&) = delete;
    TRxTrayIcon& operator=(const TRxTrayIcon&) = delete;

    bool Active() const { return m_active; }
    void setActive(bool active);
    bool Enabled = true;
    std::string Hint() const { return m_hint; }
    void setHint(const std::string& hint);
    std::shared_ptr<const TrayImage> Icon() const { return m_icon; }
    void setIcon(std::shared_ptr<const TrayImage> icon);
    const std::vector<std::shared_ptr<const TrayImage>>& Icons() const { return m_icons; }
    void setIcons(std::vector<std::shared_ptr<const TrayImage>> icons);
    bool Animated() const { return m_animated; }
    // Animates only while Icons holds frames.
    void setAnimated(bool animated);
    int Interval = 150;
    TrayMenu* PopupMenu = nullptr;
    MouseEvent OnClick;
    NotifyEvent OnDblClick;
    MouseMoveEvent OnMouseMove;
    MouseEvent OnMouseDown;
    MouseEvent OnMouseUp;

    bool added() const { return m_added; }

    // A message of the icon's hidden window; false when it goes to the default handling.
    bool handleMessage(unsigned message, unsigned lParam);

private:
    void showIcon();
    void hideIcon();
    void changed();
    void fillRecord();
    std::shared_ptr<const TrayImage> shownIcon() const;
    void mouseMessage(TrayMouseMessage message);
    void clickStep(TrayButton button, TrayShiftState shift, TrayPoint where);
    bool popupStep(TrayPoint where);
    void doubleClickStep();

    NotificationArea& m_area;
    ErrorReport m_reportError;
    NotifyIconData m_record;
    bool m_active = true;
    bool m_added = false;
    bool m_leftPending = false;
    bool m_rightPending = false;
    bool m_animated = false;
    bool m_destroying = false;
    std::size_t m_frame = 0;
    std::string m_hint;
    std::shared_ptr<const TrayImage> m_icon;
    std::vector<std::shared_ptr<const TrayImage>> m_icons;
};

} // namespace sarnika
