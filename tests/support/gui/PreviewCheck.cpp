// sarnika-preview-check MOVIE.swf [SECONDS]: shows one movie in the preview pane, for trying
// the player on a machine (and for screenshots); quits after SECONDS when given.
#include <iostream>

#include <QApplication>
#include <QTimer>

#include "gui/EmbeddedWB.h"
#include "gui/WebEngineSetup.h"

int main(int argc, char** argv) {
    sarnika::prepareWebEngine();
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2) {
        std::cerr << "usage: sarnika-preview-check MOVIE.swf [SECONDS]\n";
        return 2;
    }
    sarnika::TEmbeddedWB preview;
    preview.setWindowTitle(QStringLiteral("Sarnika preview: %1").arg(arguments.at(1)));
    preview.resize(800, 600);
    preview.show();
    try {
        preview.Navigate(arguments.at(1));
    } catch (const sarnika::PreviewError& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    QTimer quit;
    QObject::connect(&quit, &QTimer::timeout, &app, &QApplication::quit);
    if (arguments.size() > 2) {
        quit.start(arguments.at(2).toInt() * 1000);
    }
    return QApplication::exec();
}
