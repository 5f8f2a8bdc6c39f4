#include "winsvc/RxTrayIcon.h"

#include <utility>

namespace sarnika {
namespace {

constexpr std::size_t kTipLength = 63;

unsigned flag(TrayShift shift) {
    return static_cast<unsigned>(shift);
}

} // namespace

TRxTrayIcon::TRxTrayIcon(NotificationArea& area, ErrorReport reportError)
    : m_area(area), m_reportError(std::move(reportError)) {
    m_area.listen(
        [this](unsigned message, unsigned lParam) { return handleMessage(message, lParam); });
}

TRxTrayIcon::~TRxTrayIcon() {
    m_destroying = true;
    Enabled = false;
    m_animated = false;
    hideIcon();
    m_area.listen(nullptr);
}

void TRxTrayIcon::setActive(bool active) {
    if (active == m_active) {
        return;
    }
    m_active = active;
    if (active) {
        showIcon();
    } else {
        hideIcon();
    }
}

void TRxTrayIcon::setHint(const std::string& hint) {
    m_hint = hint;
    changed();
}

void TRxTrayIcon::setIcon(std::shared_ptr<const TrayImage> icon) {
    m_icon = std::move(icon);
    changed();
}

void TRxTrayIcon::setIcons(std::vector<std::shared_ptr<const TrayImage>> icons) {
    m_icons = std::move(icons);
    m_frame = 0;
    changed();
}

void TRxTrayIcon::setAnimated(bool animated) {
    m_animated = animated && !m_icons.empty();
}

std::shared_ptr<const TrayImage> TRxTrayIcon::shownIcon() const {
    if (m_animated && m_frame < m_icons.size()) {
        return m_icons[m_frame];
    }
    return m_icon;
}

void TRxTrayIcon::fillRecord() {
    m_record = NotifyIconData{};
    m_record.icon = shownIcon();
    m_record.tip = m_hint.substr(0, m_hint.find('|')).substr(0, kTipLength);
}

void TRxTrayIcon::showIcon() {
    hideIcon();
    const std::shared_ptr<const TrayImage> icon = shownIcon();
    if (!icon || icon->empty()) {
        return;
    }
    m_leftPending = false;
    m_rightPending = false;
    fillRecord();
    m_added = m_area.add(m_record);
    if (m_record.tip.empty() && m_added) {
        m_area.modify(m_record);
    }
}

void TRxTrayIcon::hideIcon() {
    static_cast<void>(m_area.remove(m_record));
    m_added = false;
    m_leftPending = false;
    m_rightPending = false;
}

void TRxTrayIcon::changed() {
    if (m_icons.empty()) {
        m_animated = false;
    }
    if (m_added) {
        const std::shared_ptr<const TrayImage> icon = shownIcon();
        if (!icon || icon->empty()) {
            hideIcon();
        } else {
            fillRecord();
            m_area.modify(m_record);
        }
    } else if (m_active) {
        showIcon();
    }
}

bool TRxTrayIcon::handleMessage(unsigned message, unsigned lParam) {
    if (message == m_area.taskbarCreatedMessage()) {
        // The area's host came back: the icon returns only while it should be shown.
        if (m_active) {
            showIcon();
        }
        return true;
    }
    if (message != kTrayCallbackMessage || !Enabled) {
        return false;
    }
    try {
        mouseMessage(static_cast<TrayMouseMessage>(lParam));
    } catch (const std::exception& error) {
        if (m_reportError) {
            m_reportError(error.what());
        }
    }
    return true;
}

void TRxTrayIcon::mouseMessage(TrayMouseMessage message) {
    const TrayPoint where = m_area.cursorPos();
    const TrayShiftState keys = m_area.keyState();
    const auto down = [&](TrayButton button, TrayShift added) {
        if (OnMouseDown) {
            OnMouseDown(*this, button, keys | flag(added), where.x, where.y);
        }
    };
    const auto up = [&](TrayButton button, TrayShift added) {
        if (OnMouseUp) {
            OnMouseUp(*this, button, keys | flag(added), where.x, where.y);
        }
    };
    switch (message) {
    case TrayMouseMessage::MouseMove:
        if (OnMouseMove) {
            OnMouseMove(*this, keys, where.x, where.y);
        }
        break;
    case TrayMouseMessage::LButtonDown:
        down(TrayButton::Left, TrayShift::Left);
        m_leftPending = true;
        break;
    case TrayMouseMessage::LButtonUp:
        if (m_leftPending) {
            m_leftPending = false;
            clickStep(TrayButton::Left, keys | flag(TrayShift::Left), where);
        }
        up(TrayButton::Left, TrayShift::Left);
        break;
    case TrayMouseMessage::LButtonDblClk:
        doubleClickStep();
        down(TrayButton::Left, TrayShift::Double);
        break;
    case TrayMouseMessage::RButtonDown:
        down(TrayButton::Right, TrayShift::Right);
        m_rightPending = true;
        break;
    case TrayMouseMessage::RButtonUp:
        if (m_rightPending) {
            m_rightPending = false;
            clickStep(TrayButton::Right, keys | flag(TrayShift::Right), where);
        }
        up(TrayButton::Right, TrayShift::Right);
        break;
    case TrayMouseMessage::RButtonDblClk:
        down(TrayButton::Right, TrayShift::Double);
        break;
    case TrayMouseMessage::MButtonDown:
        down(TrayButton::Middle, TrayShift::Middle);
        break;
    case TrayMouseMessage::MButtonUp:
        up(TrayButton::Middle, TrayShift::Middle);
        break;
    case TrayMouseMessage::MButtonDblClk:
        down(TrayButton::Middle, TrayShift::Double);
        break;
    }
}

void TRxTrayIcon::clickStep(TrayButton button, TrayShiftState shift, TrayPoint where) {
    if (button == TrayButton::Right && popupStep(where)) {
        return;
    }
    if (OnClick) {
        OnClick(*this, button, shift, where.x, where.y);
    }
}

bool TRxTrayIcon::popupStep(TrayPoint where) {
    if (!m_active || PopupMenu == nullptr || !PopupMenu->autoPopup()) {
        return false;
    }
    if (!m_destroying) {
        m_area.cancelMode();
    }
    m_area.foreground();
    m_area.processMessages();
    try {
        PopupMenu->popup(where);
    } catch (...) {
        m_area.foreground();
        throw;
    }
    m_area.foreground();
    return true;
}

void TRxTrayIcon::doubleClickStep() {
    if (m_active && PopupMenu != nullptr && PopupMenu->itemCount() > 0 &&
        PopupMenu->clickDefaultItem()) {
        return;
    }
    if (OnDblClick) {
        OnDblClick(*this);
    }
}

} // namespace sarnika
