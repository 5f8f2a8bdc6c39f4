#include <gtest/gtest.h>

#include "presenters/AboutPresenter.h"
#include "presenters/SplashPresenter.h"

namespace sarnika::presenters {
namespace {

using Log = std::vector<std::string>;

// Measures every text as one line of 10 pixels per character, 13 high.
class FakeSplash final : public SplashView, public TextMeasure {
public:
    Log log;
    SplashSize measureWrapped(const std::string& text, int) const override {
        return {static_cast<int>(text.size()) * 10, 13};
    }
    int screenWidth() const override { return 1280; }
    const TextMeasure& messageMeasure() const override { return *this; }
    void setMessageBounds(const SplashRect& b) override {
        log.push_back("message " + std::to_string(b.left) + "," + std::to_string(b.top) + " " +
                      std::to_string(b.width()) + "x" + std::to_string(b.height()));
    }
    void setClientSize(int width, int height) override {
        outer = {width + 6, height + 6};
        log.push_back("client " + std::to_string(width) + "x" + std::to_string(height));
    }
    SplashRect centringReference() const override { return {0, 0, 1280, 1024}; }
    SplashSize outerSize() const override { return outer; }
    void moveTo(SplashPoint at) override {
        log.push_back("at " + std::to_string(at.x) + "," + std::to_string(at.y));
    }
    void showPainted() override { log.push_back("shown"); }

private:
    SplashSize outer;
};

TEST(SplashPresenter, SizesToTheMessageThenCentresTheWholeWindowAndShowsIt) {
    FakeSplash view;
    TSplashWindow(view).ShowSplash(TSplashWindow::analyzingMessage(), true);
    // 39 characters: 390 wide beside the icon, centred in the 64-pixel height.
    EXPECT_EQ(view.log, (Log{"message 56,26 390x13", "client 462x64", "at 406,477", "shown"}));
}

class FakeAbout final : public AboutView {
public:
    std::string version;
    bool closed = false;
    std::string applicationName() const override { return "Sarnika"; }
    void setVersionText(const std::string& text) override { version = text; }
    void closeAccepted() override { closed = true; }
};

TEST(AboutPresenter, ShowsTheVersionAndOpensItsLinks) {
    FakeAbout view;
    Log opened;
    TfmAbout about(view, [&opened](const std::string& address) { opened.push_back(address); });
    about.FormCreate();
    EXPECT_EQ(view.version,
              "Sarnika for Windows 9x/NT/2000\nVersion 1.00\n" + TfmAbout::copyrightNotice());
    about.LinkLabel2Click(TfmAbout::kWebLinkTag, TfmAbout::webSiteAddress());
    about.LinkLabel2Click(TfmAbout::kMailLinkTag, TfmAbout::supportAddress());
    about.LinkLabel2Click(7, "x");
    EXPECT_EQ(opened, (Log{TfmAbout::webSiteAddress(), "mailto:" + TfmAbout::supportAddress()}));
    about.OKButtonClick();
    EXPECT_TRUE(view.closed);
}

} // namespace
} // namespace sarnika::presenters
