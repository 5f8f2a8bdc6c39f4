#include "cache/sources/BrowserCacheLayer.h"
#include "cache/sources/chromium/ChromiumCache.h"
#include "cache/sources/firefox/FirefoxCache.h"
#include "cache/sources/firefox/FirefoxOldCache.h"
#include "cache/sources/msiecf/IndexDat.h"
#include "cache/sources/opera/OperaCache.h"
#ifdef SARNIKA_WITH_SQLITE
#include "cache/sources/profile/ChromiumSqlCache.h"
#include "cache/sources/profile/ProfileDatabases.h"
#include "cache/sources/safari/SafariCache.h"
#endif

namespace sarnika::sources {

namespace {

// Browsers whose own file names (Opera's opr0001A.tmp, Safari's fsCachedData/<UUID>) say
// nothing of the kind: the bodies are extracted under names of ours, as for the browsers that
// keep no named files.
std::vector<CacheRecord> extractedUnderOurNames(std::vector<CacheRecord> records) {
    for (CacheRecord& record : records) {
        if (record.body) {
            record.localFile.clear();
        }
    }
    return records;
}

#ifndef SARNIKA_WITH_SQLITE

// Builds without SQLite (the Windows cross-build) still list the caches of the other kinds.
std::vector<CacheRecord> withoutSqlite(ReadReport& report) {
    report.skip("reading it needs SQLite, which this build leaves out");
    return {};
}
#endif

} // namespace

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
#ifdef SARNIKA_WITH_SQLITE
            return readChromiumSqlCache(source.path, report);
#else
            return withoutSqlite(report);
#endif
        case ChromiumBackend::None:
            break;
        }
        return {};
#ifdef SARNIKA_WITH_SQLITE
    case K::ChromiumCookies:
        return readChromiumCookies(source.path, user, report);
    case K::ChromiumHistory:
        return readChromiumHistory(source.path, user, report);
    case K::FirefoxCookies:
        return readFirefoxCookies(source.path, user, report);
    case K::FirefoxHistory:
        return readFirefoxHistory(source.path, user, report);
#else
    case K::ChromiumCookies:
    case K::ChromiumHistory:
    case K::FirefoxCookies:
    case K::FirefoxHistory:
        static_cast<void>(user);
        return withoutSqlite(report);
#endif
    case K::FirefoxCache:
        return readFirefoxCache2(source.path, report);
    case K::IndexDat:
        return readIndexDat(source.path, report);
    case K::FirefoxOldCache:
        return readFirefoxOldCache(source.path, report);
    case K::OperaCache:
        return extractedUnderOurNames(readOperaCache(source.path, report));
    case K::SafariCache:
#ifdef SARNIKA_WITH_SQLITE
        return extractedUnderOurNames(readSafariCache(source.path.parent_path(), report));
#else
        return withoutSqlite(report);
#endif
    case K::WebCache:
    case K::IeContentFolders:
        // Found and described already; read by readers of their own.
        return {};
    }
    return {};
}

} // namespace sarnika::sources
