#pragma once

#include <QObject>

// The splash window and its guard, offscreen.
class TestSplashWindow : public QObject {
    Q_OBJECT

private slots:
    void shownPaintedAndPlaced();
    void withoutPictureTheTextMovesLeft();
    void centredOnAControl();
    void guardRemovesTheWindowWhenTheScanThrows();
    void twoScansLeaveNoWindow();
};
