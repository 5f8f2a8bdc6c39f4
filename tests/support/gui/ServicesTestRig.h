#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QString>

#include "base/DateTime.h"
#include "cache/sources/BrowserCacheLayer.h"
#include "gui/MainWindow.h"
#include "gui/Settings.h"
#include "winsvc/FormPlacement.h"
#include "winsvc/RxTrayIcon.h"

namespace sarnika::testing {

// The settings key over QSettings, counting the passes that open it.
class CountingIniStore final : public IniStore {
public:
    std::unique_ptr<IniKey> open(const std::string& keyPath) override;
    int opened = 0;

private:
    QtIniStore m_store;
};

// A notification area that is there (or not) and records what the icon asks of it.
class FakeArea final : public NotificationArea {
public:
    bool isAvailable = true;
    bool shown = false;
    int adds = 0;
    Receiver receiver;

    bool available() const override { return isAvailable; }
    void listen(Receiver newReceiver) override { receiver = std::move(newReceiver); }
    bool add(const NotifyIconData&) override;
    bool modify(const NotifyIconData&) override { return shown; }
    bool remove(const NotifyIconData&) override;
    unsigned taskbarCreatedMessage() const override { return 0xC0F0; }
    TrayPoint cursorPos() const override { return {}; }
    TrayShiftState keyState() const override { return 0; }
    void cancelMode() override {}
    void foreground() override {}
    void processMessages() override {}

    // A left click on the icon as the area reports it.
    void click() const;
};

// The main window over the current user's caches with a plain widget as the preview.
struct ServicesRig {
    explicit ServicesRig(std::shared_ptr<NotificationArea> area = {});

    // Shows the window and waits until the window manager's frame (if any) has been fitted.
    void showSettled() const;

    bool empty = false;
    std::shared_ptr<CountingIniStore> store = std::make_shared<CountingIniStore>();
    UtcLocalTime utc;
    std::unique_ptr<sources::BrowserCacheLayer> layer;
    std::unique_ptr<TfrmMain> window;
};

QString placementValue(const QString& name);
QString sarnikaConf();
QString tessalyConf();
QString fileText(const QString& path);

} // namespace sarnika::testing
