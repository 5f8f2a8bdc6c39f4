#include "gui/Program.h"

#include <QApplication>

#include "app/Options.h"
#include "gui/MainWindow.h"
#include "gui/Settings.h"
#include "gui/SplashWindow.h"

namespace sarnika {

void prepareApplication() {
    QApplication::setOrganizationName(kSettingsOrganisation);
    QApplication::setApplicationName(kSettingsApplication);
    QApplication::setWindowIcon(applicationIcon());
}

int runProgram(const std::function<std::unique_ptr<TfrmMain>()>& makeWindow,
               OptionsStore& optionsStore, const std::function<void(TfrmMain& window)>& started) {
    TOptions options;
    // A record that fails to load keeps its defaults; nothing in this program depends on it.
    static_cast<void>(options.Load(optionsStore));
    int status = 0;
    {
        // Hidden in the tray, the window is no reason to quit when a dialog closes; its own
        // close is.
        const bool quitOnLastWindow = QApplication::quitOnLastWindowClosed();
        QApplication::setQuitOnLastWindowClosed(false);
        const std::unique_ptr<TfrmMain> window = makeWindow();
        QObject::connect(window.get(), &TfrmMain::closed, qApp, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        window->FormCreate();
        window->show();
        if (started) {
            started(*window);
        }
        status = QApplication::exec();
        QApplication::setQuitOnLastWindowClosed(quitOnLastWindow);
    }
    if (const Status saved = options.Save(optionsStore); !saved) {
        // The window is gone; there is no one left to show it to.
        qWarning("%s", saved.error().message.c_str());
    }
    return status;
}

} // namespace sarnika
