#pragma once

#include <optional>
#include <string>

#include <QString>

#include "app/SettingsStore.h"

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
    // Another application's key under the same organisation (the tests use their own).
    explicit QtSettingsStore(QString application);

    std::optional<std::string> readString(const std::string& name) override;
    void writeString(const std::string& name, const std::string& value) override;

    // The file (or registry path) the values live in.
    QString location() const;

private:
    QString m_application = kSettingsApplication;
};

} // namespace sarnika
