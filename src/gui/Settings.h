#pragma once

#include <optional>
#include <string>

#include <QString>

#include "app/Options.h"
#include "app/SettingsStore.h"
#include "winsvc/FormPlacement.h"

namespace sarnika {

// The settings key of the program in QSettings' terms: the registry key
// HKEY_CURRENT_USER\Software\Quillmoor\Sarnika on Windows, ~/.config/Quillmoor/Sarnika.conf
// on Linux.
inline const QString kSettingsOrganisation = QStringLiteral("Quillmoor");
inline const QString kSettingsApplication = QStringLiteral("Sarnika");

// The settings store over QSettings. Every call opens the key afresh and closes it again, so
// a value written elsewhere in between is seen.
class QtSettingsStore final : public SettingsStore {
public:
    QtSettingsStore() = default;
    // Another application's key under the same organisation (the tests use their own), or a
    // section (subkey) of it.
    explicit QtSettingsStore(QString application, QString section = {});

    std::optional<std::string> readString(const std::string& name) override;
    void writeString(const std::string& name, const std::string& value) override;

    // The file (or registry path) the values live in.
    QString location() const;

private:
    QString m_application = kSettingsApplication;
    QString m_section;
};

// Key paths such as "Software\Quillmoor\Sarnika" opened as QSettings keys: the last two parts
// are the organisation and the application.
class QtIniStore final : public IniStore {
public:
    std::unique_ptr<IniKey> open(const std::string& keyPath) override;
};

// The shared options' key ("Software\Quillmoor\Tessaly": ~/.config/Quillmoor/Tessaly.conf on
// Linux, DWORD values in the registry on Windows).
class QtOptionsStore final : public OptionsStore {
public:
    QtOptionsStore();
    explicit QtOptionsStore(QString application);

    std::optional<std::uint32_t> readNumber(const std::string& name) override;
    void writeNumber(const std::string& name, std::uint32_t value) override;
    QString location() const;

private:
    QString m_organisation;
    QString m_application;
};

} // namespace sarnika
