#include "win32/Registry.h"

#include <algorithm>

#include <windows.h>

namespace sarnika::win32 {
namespace {

// An open key, closed with the object: made when missing for writing; for reading a missing
// key holds no values.
class Key {
public:
    enum class Access { Read, Write };
    Key(const std::string& path, Access access) {
        if (access == Access::Read) {
            if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &m_key) !=
                ERROR_SUCCESS) {
                m_key = nullptr;
            }
        } else if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr,
                                   REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &m_key,
                                   nullptr) != ERROR_SUCCESS) {
            throw SettingsError("Failed to create key " + path);
        }
    }
    ~Key() {
        if (m_key != nullptr) {
            RegCloseKey(m_key);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    std::optional<std::string> read(const std::string& name) const {
        DWORD type = 0;
        DWORD size = 0;
        if (m_key == nullptr || RegQueryValueExA(m_key, name.c_str(), nullptr, &type, nullptr,
                                                 &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        if (size == 0) {
            return std::string();
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            throw SettingsError("Invalid data type for '" + name + "'");
        }
        std::string value(size, '\0');
        if (RegQueryValueExA(m_key, name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        value.resize(std::min<std::size_t>(size, value.size()));
        // The stored text ends at its first NUL (the terminator, where the writer kept it).
        value.resize(value.find('\0') == std::string::npos ? value.size() : value.find('\0'));
        return value;
    }

    std::optional<std::uint32_t> readNumber(const std::string& name) const {
        DWORD type = 0;
        DWORD value = 0;
        DWORD size = sizeof value;
        if (m_key == nullptr) {
            return std::nullopt;
        }
        const LONG status = RegQueryValueExA(m_key, name.c_str(), nullptr, &type,
                                             reinterpret_cast<BYTE*>(&value), &size);
        if (status == ERROR_FILE_NOT_FOUND) {
            return std::nullopt;
        }
        if ((status != ERROR_SUCCESS && status != ERROR_MORE_DATA) || type != REG_DWORD ||
            size != sizeof value) {
            throw SettingsError("Invalid data type for '" + name + "'");
        }
        return static_cast<std::uint32_t>(value);
    }

    void writeNumber(const std::string& name, std::uint32_t number) const {
        const DWORD value = number;
        if (RegSetValueExA(m_key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof value) != ERROR_SUCCESS) {
            throw SettingsError("Failed to set data for '" + name + "'");
        }
    }

    void write(const std::string& name, const std::string& value) const {
        if (RegSetValueExA(m_key, name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS) {
            throw SettingsError("Failed to set data for '" + name + "'");
        }
    }

private:
    HKEY m_key = nullptr;
};

class RegistryIniKey final : public IniKey {
public:
    explicit RegistryIniKey(std::string path) : m_path(std::move(path)) {
        const Key made(m_path, Key::Access::Write);
    }
    std::optional<std::string> readString(const std::string& section,
                                          const std::string& name) override {
        return Key(m_path + "\\" + section, Key::Access::Read).read(name);
    }
    void writeString(const std::string& section, const std::string& name,
                     const std::string& value) override {
        Key(m_path + "\\" + section, Key::Access::Write).write(name, value);
    }

private:
    std::string m_path;
};

} // namespace

std::unique_ptr<IniKey> RegistryIniStore::open(const std::string& keyPath) {
    return std::make_unique<RegistryIniKey>(keyPath);
}

std::optional<std::string> RegistrySettings::readString(const std::string& name) {
    return Key(m_keyPath, Key::Access::Read).read(name);
}

void RegistrySettings::writeString(const std::string& name, const std::string& value) {
    Key(m_keyPath, Key::Access::Write).write(name, value);
}

// The key is made when missing, also for reading: loading the options creates it.
std::optional<std::uint32_t> RegistryOptionsStore::readNumber(const std::string& name) {
    return Key(m_keyPath, Key::Access::Write).readNumber(name);
}

void RegistryOptionsStore::writeNumber(const std::string& name, std::uint32_t value) {
    Key(m_keyPath, Key::Access::Write).writeNumber(name, value);
}

} // namespace sarnika::win32
