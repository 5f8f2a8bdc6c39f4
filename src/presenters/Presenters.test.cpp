#include <map>

#include <gtest/gtest.h>

#include "app/SaveMovies.h"
#include "app/SettingsStore.h"
#include "cache/ListUrlCache.h"
#include "presenters/AboutPresenter.h"
#include "presenters/MainPresenter.h"
#include "presenters/SplashPresenter.h"
#include "presenters/StepQueue.h"
#include "support/FakeUrlCache.h"
#include "support/TempDir.h"

namespace sarnika::presenters {
namespace {

using Log = std::vector<std::string>;

class FakeList final : public MovieListBox {
public:
    std::vector<std::string> lines;
    int selected = -1;
    void beginUpdate() override {}
    void endUpdate() override {}
    void clear() override {
        lines.clear();
        selected = -1;
    }
    void addLine(const std::string& text) override { lines.push_back(text); }
    int count() const override { return static_cast<int>(lines.size()); }
    int selectedIndex() const override { return selected; }
    void select(int index) override { selected = index; }
};

// Both views of the window in one: every call is logged in order.
class FakeViews final : public FrameView, public MainView, public DesktopPort {
public:
    Log log;
    FakeList list;
    bool minimized = false, chooseFolder = true, answerYes = true;
    std::optional<std::string> saveTarget;
    std::string selection, personal = "/home/u/Documents";
    std::vector<std::function<void()>> later;

    MovieListBox& listBox() override { return list; }
    void moviesListed() override { log.push_back("listed"); }
    void showStatus(const std::string& text) override { log.push_back("status " + text); }
    void navigatePreview(const std::string& file) override { log.push_back("preview " + file); }
    void showShellMenu(const std::string& file, int line, ViewPoint at) override {
        log.push_back("shell menu " + file + " " + std::to_string(line) + " " +
                      std::to_string(at.x));
    }
    void showSplash() override { log.push_back("splash"); }
    void closeSplash() override { log.push_back("splash gone"); }
    void reportError(const std::string& text) override { log.push_back("error " + text); }
    bool showMessage(const FormMessage& m) override {
        log.push_back(m.name + ": " + m.title + ": " + m.text);
        return answerYes;
    }
    void runLater(std::function<void()> step) override { later.push_back(std::move(step)); }
    void runPending() {
        for (auto steps = std::move(later); auto& step : steps) {
            step();
        }
    }
    bool windowMinimized() const override { return minimized; }
    void showWindow() override { log.push_back("show"); }
    void hideWindow() override { log.push_back("hide"); }
    void closeWindow() override { log.push_back("close"); }
    void bringToFront() override { log.push_back("front"); }
    void placementShown() override {}
    void setFileEntriesEnabled(bool on) override { log.push_back(on ? "entries on" : "greyed"); }
    std::optional<std::string> askSaveAsTarget(const std::string& folder,
                                               const std::string& name) override {
        log.push_back("save dialog " + folder + " " + name);
        return saveTarget;
    }
    std::string browseSelection() const override { return selection; }
    void setBrowseSelection(const std::string& folder) override { selection = folder; }
    bool browseForFolder() override { return chooseFolder; }
    void showAbout() override { log.push_back("about"); }
    // How many steps of a long command the user lets run before cancelling; none: all.
    std::optional<std::size_t> cancelAfter;
    std::size_t progressTotal = 0;
    void runWithProgress(const std::string&, std::size_t total,
                         const std::function<void(const ProgressStep&)>& work) override {
        progressTotal = total;
        work([this](std::size_t done) { return !cancelAfter || done < *cancelAfter; });
    }
    std::string personalFolder() const override { return personal; }
    std::string homeFolder() const override { return "/home/u"; }
    bool isFolder(const std::string& path) const override { return path.starts_with("/"); }
    void openAddress(const std::string& address) override { log.push_back("open " + address); }
    void openFolder(const std::string& folder) override { log.push_back("explore " + folder); }
};

class FakeSettings final : public SettingsStore {
public:
    std::map<std::string, std::string> values;
    bool broken = false;
    std::optional<std::string> readString(const std::string& name) override {
        if (broken) {
            throw SettingsError("Invalid data type for '" + name + "'");
        }
        const auto found = values.find(name);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    void writeString(const std::string& name, const std::string& value) override {
        values[name] = value;
    }
};

class FakeCopier final : public FileCopier {
public:
    Log copies;
    Status copyExclusive(const std::string& source, const std::string& target) override {
        copies.push_back(source + " > " + target);
        return {};
    }
    Status copyReplacing(const std::string&, const std::string&) override {
        return makeError(Error::Code::WriteFailed, "Disk full");
    }
};

class EmptyKey final : public IniKey {
public:
    std::optional<std::string> readString(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    void writeString(const std::string&, const std::string&, const std::string&) override {}
};

// A window without a handle and a store without values: the placement passes do nothing.
class NoPlacement final : public PlacementWindow, public IniStore {
public:
    bool broken = false;
    bool hasHandle() const override { return false; }
    WindowPlacement placement() const override { return {}; }
    void setPlacement(const WindowPlacement&) override {}
    bool isVisible() const override { return true; }
    bool applicationMinimized() const override { return false; }
    int systemMetric(SystemMetric) const override { return 0; }
    int pixelsPerInch() const override { return 96; }
    void postMinimize() override {}
    bool isMainForm() const override { return true; }
    PlacementRect bounds() const override { return {}; }
    FormBorderStyle borderStyle() const override { return FormBorderStyle::Sizeable; }
    FormPosition position() const override { return FormPosition::Designed; }
    void setPosition(FormPosition) override {}
    void setWindowState(WindowState) override {}
    void update() override {}
    std::unique_ptr<IniKey> open(const std::string& path) override {
        if (broken) {
            throw SettingsError("Failed to create key " + path);
        }
        return std::make_unique<EmptyKey>();
    }
};

class FakeArea final : public NotificationArea {
public:
    bool there = true;
    bool available() const override { return there; }
    void listen(Receiver) override {}
    bool add(const NotifyIconData&) override { return true; }
    bool modify(const NotifyIconData&) override { return true; }
    bool remove(const NotifyIconData&) override { return true; }
    unsigned taskbarCreatedMessage() const override { return 1; }
    TrayPoint cursorPos() const override { return {}; }
    TrayShiftState keyState() const override { return 0; }
    void cancelMode() override {}
    void foreground() override {}
    void processMessages() override {}
};

struct Window {
    testing::TempDir dir;
    ListUrlCache cache;
    UtcLocalTime utc;
    FakeViews views;
    FakeSettings settings;
    FakeCopier copier;
    NoPlacement placement;
    FakeArea area;
    TframeCachedFlash frame{views, cache, utc};
    std::unique_ptr<TfrmMain> form;

