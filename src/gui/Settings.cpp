#include "gui/Settings.h"

#include <QByteArray>
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace sarnika {
namespace {

QSettings openKey(const QString& application) {
    return {QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganisation, application};
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

} // namespace

QtSettingsStore::QtSettingsStore(QString application) : m_application(std::move(application)) {}

std::optional<std::string> QtSettingsStore::readString(const std::string& name) {
    const QSettings settings = openKey(m_application);
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

void QtSettingsStore::writeString(const std::string& name, const std::string& value) {
    QSettings settings = openKey(m_application);
    settings.setValue(QString::fromStdString(name), QString::fromStdString(value));
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        throw SettingsError("Failed to set data for '" + name + "'");
    }
}

QString QtSettingsStore::location() const {
    return openKey(m_application).fileName();
}

} // namespace sarnika
