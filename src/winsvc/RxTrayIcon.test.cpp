#include "winsvc/RxTrayIcon.h"

#include <stdexcept>

#include <gtest/gtest.h>

namespace sarnika {
namespace {

class Image final : public TrayImage {
public:
    explicit Image(bool isEmpty = false) : m_empty(isEmpty) {}
    bool empty() const override { return m_empty; }

private:
    bool m_empty;
};

// Records what the icon asks of the notification area, in order.
class FakeArea final : public NotificationArea {
public:
    std::vector<std::string> calls;
    bool accept = true;
    NotifyIconData last;
    Receiver receiver;

    bool available() const override { return true; }
    void listen(Receiver newReceiver) override { receiver = std::move(newReceiver); }
    bool add(const NotifyIconData& data) override {
        calls.emplace_back("add");
        last = data;
        return accept;
    }
    bool modify(const NotifyIconData& data) override {
        calls.emplace_back("modify");
        last = data;
        return true;
    }
    bool remove(const NotifyIconData&) override {
        calls.emplace_back("delete");
        return false;
    }
    unsigned taskbarCreatedMessage() const override { return 0xC123; }
    TrayPoint cursorPos() const override { return {1000, 750}; }
    TrayShiftState keyState() const override { return static_cast<unsigned>(TrayShift::Ctrl); }
    void cancelMode() override { calls.emplace_back("cancel"); }
    void foreground() override { calls.emplace_back("foreground"); }
    void processMessages() override { calls.emplace_back("process"); }
};

class FakeMenu final : public TrayMenu {
public:
    explicit FakeMenu(std::vector<std::string>& calls) : m_calls(calls) {}
    bool autoPopup() const override { return autoPopupOn; }
    int itemCount() const override { return 8; }
    bool clickDefaultItem() override {
        m_calls.emplace_back("default item");
        return hasDefault;
    }
    void popup(TrayPoint where) override {
        m_calls.push_back("popup " + std::to_string(where.x) + "," + std::to_string(where.y));
        if (fail) {
            throw std::runtime_error("menu action failed");
        }
    }
    bool autoPopupOn = true;
    bool hasDefault = false;
    bool fail = false;

private:
    std::vector<std::string>& m_calls;
};

// The icon as the main window configures it: inactive, with its image, menu and click handler.
struct Rig {
    FakeArea area;
    FakeMenu menu{area.calls};
    std::vector<std::string> errors;
    TRxTrayIcon tray{area, [this](const std::string& text) {
                         errors.push_back(text);
                     }};

