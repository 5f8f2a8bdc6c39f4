#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cache/UrlCache.h"

namespace sarnika::wininet {

// Serves one walk over several URL caches, one after the other: on Windows, WinINet's own
// cache first, then the layer over the other browsers' caches. A cache that is not available,
// or whose walk fails, is passed over; the walk ends after the last one.
class UrlCacheChain final : public UrlCachePort {
public:
    // The caches are not owned and must outlive the chain.
    explicit UrlCacheChain(std::vector<UrlCachePort*> caches);
    ~UrlCacheChain() override;
    UrlCacheChain(const UrlCacheChain&) = delete;
    UrlCacheChain& operator=(const UrlCacheChain&) = delete;

    // True when any of the caches is.
    bool libraryAvailable() override;

    CacheSearchHandle findFirstEntry(const char* pattern, std::uint32_t flags, std::uint32_t filter,
                                     std::int64_t groupId, CacheEntryRecord* entry,
                                     std::uint32_t* size) override;
    bool findNextEntry(CacheSearchHandle handle, CacheEntryRecord* entry,
                       std::uint32_t* size) override;
    bool findClose(CacheSearchHandle handle) override;
    std::uint32_t lastError() const override { return m_lastError; }

    // The cache that delivered the walk's last entry; nullptr for an unknown handle.
    UrlCachePort* currentCache(CacheSearchHandle handle) const;

private:
    struct Walk {
        std::optional<std::string> pattern;
        std::uint32_t flags = 0;
        std::uint32_t filter = 0;
        std::int64_t groupId = 0;
        std::size_t index = 0;
        CacheSearchHandle handle = nullptr;
        bool opened = false;
    };
    bool advance(Walk& walk, CacheEntryRecord* entry, std::uint32_t* size);
    Walk* walkOf(CacheSearchHandle handle) const;

    std::vector<UrlCachePort*> m_caches;
    std::vector<bool> m_available;
    std::vector<std::unique_ptr<Walk>> m_walks;
    std::uint32_t m_lastError = CacheError::Success;
};

} // namespace sarnika::wininet
