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
    // The player is a 14 MB WebAssembly module: compiled whole before its first movie starts,
    // it costs about half a second of the first preview; compiled and validated a function at a
    // time as the player first calls it, a fraction of that. Setting up a player runs some of
    // its code many times over, which with the engine's default budget sends that code to the
    // optimising compiler while the player is still starting: its threads take the processor
    // from the start (on two cores about a fifth of it) and its code stays in memory. A budget
    // ten times as large leaves optimising to what a playing movie keeps running.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS")) {
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
                "--log-level=3 --js-flags=--wasm-lazy-compilation,--wasm-lazy-validation,"
                "--wasm-tiering-budget=20000000");
    }
    if (runsAsSuperuser() && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        return true;
    }
    return false;
}

} // namespace sarnika