    Rig() {
        tray.setActive(false);
        tray.setIcon(std::make_shared<Image>());
        tray.PopupMenu = &menu;
        tray.OnClick = [this](TRxTrayIcon&, TrayButton button, TrayShiftState shift, int x, int y) {
            area.calls.push_back(std::string("click ") +
                                 (button == TrayButton::Left ? "left" : "right") +
                                 (hasShift(shift, TrayShift::Ctrl) ? " ctrl" : "") + " " +
                                 std::to_string(x) + "," + std::to_string(y));
        };
        area.calls.clear();
    }
    // As the area delivers it.
    void mouse(TrayMouseMessage message) const {
        EXPECT_TRUE(area.receiver(kTrayCallbackMessage, static_cast<unsigned>(message)));
    }
    std::vector<std::string> take() { return std::exchange(area.calls, {}); }
};

using Calls = std::vector<std::string>;

TEST(RxTrayIcon, ActiveAddsOnceAndHidesWithoutMinding) {
    FakeArea area;
    {
        TRxTrayIcon tray(area, nullptr);
        // Active from the start, without an image: turning it off only deletes.
        EXPECT_TRUE(tray.Active());
        tray.setActive(false);
        EXPECT_EQ(area.calls, Calls{"delete"});
        tray.setActive(false);
        EXPECT_EQ(area.calls, Calls{"delete"});

        // Without an image nothing is shown even while active.
        tray.setIcon(std::make_shared<Image>(true));
        tray.setActive(true);
        EXPECT_FALSE(tray.added());
        area.calls.clear();

        tray.setIcon(std::make_shared<Image>());
        EXPECT_EQ(area.calls, (Calls{"delete", "add", "modify"}));
        EXPECT_TRUE(tray.added());
        EXPECT_EQ(area.last.callbackMessage, 0xB054U);
        EXPECT_EQ(area.last.flags, 7U);
        EXPECT_EQ(area.last.tip, "");
        area.calls.clear();
        tray.setActive(true);
        EXPECT_TRUE(area.calls.empty());
    }
    // Destroying the icon takes it out of the area and stops listening.
    EXPECT_EQ(area.calls, Calls{"delete"});
    EXPECT_FALSE(area.receiver);
}

TEST(RxTrayIcon, RefusedAddIsNotRetriedUntilShownAgain) {
    Rig rig;
    rig.area.accept = false;
    rig.tray.setActive(true);
    EXPECT_EQ(rig.take(), (Calls{"delete", "add"}));
    EXPECT_FALSE(rig.tray.added());
    rig.tray.setActive(true);
    EXPECT_TRUE(rig.take().empty());
}

TEST(RxTrayIcon, HintBeforeTheBarCutTo63) {
    Rig rig;
    rig.tray.setActive(true);
    rig.take();
    rig.tray.setHint(std::string(70, 'h') + "|long");
    EXPECT_EQ(rig.take(), Calls{"modify"});
    EXPECT_EQ(rig.area.last.tip, std::string(63, 'h'));
    rig.tray.setHint("Sarnika|more");
    EXPECT_EQ(rig.area.last.tip, "Sarnika");
    rig.take();
    // With a tip the add needs no modify after it.
    rig.tray.setActive(false);
    rig.tray.setActive(true);
    EXPECT_EQ(rig.take(), (Calls{"delete", "delete", "add"}));
    // Emptying the image of an added icon takes it away.
    rig.tray.setIcon(nullptr);
    EXPECT_EQ(rig.take(), Calls{"delete"});
    EXPECT_FALSE(rig.tray.added());
}

TEST(RxTrayIcon, LeftClickNeedsPressAndRelease) {
    Rig rig;
    rig.tray.setActive(true);
    rig.take();
    rig.mouse(TrayMouseMessage::LButtonUp);
    EXPECT_TRUE(rig.take().empty());
    rig.mouse(TrayMouseMessage::MouseMove);
    rig.mouse(TrayMouseMessage::LButtonDown);
    rig.mouse(TrayMouseMessage::LButtonUp);
    EXPECT_EQ(rig.take(), Calls{"click left ctrl 1000,750"});
    // A press before the icon was shown again does not count.
    rig.mouse(TrayMouseMessage::LButtonDown);
    rig.tray.setActive(false);
    rig.tray.setActive(true);
    rig.take();
    rig.mouse(TrayMouseMessage::LButtonUp);
    EXPECT_TRUE(rig.take().empty());
}

TEST(RxTrayIcon, RightClickShowsTheMenuInsteadOfClicking) {
    Rig rig;
    rig.tray.setActive(true);
    rig.take();
    rig.mouse(TrayMouseMessage::RButtonDown);
    rig.mouse(TrayMouseMessage::RButtonUp);
    EXPECT_EQ(rig.take(),
              (Calls{"cancel", "foreground", "process", "popup 1000,750", "foreground"}));

    // A menu action that fails: reported, the window comes to the front again.
    rig.menu.fail = true;
    rig.mouse(TrayMouseMessage::RButtonDown);
    rig.mouse(TrayMouseMessage::RButtonUp);
    EXPECT_EQ(rig.take().back(), "foreground");
    EXPECT_EQ(rig.errors, std::vector<std::string>{"menu action failed"});
    rig.menu.fail = false;

    // Without its menu a right click is a click.
    rig.menu.autoPopupOn = false;
    rig.mouse(TrayMouseMessage::RButtonDown);
    rig.mouse(TrayMouseMessage::RButtonUp);
    EXPECT_EQ(rig.take(), Calls{"click right ctrl 1000,750"});
}

TEST(RxTrayIcon, DoubleClickRestoresWithItsFirstClickOnly) {
    Rig rig;
    rig.tray.setActive(true);
    rig.take();
    int dblClicks = 0;
    rig.tray.OnDblClick = [&dblClicks](TRxTrayIcon&) {
        ++dblClicks;
    };
    // The program's click handler turns the icon off, as restoring does.
    const auto onClick = rig.tray.OnClick;
    rig.tray.OnClick = [onClick](TRxTrayIcon& sender, TrayButton button, TrayShiftState shift,
                                 int x, int y) {
        onClick(sender, button, shift, x, y);
        sender.setActive(false);
    };
    rig.mouse(TrayMouseMessage::LButtonDown);
    rig.mouse(TrayMouseMessage::LButtonUp);
    rig.mouse(TrayMouseMessage::LButtonDblClk);
    rig.mouse(TrayMouseMessage::LButtonUp);
    EXPECT_EQ(rig.take(), (Calls{"click left ctrl 1000,750", "delete"}));
    // Inactive: no default item is looked for.
    EXPECT_EQ(dblClicks, 1);

    // Active with a default item: that item runs instead of the event.
    rig.tray.setActive(true);
    rig.menu.hasDefault = true;
    rig.take();
    rig.mouse(TrayMouseMessage::LButtonDblClk);
    EXPECT_EQ(rig.take(), Calls{"default item"});
    EXPECT_EQ(dblClicks, 1);
}

TEST(RxTrayIcon, MiddleButtonAndDisabledDoNothing) {
    Rig rig;
    rig.tray.setActive(true);
    rig.take();
    std::vector<TrayButton> downs;
    rig.tray.OnMouseDown = [&downs](TRxTrayIcon&, TrayButton button, TrayShiftState shift, int,
                                    int) {
        downs.push_back(button);
        EXPECT_TRUE(hasShift(shift, TrayShift::Middle) || hasShift(shift, TrayShift::Double));
    };
    rig.mouse(TrayMouseMessage::MButtonDown);
    rig.mouse(TrayMouseMessage::MButtonUp);
    rig.mouse(TrayMouseMessage::MButtonDblClk);
    EXPECT_TRUE(rig.take().empty());
    EXPECT_EQ(downs, (std::vector<TrayButton>{TrayButton::Middle, TrayButton::Middle}));

    rig.tray.Enabled = false;
    EXPECT_FALSE(rig.tray.handleMessage(kTrayCallbackMessage,
                                        static_cast<unsigned>(TrayMouseMessage::LButtonDown)));
    EXPECT_FALSE(rig.tray.handleMessage(kTrayCallbackMessage,
                                        static_cast<unsigned>(TrayMouseMessage::LButtonUp)));
    EXPECT_TRUE(rig.take().empty());
    EXPECT_FALSE(rig.tray.handleMessage(0x10, 0));
}

TEST(RxTrayIcon, AreaComingBackShowsTheIconOnlyWhileActive) {
    Rig rig;
    EXPECT_TRUE(rig.tray.handleMessage(0xC123, 0));
    EXPECT_TRUE(rig.take().empty());
    rig.tray.setActive(true);
    rig.take();
    EXPECT_TRUE(rig.tray.handleMessage(0xC123, 0));
    EXPECT_EQ(rig.take(), (Calls{"delete", "add", "modify"}));
    EXPECT_TRUE(rig.tray.added());
}

} // namespace
} // namespace sarnika
