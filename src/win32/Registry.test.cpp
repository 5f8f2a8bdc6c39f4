#include "win32/Registry.h"

#include <string>

#include <windows.h>

#include <gtest/gtest.h>

namespace {

using sarnika::SettingsError;
using sarnika::TOptions;
using sarnika::win32::RegistryIniStore;
using sarnika::win32::RegistryOptionsStore;
using sarnika::win32::RegistrySettings;

// A key of the test's own, removed with everything below it.
class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, m_path.c_str()); }
    bool exists(const std::string& path) const {
        HKEY key = nullptr;
        const bool found =
            RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (found) {
            RegCloseKey(key);
        }
        return found;
    }
    void setRaw(const char* name, DWORD type, const void* data, DWORD size) const {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    const std::string m_path =
        "Software\\Quillmoor\\SarnikaTest" + std::to_string(GetCurrentProcessId());
};

TEST_F(RegistryTest, StringValuesAsTheSettingsReadAndWriteThem) {
    RegistrySettings settings(m_path);
    // Reading makes no key.
    EXPECT_EQ(settings.readString("SaveAsFolder"), std::nullopt);
    EXPECT_FALSE(exists(m_path));
    settings.writeString("SaveAsFolder", "C:\\Users\\j\\Documents");
    settings.writeString("SaveAllFolder", "");
    EXPECT_EQ(settings.readString("SaveAsFolder"), "C:\\Users\\j\\Documents");
    EXPECT_EQ(settings.readString("SaveAllFolder"), "");
    // Another type: refused with the value's name, unless it is empty.
    const DWORD number = 42;
    setRaw("Number", REG_DWORD, &number, sizeof(number));
    setRaw("Nothing", REG_BINARY, nullptr, 0);
    try {
        settings.readString("Number");
        ADD_FAILURE() << "a DWORD read as a string";
    } catch (const SettingsError& error) {
        EXPECT_STREQ(error.what(), "Invalid data type for 'Number'");
    }
    EXPECT_EQ(settings.readString("Nothing"), "");
}

TEST_F(RegistryTest, IniSectionsAreSubkeys) {
    RegistryIniStore store;
    const auto key = store.open(m_path);
    EXPECT_TRUE(exists(m_path));
    EXPECT_EQ(key->readString("Placement", "Position"), std::nullopt);
    EXPECT_FALSE(exists(m_path + "\\Placement"));
    key->writeString("Placement", "Position", "10,20,560,457");
    EXPECT_EQ(key->readString("Placement", "Position"), "10,20,560,457");
    EXPECT_EQ(RegistrySettings(m_path + "\\Placement").readString("Position"), "10,20,560,457");
}

// The shared options as DWORDs: a first load creates the key with all eleven defaults, stored
// values come back (booleans any non-zero, bytes their low 8 bits) and are saved normalised.
TEST_F(RegistryTest, OptionsRecordOverDwordValues) {
    RegistryOptionsStore store(m_path);
    TOptions first;
    ASSERT_TRUE(first.Load(store));
    for (const char* name : {"SecLevel", "HistoryRemoveSecLevel", "IEDetectPeriod", "AutoStart",
                             "ShowConfirms", "IEAutoDetection", "ClearOnStartUp", "RemoveAll",
                             "AutoCleanOnProgStartUp", "RemoveHistory", "UnloadShell"}) {
        EXPECT_TRUE(store.readNumber(name).has_value()) << name;
    }
    EXPECT_EQ(store.readNumber("IEDetectPeriod"), 5U);
    EXPECT_EQ(store.readNumber("AutoStart"), 1U);

    const DWORD seven = 7;
    const DWORD level = 258;
    setRaw("ClearOnStartUp", REG_DWORD, &seven, sizeof seven);
    setRaw("SecLevel", REG_DWORD, &level, sizeof level);
    TOptions stored;
    ASSERT_TRUE(stored.Load(store));
    EXPECT_TRUE(stored.ClearOnStartUp);
    EXPECT_EQ(stored.SecLevel, 2);
    ASSERT_TRUE(stored.Save(store));
    EXPECT_EQ(store.readNumber("ClearOnStartUp"), 1U);
    EXPECT_EQ(store.readNumber("SecLevel"), 2U);

    // A string where a number belongs stops the load with the value's name: what came before
    // it is read, what comes after keeps its default.
    const DWORD period = 9;
    setRaw("IEDetectPeriod", REG_DWORD, &period, sizeof period);
    setRaw("RemoveAll", REG_SZ, "1", 2);
    TOptions broken;
    const auto loaded = broken.Load(store);
    ASSERT_FALSE(loaded);
    EXPECT_EQ(loaded.error().message, "Invalid data type for 'RemoveAll'");
    EXPECT_EQ(broken.IEDetectPeriod, 9);
    EXPECT_FALSE(broken.ClearOnStartUp);
}

} // namespace
