#pragma once

#include <QObject>

// The placement and the tray icon on a real X server (Xvfb) with a window manager (openbox) and
// a notification area (trayer), driven by xdotool.
class TestWindowServicesX11 : public QObject {
    Q_OBJECT

private slots:
    void init();

    void reopensAtTheSamePlaceAndSizeUnderAWindowManager();
    void trayIconRestoresOnClickAndOffersItsMenu();
};
