#include "winsvc/SplashLayout.h"

#include <algorithm>

namespace sarnika {

int splashRightLimit(int screenWidth) {
    return std::max(screenWidth / 2 - 64, 238);
}

SplashLayout layoutSplash(const std::string& text, bool hasPicture, int screenWidth,
                          const TextMeasure& measure) {
    const int left = hasPicture ? kSplashLabelLeftWithIcon : kSplashLabelLeftWithoutIcon;
    const int rightLimit = splashRightLimit(screenWidth);
    const SplashSize extent = measure.measureWrapped(text, std::max(rightLimit - left, 0));

    int top = kSplashInitialClient / 2 - extent.height / 2;
    if (top < 0) {
        top = 10;
    }
    SplashLayout layout;
    layout.label = {left, top, left + extent.width, top + extent.height};
    layout.clientWidth = std::max(kSplashInitialClient, layout.label.right + 16);
    layout.clientHeight = std::max(kSplashInitialClient, 2 * top);
    return layout;
}

SplashPoint centreIn(const SplashRect& reference, SplashSize outer) {
    return {reference.left + reference.width() / 2 - outer.width / 2,
            reference.top + reference.height() / 2 - outer.height / 2};
}

} // namespace sarnika