    explicit Window(bool withMovies = true) {
        if (withMovies) {
            cache.setEntries({testing::contentEntry("http://www.big.example/a/Big.swf?x=1",
                                                    dir.write("big[1].swf", "FWS12345").string()),
                              testing::contentEntry("http://small.example/s.swf",
                                                    dir.write("s[1].swf", "FWS").string())});
        }
        form = std::make_unique<TfrmMain>(TfrmMain::Ports{
            views, frame, views, settings, copier, placement, placement, area, nullptr, nullptr});
    }
    std::string file(const char* name) const { return (dir.path() / name).string(); }
};

TEST(MainPresenter, StartsBehindTheSplashAndKeepsTheFoldersUntilItIsDestroyed) {
    Window w;
    w.settings.values["SaveAllFolder"] = "/saved/all";
    w.form->FormCreate();
    w.form->FormCreate();
    EXPECT_EQ(w.views.log, (Log{"splash", "listed", "status Flash movie from big.example",
                                "preview " + w.file("big[1].swf"), "splash gone", "front"}));
    EXPECT_EQ(w.views.list.lines, (Log{"Big.swf", "s.swf"}));
    EXPECT_EQ(w.form->saveAsFolder(), "/home/u/Documents");
    EXPECT_EQ(w.form->saveAllFolder(), "/saved/all");
    EXPECT_EQ(w.views.selection, "/home/u/Documents");

    w.views.log.clear();
    w.form->WindowShown(false);
    w.views.runPending();
    EXPECT_TRUE(w.views.log.empty()); // no greying, no "Sorry"
    w.settings.values.clear();
    w.form->WindowDestroyed();
    w.form->WindowDestroyed();
    EXPECT_EQ(w.settings.values,
              (std::map<std::string, std::string>{{"SaveAllFolder", "/saved/all"},
                                                  {"SaveAsFolder", "/home/u/Documents"}}));
    EXPECT_TRUE(w.views.list.lines.empty());
}

TEST(MainPresenter, AFailingStartUpStillClosesTheSplashAndAnEmptyCacheSaysSorryOnce) {
    Window w(false);
    w.settings.broken = true;
    w.form->FormCreate();
    EXPECT_EQ(w.views.log, (Log{"splash", "listed", "splash gone", "front",
                                "error Invalid data type for 'SaveAsFolder'"}));

    // Error boxes and the box of the empty list wait until the window is up; the latter comes
    // with the first showing only.
    w.views.log.clear();
    w.placement.broken = true;
    w.form->WindowShown(false);
    EXPECT_EQ(w.views.log, (Log{"greyed"}));
    w.views.runPending();
    w.placement.broken = false;
    w.form->WindowShown(false);
    w.views.runPending();
    EXPECT_EQ(w.views.log,
              (Log{"greyed", "error Failed to create key Software\\Quillmoor\\Sarnika",
                   "sorryMessage: Sorry: No cached FLASH movies were found in the  cache, sorry!",
                   "greyed"}));
    w.views.log.clear();
    w.form->actSaveExecute();
    w.form->actSaveAllExecute();
    EXPECT_TRUE(w.views.log.empty());
}

TEST(MainPresenter, SaveAsAndSaveAllAskThenCopyAndReport) {
    Window w;
    w.form->FormCreate();
    w.views.log.clear();
    w.views.saveTarget = "/t/my.swf";
    w.form->actSaveExecute();
    EXPECT_EQ(w.views.log, (Log{"save dialog /home/u/Documents Big.swf", "error Disk full"}));

    w.views.log.clear();
    w.views.selection = "relative"; // gone: the dialog opens on the next folder that is there
    w.form->actSaveAllExecute();
    const std::string folder = WithTrailingSeparator("/home/u/Documents");
    EXPECT_EQ(w.form->saveAllFolder(), folder);
    EXPECT_EQ(w.copier.copies, (Log{w.file("big[1].swf") + " > " + folder + "Big.swf.swf",
                                    w.file("s[1].swf") + " > " + folder + "s.swf.swf"}));
    ASSERT_EQ(w.views.log.size(), 2U);
    EXPECT_EQ(w.views.log[0].substr(0, 33), "congratulations: Congratulations:");
    EXPECT_EQ(w.views.log[1], "explore " + folder);

    w.views.chooseFolder = false;
    w.form->actSaveAllExecute();
    EXPECT_EQ(w.copier.copies.size(), 2U);
}

TEST(MainPresenter, ACancelledSaveAllKeepsWhatItSavedAndSaysSo) {
    Window w;
    w.form->FormCreate();
    w.views.log.clear();
    w.views.cancelAfter = 1;
    w.form->actSaveAllExecute();
    const std::string folder = WithTrailingSeparator("/home/u/Documents");
    EXPECT_EQ(w.views.progressTotal, 2U);
    EXPECT_EQ(w.copier.copies, (Log{w.file("big[1].swf") + " > " + folder + "Big.swf.swf"}));
    EXPECT_EQ(w.views.log, (Log{"saveAllCancelled: Save all: Saved 1 of 2 movies; cancelled.\n"
                                "Open destination folder?",
                                "explore " + folder}));

    // Cancelled before the first movie: nothing saved, nothing to ask.
    w.views.log.clear();
    w.views.cancelAfter = 0;
    w.form->actSaveAllExecute();
    EXPECT_EQ(w.copier.copies.size(), 1U);
    EXPECT_TRUE(w.views.log.empty());
}

TEST(MainPresenter, MinimisingHidesInTheTrayOnlyWhenThereIsOne) {
    for (const bool tray : {true, false}) {
        Window w;
        w.area.there = tray;
        w.form->FormCreate();
        w.form->WindowShown(false);
        w.views.log.clear();
        w.views.minimized = true;
        w.form->WindowStateChanged();
        w.views.runPending();
        EXPECT_EQ(w.form->stage(), tray ? TfrmMain::Stage::InTray : TfrmMain::Stage::Minimized);
        EXPECT_EQ(w.form->trayIco().Active(), true);
        if (tray) {
            w.form->WindowShown(false); // the return from the tray is no showing of the form
        }
        w.form->actShowMainExecute();
        w.views.minimized = false;
        w.form->WindowStateChanged();
        w.views.runPending();
        EXPECT_EQ(w.views.log, tray ? (Log{"hide", "show", "front"}) : (Log{"front"}));
        EXPECT_EQ(w.form->stage(), TfrmMain::Stage::Shown);
        EXPECT_FALSE(w.form->trayIco().Active());
    }
}

TEST(FramePresenter, ContextPopupOffersTheSelectedFileUnlessTheListHasItsOwnMenu) {
    Window w;
    w.form->FormCreate();
    w.views.log.clear();
    bool handled = false;
    w.frame.lbxFlashContextPopup(true, {4, 5}, handled);
    EXPECT_FALSE(handled);
    w.views.list.select(1);
    w.frame.lbxFlashContextPopup(false, kKeyboardPopup, handled);
    EXPECT_TRUE(handled);
    EXPECT_EQ(w.views.log, (Log{"shell menu " + w.file("s[1].swf") + " 1 -1"}));
}

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

TEST(StepQueue, RunsOneStepPerWakeUpInTheOrderTheyCame) {
    int wakeUps = 0;
    Log ran;
    StepQueue queue([&wakeUps] { ++wakeUps; });
    queue.runNext(); // nothing waiting: nothing happens
    queue.add([&] {
        ran.push_back("first");
        queue.add([&] { ran.push_back("added by first"); });
    });
    queue.add([&] { ran.push_back("second"); });
    EXPECT_EQ(wakeUps, 2);
    EXPECT_TRUE(ran.empty());

    queue.runNext();
    EXPECT_EQ(ran, Log({"first"}));
    EXPECT_EQ(wakeUps, 3);
    queue.runNext();
    queue.runNext();
    queue.runNext();
    EXPECT_EQ(ran, Log({"first", "second", "added by first"}));
}

} // namespace
} // namespace sarnika::presenters
