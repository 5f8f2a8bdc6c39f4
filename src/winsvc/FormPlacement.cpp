#include "winsvc/FormPlacement.h"

#include <charconv>
#include <utility>

namespace sarnika {
namespace {

const std::string kFormVersion = "FormVersion";
const std::string kFlags = "Flags";
const std::string kShowCmd = "ShowCmd";
const std::string kPixelsPerInch = "PixelsPerInch";
const std::string kMinMaxPos = "MinMaxPos";
const std::string kNormPos = "NormPos";
const std::string kVisible = "Visible";

bool isDelimiter(char c) {
    return c == ',' || c == ' ';
}

std::string fourNumbers(int a, int b, int c, int d) {
    return std::to_string(a) + "," + std::to_string(b) + "," + std::to_string(c) + "," +
           std::to_string(d);
}

int wordInteger(const std::string& text, int number, int fallback) {
    return placementInteger(placementWord(text, number), fallback);
}

WindowState stateFromShowCmd(int showCmd, WindowState fallback) {
    switch (showCmd) {
    case 1:
    case 5:
    case 9:
        return WindowState::Normal;
    case 2:
    case 6:
    case 7:
        return WindowState::Minimized;
    case 3:
        return WindowState::Maximized;
    default:
        return fallback;
    }
}

} // namespace

bool WinMinMaxInfo::isZero() const {
    return maxPosLeft == 0 && maxPosTop == 0 && maxSizeWidth == 0 && maxSizeHeight == 0 &&
           maxTrackWidth == 0 && maxTrackHeight == 0 && minTrackWidth == 0 && minTrackHeight == 0;
}

std::string placementWord(const std::string& text, int number) {
    std::size_t pos = 0;
    for (int word = 1;; ++word) {
        while (pos < text.size() && isDelimiter(text[pos])) {
            ++pos;
        }
        const std::size_t start = pos;
        while (pos < text.size() && !isDelimiter(text[pos])) {
            ++pos;
        }
        if (start == pos) {
            return {};
        }
        if (word == number) {
            return text.substr(start, pos - start);
        }
    }
}

int placementInteger(const std::string& text, int fallback) {
    const char* first = text.data();
    const char* last = first + text.size();
    // from_chars takes a minus but not a plus sign.
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-') {
        ++first;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last || first == last) {
        return fallback;
    }
    return value;
}

TFormPlacement::TFormPlacement(FormEvents& events, PlacementWindow& window, IniStore& store,
                               ErrorReport reportError)
    : m_events(events), m_window(window), m_store(store), m_reportError(std::move(reportError)) {}

TFormPlacement::~TFormPlacement() {
    if (m_loaded) {
        m_events = std::move(m_formHandlers);
    }
}

void TFormPlacement::Loaded() {
    if (m_loaded) {
        return;
    }
    m_loaded = true;
    m_formHandlers = m_events;
    m_events.onShow = [this] {
        FormShow();
    };
    m_events.onCloseQuery = [this](bool& canClose) {
        FormCloseQuery(canClose);
    };
    m_events.onDestroy = [this] {
        FormDestroy();
    };
}

void TFormPlacement::report(const std::exception& error) const {
    if (m_reportError) {
        m_reportError(error.what());
    }
}

void TFormPlacement::FormShow() {
    if (Active) {
        try {
            RestorePlacement();
        } catch (const std::exception& error) {
            report(error);
        }
    }
    if (m_formHandlers.onShow) {
        m_formHandlers.onShow();
    }
}

void TFormPlacement::FormCloseQuery(bool& canClose) {
    if (m_formHandlers.onCloseQuery) {
        m_formHandlers.onCloseQuery(canClose);
    }
    if (canClose && Active && m_window.hasHandle()) {
        try {
            SavePlacement();
        } catch (const std::exception& error) {
            report(error);
        }
    }
}

void TFormPlacement::FormDestroy() {
    if (Active && !m_saved) {
        m_destroying = true;
        try {
            SavePlacement();
        } catch (const std::exception& error) {
            report(error);
        }
        m_destroying = false;
    }
    if (m_formHandlers.onDestroy) {
        m_formHandlers.onDestroy();
    }
}

std::string TFormPlacement::resolutionTag() const {
    return "(" + std::to_string(m_window.systemMetric(SystemMetric::CxScreen)) + "x" +
           std::to_string(m_window.systemMetric(SystemMetric::CyScreen)) + ")";
}

int TFormPlacement::readInteger(IniKey& key, const std::string& name, int fallback) const {
    const std::optional<std::string> text = key.readString(IniSection, name);
    return text ? placementInteger(*text, fallback) : fallback;
}

void TFormPlacement::SavePlacement() {
    // A placement never restored in this run must not overwrite the stored one.
    if (!m_restored && Active) {
        return;
    }
    const std::unique_ptr<IniKey> key = m_store.open(IniFileName);
    key->writeString(IniSection, kFormVersion, std::to_string(Version));
    writePlacement(*key);
    key->writeString(IniSection, kVisible, m_destroying ? "1" : "0");
    if (OnSavePlacement) {
        OnSavePlacement();
    }
    m_saved = true;
}

