#include "app/Options.h"

#include <map>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/SettingsStore.h"

namespace sarnika {
namespace {

// Numbers in memory; a name in `textValues` holds a string instead.
class FakeOptionsStore final : public OptionsStore {
public:
    std::map<std::string, std::uint32_t> values;
    std::vector<std::string> textValues;
    std::vector<std::pair<std::string, std::uint32_t>> writes;
    bool failWrites = false;

    std::optional<std::uint32_t> readNumber(const std::string& name) override {
        for (const std::string& text : textValues) {
            if (text == name) {
                throw SettingsError("Invalid data type for '" + name + "'");
            }
        }
        const auto found = values.find(name);
        if (found == values.end()) {
            return std::nullopt;
        }
        return found->second;
    }
    void writeNumber(const std::string& name, std::uint32_t value) override {
        if (failWrites) {
            throw SettingsError("Failed to set data for '" + name + "'");
        }
        values[name] = value;
        writes.emplace_back(name, value);
    }
    std::vector<std::string> writtenNames() const {
        std::vector<std::string> names;
        for (const auto& write : writes) {
            names.push_back(write.first);
        }
        return names;
    }
};

TEST(Options, FirstRunWritesTheDefaultsWhileLoadingAndAgainAtExit) {
    FakeOptionsStore store;
    TOptions options;
    EXPECT_TRUE(options.Load(store));
    EXPECT_EQ(store.writtenNames(),
              (std::vector<std::string>{"HistoryRemoveSecLevel", "SecLevel", "IEDetectPeriod",
                                        "AutoCleanOnProgStartUp", "RemoveAll", "IEAutoDetection",
                                        "ShowConfirms", "AutoStart", "ClearOnStartUp",
                                        "RemoveHistory", "UnloadShell"}));
    const std::map<std::string, std::uint32_t> defaults{{"SecLevel", 2},
                                                        {"HistoryRemoveSecLevel", 2},
                                                        {"IEDetectPeriod", 5},
                                                        {"AutoStart", 1},
                                                        {"ShowConfirms", 1},
                                                        {"IEAutoDetection", 0},
                                                        {"ClearOnStartUp", 0},
                                                        {"RemoveAll", 0},
                                                        {"AutoCleanOnProgStartUp", 0},
                                                        {"RemoveHistory", 1},
                                                        {"UnloadShell", 0}};
    EXPECT_EQ(store.values, defaults);

    store.writes.clear();
    EXPECT_TRUE(options.Save(store));
    EXPECT_EQ(store.writtenNames(),
              (std::vector<std::string>{"HistoryRemoveSecLevel", "SecLevel", "IEDetectPeriod",
                                        "IEAutoDetection", "ShowConfirms", "AutoStart",
                                        "ClearOnStartUp", "RemoveAll", "AutoCleanOnProgStartUp",
                                        "RemoveHistory", "UnloadShell"}));
    EXPECT_EQ(store.values, defaults);
}

TEST(Options, StoredValuesAreNarrowedOnTheWayIn) {
    FakeOptionsStore store;
    store.values = {{"RemoveAll", 7},
                    {"SecLevel", 258},
                    {"AutoStart", 0},
                    {"IEDetectPeriod", 0xFFFFFFFF},
                    {"HistoryRemoveSecLevel", 0x1FF}};
    TOptions options;
    EXPECT_TRUE(options.Load(store));
    EXPECT_TRUE(options.RemoveAll);
    EXPECT_FALSE(options.AutoStart);
    EXPECT_EQ(options.SecLevel, 2);
    EXPECT_EQ(options.HistoryRemoveSecLevel, 0xFF);
    EXPECT_EQ(options.IEDetectPeriod, -1);
    // Only the absent values were written while loading.
    EXPECT_EQ(store.writes.size(), 6U);

    EXPECT_TRUE(options.Save(store));
    EXPECT_EQ(store.values["RemoveAll"], 1U);
    EXPECT_EQ(store.values["SecLevel"], 2U);
    EXPECT_EQ(store.values["IEDetectPeriod"], 0xFFFFFFFFU);
}

TEST(Options, FailedLoadKeepsWhatWasReadAndDefaultsForTheRest) {
    FakeOptionsStore store;
    store.values = {{"HistoryRemoveSecLevel", 9}, {"SecLevel", 8}, {"AutoStart", 0}};
    store.textValues = {"IEDetectPeriod"};
    TOptions options;
    EXPECT_FALSE(options.Load(store));
    EXPECT_EQ(options.HistoryRemoveSecLevel, 9);
    EXPECT_EQ(options.SecLevel, 8);
    EXPECT_EQ(options.IEDetectPeriod, 5);
    EXPECT_TRUE(options.AutoStart);
    EXPECT_TRUE(store.writes.empty());

    // A key that cannot be written: the first default fails the load, and the save fails.
    FakeOptionsStore locked;
    locked.failWrites = true;
    TOptions fresh;
    EXPECT_FALSE(fresh.Load(locked));
    EXPECT_EQ(fresh.SecLevel, 2);
    const Status saved = fresh.Save(locked);
    EXPECT_FALSE(saved);
    EXPECT_EQ(saved.error().message, "Failed to set data for 'HistoryRemoveSecLevel'");
}

} // namespace
} // namespace sarnika
