#pragma once

#include <QObject>

// The window as a user meets it on a desktop: Xvfb, a window manager (openbox) and a
// notification area (trayer), driven with the mouse and the keyboard through xdotool.
class TestWindowJourneys : public QObject {
    Q_OBJECT

private slots:
    void init();

    void comesUpAtItsSize();
    void restoreFromTheTrayMenu();
    void startUpErrorInTheMiddleOfTheScreen();
    void savingNeverOffersTheRoot();
    void ctrlClickKeepsTheSelection();
    void refreshFindsACacheMadeAfterTheStart();
};
