#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace sarnika {

struct PlacementPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PlacementPoint&) const = default;
};

// Outer frame in screen pixels; right and bottom lie just outside the window.
struct PlacementRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const PlacementRect&) const = default;
};

// The window manager's placement record.
struct WindowPlacement {
    int flags = 0;
    int showCmd = 0;
    PlacementPoint minPosition;
    PlacementPoint maxPosition;
    PlacementRect normalPosition;
    bool operator==(const WindowPlacement&) const = default;
};

// Show commands of the placement record.
inline constexpr int kSwHide = 0;
inline constexpr int kSwShowNormal = 1;
inline constexpr int kSwShowMinimized = 2;
inline constexpr int kSwShowMaximized = 3;

enum class WindowState { Normal, Minimized, Maximized };
enum class FormBorderStyle { None, Single, Sizeable, Dialog, ToolWindow, SizeToolWin };
enum class FormPosition {
    Designed,
    Default,
    DefaultPosOnly,
    DefaultSizeOnly,
    ScreenCenter,
    DesktopCenter,
    MainFormCenter,
    OwnerFormCenter
};
enum class SystemMetric {
    CxScreen,
    CyScreen,
    CxBorder,
    CyBorder,
    CxFrame,
    CyFrame,
    CxDlgFrame,
    CyDlgFrame
};

// The window whose placement is kept, and the screen it lives on.
class PlacementWindow {
public:
    virtual ~PlacementWindow() = default;
    virtual bool hasHandle() const = 0;
    virtual WindowPlacement placement() const = 0;
    virtual void setPlacement(const WindowPlacement& placement) = 0;
    // Mapped on the screen; false while the window's show event runs.
    virtual bool isVisible() const = 0;
    // The application's own window is minimised (also while hidden in the tray).
    virtual bool applicationMinimized() const = 0;
    virtual int systemMetric(SystemMetric metric) const = 0;
    virtual int pixelsPerInch() const = 0;
    // Asks the application to minimise once the event loop runs again.
    virtual void postMinimize() = 0;

    virtual bool isMainForm() const = 0;
    // The form's outer bounds as it would be shown now.
    virtual PlacementRect bounds() const = 0;
    virtual FormBorderStyle borderStyle() const = 0;
    virtual FormPosition position() const = 0;
    virtual void setPosition(FormPosition position) = 0;
    virtual void setWindowState(WindowState state) = 0;
    // Repaints at once.
    virtual void update() = 0;
};

// One open settings key with ini-style sections (a section is a subkey, an entry a string
// value). Freed at the end of each pass.
class IniKey {
public:
    virtual ~IniKey() = default;
    // Empty when the section or value is absent; throws SettingsError "Invalid data type for
    // '<name>'" for a value that is not a string.
    virtual std::optional<std::string> readString(const std::string& section,
                                                  const std::string& name) = 0;
    // Throws SettingsError "Failed to create key <path>" or "Failed to set data for '<name>'".
    virtual void writeString(const std::string& section, const std::string& name,
                             const std::string& value) = 0;
};

// Opens a key path such as "Software\Quillmoor\Sarnika" under the current user, creating it
// when missing.
class IniStore {
public:
    virtual ~IniStore() = default;
    virtual std::unique_ptr<IniKey> open(const std::string& keyPath) = 0;
};

// The form's own handlers; the placement component takes them over while it lives.
struct FormEvents {
    std::function<void()> onShow;
    std::function<void(bool& canClose)> onCloseQuery;
    std::function<void()> onDestroy;
};

enum class PlacementOption : unsigned { State = 1, Position = 2, ActiveControl = 4 };
using PlacementOptions = unsigned;
inline constexpr PlacementOptions operator|(PlacementOption a, PlacementOption b) {
    return static_cast<unsigned>(a) | static_cast<unsigned>(b);
}

// Size limits of the form; all zero means none.
struct WinMinMaxInfo {
    int maxPosLeft = 0;
    int maxPosTop = 0;
    int maxSizeWidth = 0;
    int maxSizeHeight = 0;
    int maxTrackWidth = 0;
    int maxTrackHeight = 0;
    int minTrackWidth = 0;
    int minTrackHeight = 0;
    bool isZero() const;
};

// Keeps a form's placement in the settings: restored when the form is shown, saved when it
// closes (or, failing that, when it is destroyed).
class TFormPlacement {
public:
    using ErrorReport = std::function<void(const std::string& message)>;

    TFormPlacement(FormEvents& events, PlacementWindow& window, IniStore& store,
                   ErrorReport reportError);
    ~TFormPlacement();
    TFormPlacement(const TFormPlacement&) = delete;
    TFormPlacement& operator=(const TFormPlacement&) = delete;

    // Takes over the form's three events; call once the form's own handlers are set.
    void Loaded();

    std::string IniFileName;
    std::string IniSection;
    bool UseRegistry = false;
    bool Active = true;
    PlacementOptions Options = PlacementOption::State | PlacementOption::Position;
    int Version = 0;
    bool PreventResize = false;
    WinMinMaxInfo MinMaxInfo;
    std::function<void()> OnSavePlacement;
    std::function<void()> OnRestorePlacement;

    // Whether the size-limit hook would be attached to the form.
    bool hookAttached() const { return PreventResize || !MinMaxInfo.isZero(); }

    void SavePlacement();
    void RestorePlacement();

    bool restored() const { return m_restored; }
    bool saved() const { return m_saved; }

private:
    void FormShow();
    void FormCloseQuery(bool& canClose);
    void FormDestroy();
    void report(const std::exception& error) const;

    void writePlacement(IniKey& key);
    void readPlacement(IniKey& key);
    void readPosition(IniKey& key, WindowPlacement& placement);
    void resetMaxPosition();
    std::string resolutionTag() const;
    int readInteger(IniKey& key, const std::string& name, int fallback) const;

    FormEvents& m_events;
    PlacementWindow& m_window;
    IniStore& m_store;
    ErrorReport m_reportError;
    FormEvents m_formHandlers;
    bool m_loaded = false;
    bool m_restored = false;
    bool m_saved = false;
    bool m_destroying = false;
};

// Word `number` (from 1) of a position text whose words are separated by runs of commas and
// blanks; empty past the last word.
std::string placementWord(const std::string& text, int number);
// Signed decimal text as a 32-bit integer; the fallback for anything else.
int placementInteger(const std::string& text, int fallback);

} // namespace sarnika
