#include "support/gui/ServicesTestRig.h"

#include <QFile>
#include <QSettings>
#include <QTest>
#include <QWidget>

#include "cache/IECache.h"

namespace sarnika::testing {
namespace {

class PlainPreview final : public PreviewPort {
public:
    explicit PlainPreview(QWidget* parent) : m_widget(new QWidget(parent)) {
        m_widget->setObjectName(QStringLiteral("wbPreview"));
    }
    QWidget* widget() override { return m_widget; }
    void Navigate(const QString&) override {}

private:
    QWidget* m_widget;
};

} // namespace

std::unique_ptr<IniKey> CountingIniStore::open(const std::string& keyPath) {
    ++opened;
    return m_store.open(keyPath);
}

bool FakeArea::add(const NotifyIconData&) {
    ++adds;
    shown = isAvailable;
    return shown;
}

bool FakeArea::remove(const NotifyIconData&) {
    const bool was = shown;
    shown = false;
    return was;
}

void FakeArea::click() const {
    receiver(kTrayCallbackMessage, static_cast<unsigned>(TrayMouseMessage::LButtonDown));
    receiver(kTrayCallbackMessage, static_cast<unsigned>(TrayMouseMessage::LButtonUp));
}

ServicesRig::ServicesRig(std::shared_ptr<NotificationArea> area) {
    auto options = sources::BrowserCacheLayer::currentUserOptions();
    const auto read = options.reader;
    // The test's reader stands in for the streaming one, which would read past it.
    options.streamer = nullptr;
    options.reader = [this, read](const sources::SourceLocation& source, std::string_view user,
                                  sources::ReadReport& report) {
        return empty ? std::vector<sources::CacheRecord>() : read(source, user, report);
    };
    layer = std::make_unique<sources::BrowserCacheLayer>(std::move(options));
    TIECache::CheckLibrary(*layer);
    TfrmMain::Ports ports;
    ports.makePreview = [](QWidget* parent) {
        return std::make_unique<PlainPreview>(parent);
    };
    ports.placementStore = store;
    ports.trayArea = std::move(area);
    window = std::make_unique<TfrmMain>(*layer, utc, std::move(ports));
}

void ServicesRig::showSettled() const {
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QTRY_VERIFY_WITH_TIMEOUT(window->placementSettled(), 60000);
}

QString sarnikaConf() {
    return QtSettingsStore().location();
}

QString tessalyConf() {
    return QtOptionsStore().location();
}

QString placementValue(const QString& name) {
    QSettings settings(sarnikaConf(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Placement"));
    return settings.value(name, QStringLiteral("<absent>")).toString();
}

QString fileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace sarnika::testing
