// sarnika: the window that lists the Flash movies the browsers have cached, previews them and
// copies them out. It takes no arguments.
#include <clocale>
#include <exception>

#include <QApplication>

#include "cache/IECache.h"
#include "cache/compose/UserCaches.h"
#include "cache/sources/BrowserCacheLayer.h"
#include "cache/sources/SystemLocalTime.h"
#include "cache/sources/TemporaryCleanup.h"
#include "gui/ErrorGuard.h"
#include "gui/MainWindow.h"
#include "gui/Program.h"
#include "gui/Settings.h"
#include "gui/WebEngineSetup.h"

namespace {

int run() {
    const auto caches = sarnika::openUserCaches(
        sarnika::sources::BrowserCacheLayer::currentUserOptions(), sarnika::SystemCache::Read);
    sarnika::UrlCachePort& cache = caches->port();
    sarnika::TIECache::CheckLibrary(cache);
    const sarnika::sources::SystemLocalTime localTime;
    sarnika::QtOptionsStore options;
    return sarnika::runProgram(
        [&cache, &localTime] { return std::make_unique<sarnika::TfrmMain>(cache, localTime); },
        options);
}

} // namespace

int main(int argc, char** argv) {
    sarnika::sources::installTemporaryCleanup();
    // Still one thread here; the locale is set before anything reads it.
    static_cast<void>(std::setlocale(LC_ALL, "")); // NOLINT(concurrency-mt-unsafe)
    sarnika::prepareWebEngine();
    QApplication app(argc, argv);
    sarnika::prepareApplication();
    try {
        return run();
    } catch (const std::exception& failure) {
        sarnika::ErrorGuard().report(QString::fromUtf8(failure.what()));
    }
    return 1;
}
