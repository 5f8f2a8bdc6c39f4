#pragma once

#include <QObject>

// The whole window on the demo's caches under a real X server with a window manager (openbox)
// and a notification area (trayer): choosing a movie plays it in the preview, the preview comes
// back after the tray, and the keyboard is never caught in the movie.
class TestMainWindowPreview : public QObject {
    Q_OBJECT

private slots:
    void init();

    void selectedMoviePlays();
    void previewPlaysAfterStartingInTheTray();
    void keysLeaveTheMovie();
};
