#include "winsvc/SplashLayout.h"

#include <gtest/gtest.h>

namespace sarnika {
namespace {

// Answers a fixed extent and records the width it was asked to wrap the text within.
class FixedExtent final : public TextMeasure {
public:
    explicit FixedExtent(SplashSize extent) : m_extent(extent) {}
    SplashSize measureWrapped(const std::string&, int wrapWidth) const override {
        m_wrapWidth = wrapWidth;
        return m_extent;
    }

    SplashSize m_extent;
    mutable int m_wrapWidth = -1;
};

TEST(SplashLayout, RightLimit) {
    EXPECT_EQ(splashRightLimit(1024), 448);
    EXPECT_EQ(splashRightLimit(606), 239);
    EXPECT_EQ(splashRightLimit(605), 238);
    EXPECT_EQ(splashRightLimit(320), 238);
}

TEST(SplashLayout, OneLineCentredInTheClientHeight) {
    const FixedExtent measure({234, 13});
    SplashLayout layout = layoutSplash("message", true, 1024, measure);
    EXPECT_EQ(measure.m_wrapWidth, 392);
    // 32 - 13 / 2 = 26 from the top; the client widens to the text's right edge + 16.
    EXPECT_EQ(layout.label.left, 56);
    EXPECT_EQ(layout.label.top, 26);
    EXPECT_EQ(layout.label.right, 290);
    EXPECT_EQ(layout.label.bottom, 39);
    EXPECT_EQ(layout.clientWidth, 306);
    EXPECT_EQ(layout.clientHeight, 64);

    layout = layoutSplash("message", false, 1024, measure);
    EXPECT_EQ(measure.m_wrapWidth, 432);
    EXPECT_EQ(layout.label.left, 16);
    EXPECT_EQ(layout.clientWidth, 16 + 234 + 16);
}

TEST(SplashLayout, NarrowScreenWrapsWithin182) {
    const FixedExtent measure({144, 26});
    const SplashLayout layout = layoutSplash("message", true, 600, measure);
    EXPECT_EQ(measure.m_wrapWidth, 182);
    EXPECT_EQ(layout.label.top, 19);
    EXPECT_EQ(layout.clientWidth, 56 + 144 + 16);
}

TEST(SplashLayout, TextTallerOrWiderThanTheWindow) {
    // 65 high: the offset truncates to 0 and is kept; the height stays 64.
    SplashLayout layout = layoutSplash("x", true, 1024, FixedExtent({100, 65}));
    EXPECT_EQ(layout.label.top, 0);
    EXPECT_EQ(layout.clientHeight, 64);
    // A negative offset becomes 10, still without growing the window.
    layout = layoutSplash("x", true, 1024, FixedExtent({100, 156}));
    EXPECT_EQ(layout.label.top, 10);
    EXPECT_EQ(layout.label.bottom, 166);
    EXPECT_EQ(layout.clientHeight, 64);
    // A word wider than the wrap width widens the window past the right limit.
    layout = layoutSplash("x", true, 1024, FixedExtent({420, 13}));
    EXPECT_EQ(layout.clientWidth, 56 + 420 + 16);
    // A very short text keeps the initial width.
    layout = layoutSplash("", false, 1024, FixedExtent({0, 0}));
    EXPECT_EQ(layout.clientWidth, 64);
}

TEST(SplashLayout, CentreIn) {
    const SplashPoint point = centreIn({0, 0, 1024, 768}, {312, 70});
    EXPECT_EQ(point.x, 512 - 156);
    EXPECT_EQ(point.y, 384 - 35);
    // Each half is truncated on its own.
    const SplashPoint odd = centreIn({100, 50, 901, 651}, {301, 71});
    EXPECT_EQ(odd.x, 100 + 400 - 150);
    EXPECT_EQ(odd.y, 50 + 300 - 35);
}

} // namespace
} // namespace sarnika
