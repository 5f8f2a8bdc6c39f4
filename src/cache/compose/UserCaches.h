#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cache/UrlCache.h"
#include "cache/sources/BrowserCacheLayer.h"

namespace sarnika {

// Whether the platform's own URL cache (WinINet on Windows; Linux has none) is read as well.
enum class SystemCache { Read, Skip };

// The URL caches a program reads, composed for the platform it was built for: on Windows
// WinINet's cache first, then the other browsers' caches served by the layer; elsewhere the
// layer alone. Both the window and the console program open their caches here.
class UserCaches {
public:
    virtual ~UserCaches() = default;

    // What the scans walk.
    virtual UrlCachePort& port() = 0;
    virtual sources::BrowserCacheLayer& layer() = 0;
    // The platform caches read beside the layer's sources, named for people.
    virtual std::vector<std::string> systemCaches() const = 0;
    // The cache a listed local file came from, when it can be told.
    virtual std::optional<sources::SourceDescription>
    sourceOf(const std::string& localFile) const = 0;
    // The cache any entry of the last scan came from: its local file's, or for the cookies and
    // history the layer serves (they have none) the source that served the URL (see
    // BrowserCacheLayer::sourceOfRecord for `occurrence`).
    std::optional<sources::SourceDescription>
    sourceOfEntry(const std::string& url, const std::string& localFile, std::size_t occurrence) {
        if (!localFile.empty()) {
            return sourceOf(localFile);
        }
        if (const sources::SourceLocation* source = layer().sourceOfRecord(url, occurrence)) {
            return sources::describeSource(*source);
        }
        return std::nullopt;
    }
};

// Defined once per platform; the build picks the file.
std::unique_ptr<UserCaches> openUserCaches(sources::BrowserCacheLayer::Options layerOptions,
                                           SystemCache systemCache);

} // namespace sarnika
