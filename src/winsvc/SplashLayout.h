#pragma once

#include <string>

namespace sarnika {

struct SplashSize {
    int width = 0;
    int height = 0;
};

struct SplashRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

// Measures text the way the splash window draws it.
class TextMeasure {
public:
    virtual ~TextMeasure() = default;
    // The extent of the text word-wrapped within wrapWidth pixels: the widest line and the
    // height of all lines. A word longer than the width may make the extent wider.
    virtual SplashSize measureWrapped(const std::string& text, int wrapWidth) const = 0;
};

// Where the splash window puts its message and how large its client area becomes.
struct SplashLayout {
    SplashRect label; // client coordinates
    int clientWidth = 0;
    int clientHeight = 0;
};

// The window's client area before sizing; the icon sits in the 32 by 32 box at 16, 16.
inline constexpr int kSplashInitialClient = 64;
inline constexpr int kSplashLabelLeftWithIcon = 56;
inline constexpr int kSplashLabelLeftWithoutIcon = 16;

// The right edge of the message's rectangle: half the screen less 64, at least 238.
int splashRightLimit(int screenWidth);

// Sizes the window to the message: the text wraps between the label's left edge and the right
// limit, is centred vertically in the 64-pixel client height (top 10 when it is taller), and
// the client area widens to the text's right edge plus 16.
SplashLayout layoutSplash(const std::string& text, bool hasPicture, int screenWidth,
                          const TextMeasure& measure);

// The top-left corner of a window of the given outer size in the middle of the reference.
struct SplashPoint {
    int x = 0;
    int y = 0;
};
SplashPoint centreIn(const SplashRect& reference, SplashSize outer);

} // namespace sarnika
