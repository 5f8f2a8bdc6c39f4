// sarnika-preview-check MOVIE.swf [SECONDS]: shows one movie in the preview pane, for trying
// the player on a machine (and for screenshots); quits after SECONDS when given.
#include <cstdio>

#include <QApplication>
#include <QTimer>

#include "gui/EmbeddedWB.h"
#include "gui/WebEngineSetup.h"

int main(int argc, char** argv) {
    sarnika::prepareWebEngine();
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: sarnika-preview-check MOVIE.swf [SECONDS]\n");
        return 2;
    }
    sarnika::TEmbeddedWB preview;
    preview.setWindowTitle(QStringLiteral("Sarnika preview: %1").arg(arguments.at(1)));
    preview.resize(800, 600);
    preview.show();
    try {
        preview.Navigate(arguments.at(1));
    } catch (const sarnika::PreviewError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    if (arguments.size() > 2) {
        QTimer::singleShot(arguments.at(2).toInt() * 1000, &app, &QApplication::quit);
    }
    return QApplication::exec();
}
