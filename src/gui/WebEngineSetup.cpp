#include "gui/WebEngineSetup.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QtGlobal>

#include "app/platform/ProcessUser.h"

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
    if (runsAsSuperuser() && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        return true;
    }
    return false;
}

} // namespace sarnika
