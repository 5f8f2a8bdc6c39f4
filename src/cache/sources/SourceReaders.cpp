#include "cache/sources/BrowserCacheLayer.h"
#include "cache/sources/chromium/ChromiumCache.h"
#include "cache/sources/firefox/FirefoxCache.h"
#include "cache/sources/msiecf/IndexDat.h"
#include "cache/sources/profile/ChromiumSqlCache.h"
#include "cache/sources/profile/ProfileDatabases.h"

namespace sarnika::sources {

std::vector<CacheRecord> readSource(const SourceLocation& source, std::string_view user,
                                    ReadReport& report) {
    using K = SourceLocation::Kind;
    switch (source.kind) {
    case K::ChromiumCache:
        switch (detectChromiumBackend(source.path)) {
        case ChromiumBackend::Simple:
            return readChromiumSimpleCache(source.path, report);
        case ChromiumBackend::Blockfile:
            return readChromiumBlockfileCache(source.path, report);
        case ChromiumBackend::Sql:
            return readChromiumSqlCache(source.path, report);
        case ChromiumBackend::None:
            break;
        }
        return {};
    case K::ChromiumCookies:
        return readChromiumCookies(source.path, user, report);
    case K::ChromiumHistory:
        return readChromiumHistory(source.path, user, report);
    case K::FirefoxCache:
        return readFirefoxCache2(source.path, report);
    case K::FirefoxCookies:
        return readFirefoxCookies(source.path, user, report);
    case K::FirefoxHistory:
        return readFirefoxHistory(source.path, user, report);
    case K::IndexDat:
        return readIndexDat(source.path, report);
    }
    return {};
}

BrowserCacheLayer::Options BrowserCacheLayer::currentUserOptions() {
    const UserEnvironment environment = UserEnvironment::current();
    Options options;
    options.sources = discoverSources(environment);
    options.extractionRoot = environment.cacheHome / "sarnika" / "extracted";
    options.userName = environment.userName;
    options.pruneUnknownSources = true;
    options.reader = readSource;
    return options;
}

} // namespace sarnika::sources
