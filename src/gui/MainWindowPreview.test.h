#pragma once

#include <QObject>

// The whole window under a real X server, on the demo's caches: choosing a movie in the list
// plays it in the preview.
class TestMainWindowPreview : public QObject {
    Q_OBJECT

private slots:
    void selectedMoviePlays();
};
