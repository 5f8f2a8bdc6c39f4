#include "winsvc/SplashLayout.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace sarnika {
namespace {

// Fixed-pitch text: 6 pixels a character, 13 a line, wrapping at blanks like DrawText does.
class FixedPitch final : public TextMeasure {
public:
    SplashSize measureWrapped(const std::string& text, int wrapWidth) const override {
        m_lastWrapWidth = wrapWidth;
        const int perLine = std::max(wrapWidth / 6, 1);
        int lines = 1;
        int column = 0;
        int widest = 0;
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find(' ', at);
            if (end == std::string::npos) {
                end = text.size();
            }
            const int word = static_cast<int>(end - at);
            const int needed = column == 0 ? word : column + 1 + word;
            if (column > 0 && needed > perLine) {
                ++lines;
                column = word;
            } else {
                column = needed;
            }
            widest = std::max(widest, column);
            at = end + 1;
        }
        return {widest * 6, lines * 13};
    }
    mutable int m_lastWrapWidth = 0;
};

const std::string kMessage = "Analyzing your computer, please wait..."; // 39 characters

TEST(SplashLayout, RightLimit) {
    EXPECT_EQ(splashRightLimit(1024), 448);
    EXPECT_EQ(splashRightLimit(605), 238);
    EXPECT_EQ(splashRightLimit(606), 239);
    EXPECT_EQ(splashRightLimit(320), 238);
}

TEST(SplashLayout, OneLineMessageNextToTheIcon) {
    const FixedPitch measure;
    const SplashLayout layout = layoutSplash(kMessage, true, 1024, measure);
    EXPECT_EQ(measure.m_lastWrapWidth, 392);
    // 13 high: 32 - 6 = 26 from the top; the client stays 64 high.
    EXPECT_EQ(layout.label.left, 56);
    EXPECT_EQ(layout.label.top, 26);
    EXPECT_EQ(layout.label.right, 56 + 234);
    EXPECT_EQ(layout.label.bottom, 39);
    EXPECT_EQ(layout.clientWidth, 56 + 234 + 16);
    EXPECT_EQ(layout.clientHeight, 64);
}

TEST(SplashLayout, NarrowScreenWrapsWithin182) {
    const FixedPitch measure;
    const SplashLayout layout = layoutSplash(kMessage, true, 600, measure);
    EXPECT_EQ(measure.m_lastWrapWidth, 182);
    // Two lines of at most 30 characters: "Analyzing your computer," and "please wait...".
    EXPECT_EQ(layout.label.height(), 26);
    EXPECT_EQ(layout.label.top, 32 - 13);
    EXPECT_EQ(layout.label.width(), 24 * 6);
    EXPECT_EQ(layout.clientWidth, 56 + 144 + 16);
}

TEST(SplashLayout, WithoutPictureAndTallText) {
    const FixedPitch measure;
    SplashLayout layout = layoutSplash(kMessage, false, 1024, measure);
    EXPECT_EQ(measure.m_lastWrapWidth, 432);
    EXPECT_EQ(layout.label.left, 16);
    EXPECT_EQ(layout.clientWidth, 16 + 234 + 16);

    // Taller than the client area: top 10 and the height left at 64.
    std::string words;
    for (int i = 0; i < 12; ++i) {
        words += "word word word word word word word word word word word word word ";
    }
    layout = layoutSplash(words, true, 1024, measure);
    EXPECT_GT(layout.label.height(), 64);
    EXPECT_EQ(layout.label.top, 10);
    EXPECT_EQ(layout.clientHeight, 64);

    // Five lines, 65 high: the offset rounds to 0 and stays.
    layout = layoutSplash(std::string(70, 'a') + " " + std::string(70, 'a') + " " +
                              std::string(70, 'a') + " " + std::string(70, 'a') + " b",
                          true, 1024, measure);
    EXPECT_EQ(layout.label.height(), 65);
    EXPECT_EQ(layout.label.top, 0);
    EXPECT_EQ(layout.clientHeight, 64);
    // A word wider than the wrap width widens the window past the right limit.
    EXPECT_EQ(layout.clientWidth, 56 + 70 * 6 + 16);
}

TEST(SplashLayout, CentreIn) {
    const SplashPoint point = centreIn({0, 0, 1024, 768}, {312, 70});
    EXPECT_EQ(point.x, 512 - 156);
    EXPECT_EQ(point.y, 384 - 35);
    // Odd sizes: each half is truncated on its own.
    const SplashPoint odd = centreIn({100, 50, 100 + 801, 50 + 601}, {301, 71});
    EXPECT_EQ(odd.x, 100 + 400 - 150);
    EXPECT_EQ(odd.y, 50 + 300 - 35);
}

} // namespace
} // namespace sarnika