void TFormPlacement::writePlacement(IniKey& key) {
    WindowPlacement placement = m_window.placement();
    if (m_window.isMainForm() && m_window.applicationMinimized()) {
        placement.showCmd = kSwShowMinimized;
    }
    key.writeString(IniSection, kFlags, std::to_string(placement.flags));
    key.writeString(IniSection, kShowCmd, std::to_string(placement.showCmd));
    key.writeString(IniSection, kPixelsPerInch, std::to_string(m_window.pixelsPerInch()));
    const std::string tag = resolutionTag();
    const std::string minMax = fourNumbers(placement.minPosition.x, placement.minPosition.y,
                                           placement.maxPosition.x, placement.maxPosition.y);
    key.writeString(IniSection, kMinMaxPos + tag, minMax);
    key.writeString(IniSection, kMinMaxPos, minMax);
    const PlacementRect& normal = placement.normalPosition;
    const std::string norm = fourNumbers(normal.left, normal.top, normal.right, normal.bottom);
    key.writeString(IniSection, kNormPos + tag, norm);
    key.writeString(IniSection, kNormPos, norm);
}

void TFormPlacement::RestorePlacement() {
    m_saved = false;
    {
        const std::unique_ptr<IniKey> key = m_store.open(IniFileName);
        if (readInteger(*key, kFormVersion, 0) >= Version) {
            readPlacement(*key);
        }
        if (OnRestorePlacement) {
            OnRestorePlacement();
        }
        m_restored = true;
    }
    resetMaxPosition();
}

void TFormPlacement::readPlacement(IniKey& key) {
    const bool withPosition = (Options & static_cast<unsigned>(PlacementOption::Position)) != 0;
    const bool withState = (Options & static_cast<unsigned>(PlacementOption::State)) != 0;
    if (!withPosition && !withState) {
        return;
    }
    WindowPlacement placement = m_window.placement();
    if (!m_window.isVisible()) {
        placement.showCmd = kSwHide;
    }
    if (withPosition) {
        readPosition(key, placement);
    }
    if (withState) {
        WindowState state = WindowState::Normal;
        if (m_window.isMainForm() && m_window.position() == FormPosition::Default) {
            state = WindowState::Maximized;
        }
        state = stateFromShowCmd(readInteger(key, kShowCmd, 0), state);
        if (state == WindowState::Minimized && m_window.isMainForm()) {
            // The application minimises as a whole once the window is up.
            m_window.setWindowState(WindowState::Normal);
            m_window.postMinimize();
            return;
        }
        m_window.setWindowState(state);
    }
    m_window.update();
}

void TFormPlacement::readPosition(IniKey& key, WindowPlacement& placement) {
    bool found = false;
    placement.flags = readInteger(key, kFlags, placement.flags);
    const std::string tag = resolutionTag();

    std::string text = key.readString(IniSection, kMinMaxPos + tag).value_or("");
    if (text.empty()) {
        text = key.readString(IniSection, kMinMaxPos).value_or("");
    }
    if (!text.empty()) {
        found = true;
        placement.minPosition = {wordInteger(text, 1, 0), wordInteger(text, 2, 0)};
        placement.maxPosition = {wordInteger(text, 3, 0), wordInteger(text, 4, 0)};
    }

    text = key.readString(IniSection, kNormPos + tag).value_or("");
    if (text.empty()) {
        text = key.readString(IniSection, kNormPos).value_or("");
    }
    const PlacementRect bounds = m_window.bounds();
    if (!text.empty()) {
        found = true;
        placement.normalPosition = {
            wordInteger(text, 1, bounds.left), wordInteger(text, 2, bounds.top),
            wordInteger(text, 3, bounds.right), wordInteger(text, 4, bounds.bottom)};
    }

    // After a change of screen scaling the declared position and size stay.
    const int pixelsPerInch = m_window.pixelsPerInch();
    if (readInteger(key, kPixelsPerInch, pixelsPerInch) != pixelsPerInch) {
        found = false;
    }
    if (!found) {
        return;
    }
    const FormBorderStyle border = m_window.borderStyle();
    PlacementRect& normal = placement.normalPosition;
    if (border != FormBorderStyle::Sizeable && border != FormBorderStyle::SizeToolWin) {
        // A fixed-size window takes only the stored corner.
        normal.right = normal.left + (bounds.right - bounds.left);
        normal.bottom = normal.top + (bounds.bottom - bounds.top);
    }
    if (normal.right <= normal.left) {
        return;
    }
    const FormPosition position = m_window.position();
    if (position == FormPosition::ScreenCenter || position == FormPosition::DesktopCenter) {
        m_window.setPosition(FormPosition::Designed);
    }
    m_window.setPlacement(placement);
}

void TFormPlacement::resetMaxPosition() {
    if (!m_window.hasHandle() || PreventResize || !MinMaxInfo.isZero()) {
        return;
    }
    WindowPlacement placement = m_window.placement();
    if (!m_window.isVisible()) {
        placement.showCmd = kSwHide;
    }
    std::pair<SystemMetric, SystemMetric> frame{SystemMetric::CxFrame, SystemMetric::CyFrame};
    switch (m_window.borderStyle()) {
    case FormBorderStyle::Single:
    case FormBorderStyle::ToolWindow:
        frame = {SystemMetric::CxBorder, SystemMetric::CyBorder};
        break;
    case FormBorderStyle::Dialog:
        frame = {SystemMetric::CxDlgFrame, SystemMetric::CyDlgFrame};
        break;
    case FormBorderStyle::None:
        placement.maxPosition = {0, 0};
        m_window.setPlacement(placement);
        return;
    case FormBorderStyle::Sizeable:
    case FormBorderStyle::SizeToolWin:
        break;
    }
    placement.maxPosition = {-m_window.systemMetric(frame.first),
                             -m_window.systemMetric(frame.second)};
    m_window.setPlacement(placement);
}

} // namespace sarnika
