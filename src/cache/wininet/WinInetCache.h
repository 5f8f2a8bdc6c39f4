#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cache/UrlCache.h"

namespace sarnika::wininet {

// The URL-cache functions served by Windows' own WinINet. The Ex functions do the work; where
// they report that they are not implemented (Wine's are stubs), a walk falls back to
// FindFirstUrlCacheEntryA/FindNextUrlCacheEntryA with the same pattern and applies the entry
// type filter itself, so that callers see the same protocol either way.
class WinInetCache final : public UrlCachePort {
public:
    WinInetCache();
    ~WinInetCache() override;
    WinInetCache(const WinInetCache&) = delete;
    WinInetCache& operator=(const WinInetCache&) = delete;

    // Loads "wininet.dll" (never released) and looks up the group and Ex functions.
    bool libraryAvailable() override;

    CacheSearchHandle findFirstEntry(const char* pattern, std::uint32_t flags, std::uint32_t filter,
                                     std::int64_t groupId, CacheEntryRecord* entry,
                                     std::uint32_t* size) override;
    bool findNextEntry(CacheSearchHandle handle, CacheEntryRecord* entry,
                       std::uint32_t* size) override;
    bool findClose(CacheSearchHandle handle) override;
    std::uint32_t lastError() const override { return m_lastError; }

    // Whether the last walk opened ran on the non-Ex functions.
    bool lastWalkUsedFallback() const { return m_lastWalkUsedFallback; }

private:
    struct FallbackWalk;

    CacheSearchHandle fallbackFirst(const char* pattern, std::uint32_t filter,
                                    CacheEntryRecord* entry, std::uint32_t* size);
    bool fallbackNext(FallbackWalk& walk, CacheEntryRecord* entry, std::uint32_t* size);
    FallbackWalk* fallbackWalkOf(CacheSearchHandle handle) const;

    std::vector<std::unique_ptr<FallbackWalk>> m_fallbackWalks;
    std::uint32_t m_lastError = CacheError::Success;
    bool m_lastWalkUsedFallback = false;
};

} // namespace sarnika::wininet
