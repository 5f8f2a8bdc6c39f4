#include "winsvc/FormPlacement.h"

#include <map>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "app/SettingsStore.h"

namespace sarnika {
namespace {

// The main window on a 1024 by 768 screen at 96 pixels per inch, not yet mapped.
class FakeWindow final : public PlacementWindow {
public:
    bool hasHandle() const override { return true; }
    WindowPlacement placement() const override { return current; }
    void setPlacement(const WindowPlacement& placement) override {
        current = placement;
        applied.push_back(placement);
    }
    bool isVisible() const override { return visible; }
    bool applicationMinimized() const override { return minimized; }
    int systemMetric(SystemMetric metric) const override {
        switch (metric) {
        case SystemMetric::CxScreen:
            return 1024;
        case SystemMetric::CyScreen:
            return 768;
        case SystemMetric::CxFrame:
            return 4;
        case SystemMetric::CyFrame:
            return 5;
        default:
            return 1;
        }
    }
    int pixelsPerInch() const override { return 96; }
    void postMinimize() override { ++minimizePosts; }
    bool isMainForm() const override { return true; }
    PlacementRect bounds() const override { return {237, 165, 787, 602}; }
    FormBorderStyle borderStyle() const override { return border; }
    FormPosition position() const override { return formPosition; }
    void setPosition(FormPosition position) override { formPosition = position; }
    void setWindowState(WindowState state) override { states.push_back(state); }
    void update() override { ++updates; }

    WindowPlacement current{0, 1, {-1, -1}, {-1, -1}, {237, 165, 787, 602}};
    bool visible = false;
    bool minimized = false;
    FormBorderStyle border = FormBorderStyle::Sizeable;
    FormPosition formPosition = FormPosition::DesktopCenter;
    std::vector<WindowPlacement> applied;
    std::vector<WindowState> states;
    int minimizePosts = 0;
    int updates = 0;
};

// A registry in memory: "section\name" -> value; a value marked as a number is another type.
class FakeStore final : public IniStore {
public:
    struct Value {
        std::string text;
        bool isNumber = false;
    };
    std::map<std::string, Value> values;
    std::vector<std::string> writeOrder;
    std::vector<std::string> openedPaths;
    int openKeys = 0;
    bool failWrites = false;

    class Key final : public IniKey {
    public:
        explicit Key(FakeStore& store) : m_store(store) { ++m_store.openKeys; }
        ~Key() override { --m_store.openKeys; }
        Key(const Key&) = delete;
        Key& operator=(const Key&) = delete;
        std::optional<std::string> readString(const std::string& section,
                                              const std::string& name) override {
            const auto found = m_store.values.find(section + "\\" + name);
            if (found == m_store.values.end()) {
                return std::nullopt;
            }
            if (found->second.isNumber) {
                throw SettingsError("Invalid data type for '" + name + "'");
            }
            return found->second.text;
        }
        void writeString(const std::string& section, const std::string& name,
                         const std::string& value) override {
            if (m_store.failWrites) {
                throw SettingsError("Failed to set data for '" + name + "'");
            }
            m_store.values[section + "\\" + name] = {value, false};
            m_store.writeOrder.push_back(name);
        }

    private:
        FakeStore& m_store;
    };

    std::unique_ptr<IniKey> open(const std::string& keyPath) override {
        openedPaths.push_back(keyPath);
        return std::make_unique<Key>(*this);
    }
    void set(const std::string& name, const std::string& text) {
        values["Placement\\" + name] = {text, false};
    }
    std::string get(const std::string& name) const {
        const auto found = values.find("Placement\\" + name);
        return found == values.end() ? "<absent>" : found->second.text;
    }
};

// The main window's component as the program configures it, with the form's own handlers
// recording their calls.
struct Rig {
    FakeWindow window;
    FakeStore store;
    FormEvents events;
    std::vector<std::string> calls;
    std::vector<std::string> errors;
    std::unique_ptr<TFormPlacement> placement;

