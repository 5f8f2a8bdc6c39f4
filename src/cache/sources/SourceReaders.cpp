#include <filesystem>
#include <set>
#include <string>

#include "cache/sources/BrowserCacheLayer.h"
#include "cache/sources/chromium/ChromiumCache.h"
#include "cache/sources/firefox/FirefoxCache.h"
#include "cache/sources/firefox/FirefoxOldCache.h"
#include "cache/sources/msiecf/IeContentFolders.h"
#include "cache/sources/msiecf/IndexDat.h"
#include "cache/sources/opera/OperaCache.h"
#include "cache/sources/webcache/WebCache.h"
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

// The local files that the WebCache database of the same Windows user names, for a content
// folder (".../Microsoft/Windows/INetCache/IE", ".../Temporary Internet Files/Content.IE5", their
// "Low" twins): the database wins, and the folder adds only the files it does not name.
std::set<std::string> filesNamedByWebCache(const std::filesystem::path& contentFolder) {
    std::set<std::string> named;
#if SARNIKA_WITH_ESEDB
    // ".../Windows/INetCache/Low/IE" is three folders below ".../Windows", where WebCache is.
    std::filesystem::path above = contentFolder;
    for (int level = 0; level < 3 && above.has_relative_path(); ++level) {
        above = above.parent_path();
        if (looksLikeWebCache(above / "WebCache")) {
            ReadReport ignored;
            for (const CacheRecord& record : readWebCache(above / "WebCache", ignored)) {
                if (!record.localFile.empty()) {
                    named.insert(record.localFile);
                }
            }
            break;
        }
    }
#else
    static_cast<void>(contentFolder);
#endif
    return named;
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
#if SARNIKA_WITH_ESEDB
        return readWebCache(source.path.parent_path(), report);
#else
        report.skip("reading it needs libesedb, which this build leaves out");
        return {};
#endif
    case K::IeContentFolders:
        return readIeContentFolders(source.path, filesNamedByWebCache(source.path), report);
    }
    return {};
}

bool readInParts(SourceLocation::Kind kind) {
    return kind == SourceLocation::Kind::ChromiumCache ||
           kind == SourceLocation::Kind::FirefoxCache;
}

void streamSource(const SourceLocation& source, std::string_view user, SourcePart part,
                  ReadReport& report, const RecordSink& sink) {
    // The big caches are read entry by entry, in parts when asked; the others are small enough
    // to come whole, as their first part.
    if (source.kind == SourceLocation::Kind::ChromiumCache &&
        detectChromiumBackend(source.path) == ChromiumBackend::Simple) {
        readChromiumSimpleCache(source.path, report, sink, part);
        return;
    }
    if (source.kind == SourceLocation::Kind::FirefoxCache) {
        readFirefoxCache2(source.path, report, sink, part);
        return;
    }
    if (part.index != 0) {
        return;
    }
    for (CacheRecord& record : readSource(source, user, report)) {
        if (!sink(record)) {
            return;
        }
    }
}

} // namespace sarnika::sources
