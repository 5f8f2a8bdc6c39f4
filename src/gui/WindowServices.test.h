#pragma once

#include <memory>

#include <QObject>

#include "gui/WindowTestSupport.h"

// The window's placement, its tray icon and the program's start and end, offscreen: a fake
// notification area stands in for the desktop's.
class TestWindowServices : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void storesReadAndRefuseAsTheRegistryWould();
    void reopensWhereAndHowItWasClosed();
    void placementErrorIsReportedAndWindowOpens();
    void trayRestoreIsNoShowing();
    void withoutNotificationAreaMinimisedStaysAWindow();
    void settingsAfterNormalCloseAndTrayExit();

    // NOLINTNEXTLINE(readability-redundant-access-specifiers): moc needs the slots section.
private:
    std::unique_ptr<sarnika::testing::ModalDriver> m_driver;
};