    Rig() {
        events.onShow = [this] {
            calls.emplace_back("FormShow");
        };
        events.onDestroy = [this] {
            calls.emplace_back("FormDestroy");
        };
        placement = std::make_unique<TFormPlacement>(
            events, window, store, [this](const std::string& text) { errors.push_back(text); });
        placement->IniFileName = "Software\\Quillmoor\\Sarnika";
        placement->IniSection = "Placement";
        placement->UseRegistry = true;
        placement->Loaded();
    }
    void show() const { events.onShow(); }
    bool close() const {
        bool canClose = true;
        if (events.onCloseQuery) {
            events.onCloseQuery(canClose);
        }
        return canClose;
    }
    void storeNormPos(const std::string& text) {
        store.set("FormVersion", "0");
        store.set("NormPos", text);
    }
};

TEST(FormPlacement, FirstRunSavesAllNineValuesInOrder) {
    Rig rig;
    rig.show();
    // Nothing stored: the declared placement stays; the maximised position is reset.
    EXPECT_EQ(rig.calls, std::vector<std::string>{"FormShow"});
    EXPECT_EQ(rig.window.formPosition, FormPosition::DesktopCenter);
    ASSERT_EQ(rig.window.applied.size(), 1U);
    EXPECT_EQ(rig.window.applied[0].maxPosition, (PlacementPoint{-4, -5}));
    EXPECT_EQ(rig.window.applied[0].showCmd, kSwHide);
    EXPECT_EQ(rig.window.states, std::vector<WindowState>{WindowState::Normal});
    EXPECT_EQ(rig.store.openKeys, 0);

    rig.window.current.showCmd = kSwShowNormal;
    EXPECT_TRUE(rig.close());
    EXPECT_EQ(rig.store.openedPaths.back(), "Software\\Quillmoor\\Sarnika");
    EXPECT_EQ(rig.store.writeOrder,
              (std::vector<std::string>{"FormVersion", "Flags", "ShowCmd", "PixelsPerInch",
                                        "MinMaxPos(1024x768)", "MinMaxPos", "NormPos(1024x768)",
                                        "NormPos", "Visible"}));
    EXPECT_EQ(rig.store.get("FormVersion"), "0");
    EXPECT_EQ(rig.store.get("ShowCmd"), "1");
    EXPECT_EQ(rig.store.get("PixelsPerInch"), "96");
    EXPECT_EQ(rig.store.get("MinMaxPos"), "-1,-1,-4,-5");
    EXPECT_EQ(rig.store.get("NormPos(1024x768)"), "237,165,787,602");
    EXPECT_EQ(rig.store.get("Visible"), "0");
    EXPECT_EQ(rig.store.openKeys, 0);

    // The close saved, so the destroy only runs the form's own handler.
    rig.store.writeOrder.clear();
    rig.events.onDestroy();
    EXPECT_TRUE(rig.store.writeOrder.empty());
    EXPECT_EQ(rig.calls.back(), "FormDestroy");
}

TEST(FormPlacement, DestroyWithoutCloseSavesVisibleAndHandlersGoBack) {
    Rig rig;
    rig.show();
    rig.events.onDestroy();
    EXPECT_EQ(rig.store.get("Visible"), "1");
    EXPECT_EQ(rig.calls, (std::vector<std::string>{"FormShow", "FormDestroy"}));

    rig.placement.reset();
    EXPECT_FALSE(rig.events.onCloseQuery);
    rig.calls.clear();
    rig.events.onShow();
    EXPECT_EQ(rig.calls, std::vector<std::string>{"FormShow"});
    EXPECT_EQ(rig.window.applied.size(), 1U);
}

TEST(FormPlacement, NeverRestoredMeansNeverSaved) {
    Rig rig;
    EXPECT_TRUE(rig.close());
    rig.events.onDestroy();
    EXPECT_TRUE(rig.store.writeOrder.empty());
}

TEST(FormPlacement, TaggedValueWinsOverUntagged) {
    Rig rig;
    rig.storeNormPos("10,20,610,470");
    rig.store.set("MinMaxPos", "-1,-1,-8,-8");
    rig.show();
    ASSERT_EQ(rig.window.applied.size(), 2U);
    EXPECT_EQ(rig.window.applied[0].normalPosition, (PlacementRect{10, 20, 610, 470}));
    EXPECT_EQ(rig.window.applied[0].maxPosition, (PlacementPoint{-8, -8}));
    EXPECT_EQ(rig.window.formPosition, FormPosition::Designed);

    Rig tagged;
    tagged.storeNormPos("10,20,610,470");
    tagged.store.set("NormPos(1024x768)", "30,40,330,340");
    tagged.show();
    EXPECT_EQ(tagged.window.applied[0].normalPosition, (PlacementRect{30, 40, 330, 340}));
    // An empty tagged value falls back to the untagged one.
    Rig empty;
    empty.storeNormPos("10,20,610,470");
    empty.store.set("NormPos(1024x768)", "");
    empty.show();
    EXPECT_EQ(empty.window.applied[0].normalPosition, (PlacementRect{10, 20, 610, 470}));
}

TEST(FormPlacement, PositionWords) {
    struct Case {
        const char* text;
        PlacementRect expected;
    };
    for (const Case& c : {
             // Two words: right and bottom from the form's bounds.
             Case{"10 20", {10, 20, 787, 602}},
             Case{" ,10,,20  ,,30 , 40,", {10, 20, 30, 40}},
             Case{"10,x,30,40", {10, 165, 30, 40}},
             Case{"-5,-6,100,200", {-5, -6, 100, 200}},
         }) {
        Rig rig;
        rig.storeNormPos(c.text);
        rig.show();
        ASSERT_EQ(rig.window.applied.size(), 2U) << c.text;
        EXPECT_EQ(rig.window.applied[0].normalPosition, c.expected) << c.text;
    }
    EXPECT_EQ(placementWord("a,,b", 2), "b");
    EXPECT_EQ(placementWord("a,,b", 3), "");
    EXPECT_EQ(placementInteger("+7", 0), 7);
    EXPECT_EQ(placementInteger("7 ", 0), 0);
    EXPECT_EQ(placementInteger("99999999999", -1), -1);
}

TEST(FormPlacement, NothingAppliedWithoutWidthOrAfterScalingChange) {
    for (const char* text : {"300,20,300,400", "300,20,100,400"}) {
        Rig rig;
        rig.storeNormPos(text);
        rig.show();
        // Only the maximised-position reset reaches the window; centring stays.
        EXPECT_EQ(rig.window.applied.size(), 1U) << text;
        EXPECT_EQ(rig.window.formPosition, FormPosition::DesktopCenter) << text;
    }
    Rig scaled;
    scaled.storeNormPos("10,20,610,470");
    scaled.store.set("PixelsPerInch", "120");
    scaled.store.set("ShowCmd", "3");
    scaled.show();
    EXPECT_EQ(scaled.window.applied.size(), 1U);
    EXPECT_EQ(scaled.window.states, std::vector<WindowState>{WindowState::Maximized});
}

TEST(FormPlacement, FixedSizeWindowTakesOnlyTheCorner) {
    Rig rig;
    rig.window.border = FormBorderStyle::Single;
    rig.storeNormPos("10,20,30,40");
    rig.show();
    EXPECT_EQ(rig.window.applied[0].normalPosition, (PlacementRect{10, 20, 560, 457}));
    // The reset uses the border metrics of the style.
    EXPECT_EQ(rig.window.applied[1].maxPosition, (PlacementPoint{-1, -1}));
}

TEST(FormPlacement, ShowCommands) {
    for (const char* normal : {"0", "1", "4", "5", "8", "9", "10", "-3", "max", ""}) {
        Rig rig;
        rig.store.set("ShowCmd", normal);
        rig.show();
        EXPECT_EQ(rig.window.states, std::vector<WindowState>{WindowState::Normal}) << normal;
        EXPECT_EQ(rig.window.updates, 1) << normal;
        EXPECT_EQ(rig.window.minimizePosts, 0) << normal;
    }
    Rig maximized;
    maximized.store.set("ShowCmd", "3");
    maximized.show();
    EXPECT_EQ(maximized.window.states, std::vector<WindowState>{WindowState::Maximized});
    for (const char* minimized : {"2", "6", "7"}) {
        Rig rig;
        rig.store.set("ShowCmd", minimized);
        rig.show();
        // Normal first; the application minimises once the posted command arrives.
        EXPECT_EQ(rig.window.states, std::vector<WindowState>{WindowState::Normal}) << minimized;
        EXPECT_EQ(rig.window.minimizePosts, 1) << minimized;
        EXPECT_EQ(rig.window.updates, 0) << minimized;
        EXPECT_EQ(rig.calls, std::vector<std::string>{"FormShow"});
    }
    // A window whose position is left to the system opens maximised by default.
    Rig byDefault;
    byDefault.window.formPosition = FormPosition::Default;
    byDefault.show();
    EXPECT_EQ(byDefault.window.states, std::vector<WindowState>{WindowState::Maximized});
}

TEST(FormPlacement, MinimisedApplicationSavesShowCmdTwo) {
    Rig rig;
    rig.show();
    rig.window.current.showCmd = kSwShowNormal;
    rig.window.minimized = true;
    rig.close();
    EXPECT_EQ(rig.store.get("ShowCmd"), "2");
}

TEST(FormPlacement, NewerLayoutVersionIgnoresStoredPlacement) {
    Rig rig;
    rig.storeNormPos("10,20,610,470");
    rig.store.set("FormVersion", "-1");
    rig.store.set("ShowCmd", "3");
    rig.show();
    EXPECT_EQ(rig.window.applied.size(), 1U);
    EXPECT_TRUE(rig.window.states.empty());
    EXPECT_TRUE(rig.placement->restored());
    rig.close();
    EXPECT_EQ(rig.store.get("FormVersion"), "0");
}

TEST(FormPlacement, WrongTypeStopsTheRestoreAndTheSave) {
    Rig rig;
    rig.storeNormPos("10,20,610,470");
    rig.store.values["Placement\\NormPos"].isNumber = true;
    rig.show();
    EXPECT_EQ(rig.errors, std::vector<std::string>{"Invalid data type for 'NormPos'"});
    // The form's handler still runs; no reset, nothing applied, the key is closed again.
    EXPECT_EQ(rig.calls, std::vector<std::string>{"FormShow"});
    EXPECT_TRUE(rig.window.applied.empty());
    EXPECT_FALSE(rig.placement->restored());
    EXPECT_EQ(rig.store.openKeys, 0);
    EXPECT_TRUE(rig.close());
    rig.events.onDestroy();
    EXPECT_TRUE(rig.store.writeOrder.empty());
    EXPECT_EQ(rig.store.get("NormPos"), "10,20,610,470");
}

TEST(FormPlacement, FailedWriteIsReportedAndClosingGoesOn) {
    Rig rig;
    rig.placement.reset();
    rig.events.onCloseQuery = [&rig](bool&) {
        rig.calls.emplace_back("own close query");
    };
    rig.placement = std::make_unique<TFormPlacement>(
        rig.events, rig.window, rig.store,
        [&rig](const std::string& text) { rig.errors.push_back(text); });
    rig.placement->IniSection = "Placement";
    rig.placement->Loaded();
    rig.show();
    rig.store.failWrites = true;
    EXPECT_TRUE(rig.close());
    EXPECT_EQ(rig.errors, std::vector<std::string>{"Failed to set data for 'FormVersion'"});
    EXPECT_EQ(rig.calls.back(), "own close query");
    EXPECT_EQ(rig.store.openKeys, 0);
    // The close did not save, so the destroy tries again and still runs the form's handler.
    rig.events.onDestroy();
    EXPECT_EQ(rig.errors.size(), 2U);
    EXPECT_EQ(rig.calls.back(), "FormDestroy");
}

TEST(FormPlacement, RefusedCloseSavesNothingAndInactiveDoesNothing) {
    Rig rig;
    rig.show();
    rig.placement.reset();
    rig.events.onCloseQuery = [](bool& canClose) {
        canClose = false;
    };
    rig.placement = std::make_unique<TFormPlacement>(rig.events, rig.window, rig.store, nullptr);
    rig.placement->IniSection = "Placement";
    rig.placement->Loaded();
    rig.show();
    EXPECT_FALSE(rig.close());
    EXPECT_TRUE(rig.store.writeOrder.empty());

    Rig inactive;
    inactive.placement->Active = false;
    inactive.show();
    inactive.close();
    EXPECT_TRUE(inactive.window.applied.empty());
    // Saving by hand while inactive writes even without a restore.
    inactive.placement->SavePlacement();
    EXPECT_EQ(inactive.store.writeOrder.size(), 9U);
}

} // namespace
} // namespace sarnika
