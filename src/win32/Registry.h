#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/Options.h"
#include "app/SettingsStore.h"
#include "winsvc/FormPlacement.h"

namespace sarnika::win32 {

// The program's settings in the registry under HKEY_CURRENT_USER: string values (REG_SZ) of a
// key such as "Software\Quillmoor\Sarnika", and ini-style sections as its subkeys. Keys are
// created when missing. An absent value reads as none, an empty value of any type as the empty
// string; a value of another type throws "Invalid data type for '<name>'", a failed write
// "Failed to set data for '<name>'", a key that cannot be made "Failed to create key <path>".
class RegistryIniStore final : public IniStore {
public:
    std::unique_ptr<IniKey> open(const std::string& keyPath) override;
};

class RegistrySettings final : public SettingsStore {
public:
    explicit RegistrySettings(std::string keyPath) : m_keyPath(std::move(keyPath)) {}
    std::optional<std::string> readString(const std::string& name) override;
    void writeString(const std::string& name, const std::string& value) override;

private:
    std::string m_keyPath;
};

// The number values (REG_DWORD) of a key such as the shared options' "Software\Quillmoor\Tessaly".
// A value of another type throws "Invalid data type for '<name>'".
class RegistryOptionsStore final : public OptionsStore {
public:
    explicit RegistryOptionsStore(std::string keyPath = kOptionsKey)
        : m_keyPath(std::move(keyPath)) {}
    std::optional<std::uint32_t> readNumber(const std::string& name) override;
    void writeNumber(const std::string& name, std::uint32_t value) override;

private:
    std::string m_keyPath;
};

} // namespace sarnika::win32
