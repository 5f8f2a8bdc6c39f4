#include "gui/Settings.h"

#include <cstdint>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace sarnika {
namespace {

QSettings openKey(const QString& organisation, const QString& application) {
    return {QSettings::NativeFormat, QSettings::UserScope, organisation, application};
}

QSettings openKey(const QString& application) {
    return openKey(kSettingsOrganisation, application);
}

// A file-backed key whose folder cannot be made cannot be created at all.
void createKey(const QSettings& settings, const std::string& keyPath) {
    const QFileInfo file(settings.fileName());
    if (file.isAbsolute() && !QDir().mkpath(file.path())) {
        throw SettingsError("Failed to create key " + keyPath);
    }
}

// Types that may stand in a string value when they hold nothing: the INI format writes an
// empty list or byte array in forms of their own, the registry has empty binary values.
bool isEmptyValue(const QVariant& value) {
    if (!value.isValid() || value.isNull()) {
        return true;
    }
    switch (value.typeId()) {
    case QMetaType::QByteArray:
        return value.toByteArray().isEmpty();
    case QMetaType::QStringList:
        return value.toStringList().isEmpty();
    default:
        return false;
    }
}

std::optional<std::string> readStringValue(const QSettings& settings, const std::string& name) {
    const QString key = QString::fromStdString(name);
    if (settings.status() != QSettings::NoError || !settings.contains(key)) {
        return std::nullopt;
    }
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::QString) {
        return value.toString().toStdString();
    }
    if (isEmptyValue(value)) {
        return std::string();
    }
    throw SettingsError("Invalid data type for '" + name + "'");
}

void writeStringValue(QSettings& settings, const std::string& name, const std::string& value) {
    settings.setValue(QString::fromStdString(name), QString::fromStdString(value));
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        throw SettingsError("Failed to set data for '" + name + "'");
    }
}

class QtIniKey final : public IniKey {
public:
    QtIniKey(std::string keyPath, QString organisation, QString application)
        : m_keyPath(std::move(keyPath)), m_organisation(std::move(organisation)),
          m_application(std::move(application)) {
        createKey(openKey(m_organisation, m_application), m_keyPath);
    }

    std::optional<std::string> readString(const std::string& section,
                                          const std::string& name) override {
        QSettings settings = openKey(m_organisation, m_application);
        settings.beginGroup(QString::fromStdString(section));
        return readStringValue(settings, name);
    }

    void writeString(const std::string& section, const std::string& name,
                     const std::string& value) override {
        QSettings settings = openKey(m_organisation, m_application);
        createKey(settings, m_keyPath + "\\" + section);
        settings.beginGroup(QString::fromStdString(section));
        writeStringValue(settings, name, value);
    }

private:
    std::string m_keyPath;
    QString m_organisation;
    QString m_application;
};

} // namespace

QtSettingsStore::QtSettingsStore(QString application, QString section)
    : m_application(std::move(application)), m_section(std::move(section)) {}

std::optional<std::string> QtSettingsStore::readString(const std::string& name) {
    QSettings settings = openKey(m_application);
    if (!m_section.isEmpty()) {
        settings.beginGroup(m_section);
    }
    return readStringValue(settings, name);
}

void QtSettingsStore::writeString(const std::string& name, const std::string& value) {
    QSettings settings = openKey(m_application);
    if (!m_section.isEmpty()) {
        settings.beginGroup(m_section);
    }
    writeStringValue(settings, name, value);
}

QString QtSettingsStore::location() const {
    return openKey(m_application).fileName();
}

std::unique_ptr<IniKey> QtIniStore::open(const std::string& keyPath) {
    const QStringList parts = QString::fromStdString(keyPath).split(QLatin1Char('\\'));
    const QString application = parts.value(parts.size() - 1, kSettingsApplication);
    const QString organisation = parts.value(parts.size() - 2, kSettingsOrganisation);
    return std::make_unique<QtIniKey>(keyPath, organisation, application);
}

QtOptionsStore::QtOptionsStore() : QtOptionsStore(QStringLiteral("Tessaly")) {}

QtOptionsStore::QtOptionsStore(QString application)
    : m_organisation(kSettingsOrganisation), m_application(std::move(application)) {}

std::optional<std::uint32_t> QtOptionsStore::readNumber(const std::string& name) {
    const QSettings settings = openKey(m_organisation, m_application);
    const QString key = QString::fromStdString(name);
    if (settings.status() != QSettings::NoError || !settings.contains(key)) {
        return std::nullopt;
    }
    const QVariant value = settings.value(key);
    bool ok = false;
    qlonglong number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        number = value.toLongLong(&ok);
        break;
    case QMetaType::QString:
        // The text files keep numbers as text.
        number = value.toString().toLongLong(&ok);
        ok = ok && number >= INT32_MIN && number <= UINT32_MAX;
        break;
    default:
        break;
    }
    if (!ok) {
        throw SettingsError("Invalid data type for '" + name + "'");
    }
    return static_cast<std::uint32_t>(static_cast<qulonglong>(number) & 0xFFFFFFFFU);
}

void QtOptionsStore::writeNumber(const std::string& name, std::uint32_t value) {
    QSettings settings = openKey(m_organisation, m_application);
    createKey(settings, kOptionsKey);
    settings.setValue(QString::fromStdString(name), QVariant::fromValue(value));
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        throw SettingsError("Failed to set data for '" + name + "'");
    }
}

QString QtOptionsStore::location() const {
    return openKey(m_organisation, m_application).fileName();
}

} // namespace sarnika
