#include "gui/WebEngineSetup.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include <QCoreApplication>
#include <QLoggingCategory>

namespace sarnika {

bool prepareWebEngine() {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The engine's start-up report and its GPU complaints (WebGL unavailable under a software
    // X server) mean nothing to the user; either variable set brings them back.
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES")) {
        QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext=false"));
    }
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS")) {
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--log-level=3");
    }
#ifdef Q_OS_UNIX
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        return true;
    }
#endif
    return false;
}

} // namespace sarnika
