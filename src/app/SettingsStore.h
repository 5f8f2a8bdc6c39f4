#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace sarnika {

// A settings operation failed; what() is the text shown to the user.
class SettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The program's per-user settings key ("Software\Quillmoor\Sarnika") with its string values.
// The window reads and writes through this port; the Qt front end stores the values with
// QSettings, tests may hand in a fake.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // Empty when the value is absent. An empty value of any type reads as the empty string;
    // any other value that is not a string throws "Invalid data type for '<name>'".
    virtual std::optional<std::string> readString(const std::string& name) = 0;
    // Throws "Failed to set data for '<name>'" when the value cannot be stored.
    virtual void writeString(const std::string& name, const std::string& value) = 0;
};

} // namespace sarnika
