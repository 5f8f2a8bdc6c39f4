#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Result.h"

namespace sarnika {

// The per-user key of the options the company's programs share ("Software\Quillmoor\Tessaly")
// with its number values.
class OptionsStore {
public:
    virtual ~OptionsStore() = default;
    // Empty when absent; throws SettingsError "Invalid data type for '<name>'" for a value
    // that is not a number.
    virtual std::optional<std::uint32_t> readNumber(const std::string& name) = 0;
    // Throws SettingsError when the key cannot be created or the value not stored.
    virtual void writeNumber(const std::string& name, std::uint32_t value) = 0;
};

inline constexpr const char* kOptionsKey = "Software\\Quillmoor\\Tessaly";

// The options record shared with the company's other programs. This program only keeps it
// alive: loaded before the main window exists, saved after it is gone.
class TOptions {
public:
    std::uint8_t SecLevel = 2;
    std::uint8_t HistoryRemoveSecLevel = 2;
    std::int32_t IEDetectPeriod = 5;
    bool AutoStart = true;
    bool ShowConfirms = true;
    bool IEAutoDetection = false;
    bool ClearOnStartUp = false;
    bool RemoveAll = false;
    bool AutoCleanOnProgStartUp = false;
    bool RemoveHistory = true;
    bool UnloadShell = false;

    // Reads every value that exists and writes the current one where none does. On a failed
    // step (Unreadable, with the store's message) the values read so far stay, the rest keep
    // their defaults.
    Status Load(OptionsStore& store);
    // Writes all eleven values; stops at the first that fails (WriteFailed, with the store's
    // message).
    Status Save(OptionsStore& store) const;
};

} // namespace sarnika
