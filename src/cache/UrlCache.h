#pragma once

#include <cstdint>

namespace sarnika {

// The platform's FILETIME: a UTC time in 100 ns units since 1601, split in two words.
struct CacheFileTime {
    std::uint32_t dwLowDateTime = 0;
    std::uint32_t dwHighDateTime = 0;
};

// One entry as the URL-cache functions deliver it, member for member the platform's
// INTERNET_CACHE_ENTRY_INFOA. It heads a buffer that also holds the texts it points to.
struct CacheEntryRecord {
    std::uint32_t dwStructSize = 0;
    char* lpszSourceUrlName = nullptr;
    char* lpszLocalFileName = nullptr;
    std::uint32_t CacheEntryType = 0;
    std::uint32_t dwUseCount = 0;
    std::uint32_t dwHitRate = 0;
    std::uint32_t dwSizeLow = 0;
    std::uint32_t dwSizeHigh = 0;
    CacheFileTime LastModifiedTime;
    CacheFileTime ExpireTime;
    CacheFileTime LastAccessTime;
    CacheFileTime LastSyncTime;
    char* lpHeaderInfo = nullptr;
    std::uint32_t dwHeaderInfoSize = 0;
    char* lpszFileExtension = nullptr;
    std::uint32_t dwExemptDelta = 0;
};

// Entry type bits, as the platform defines them.
namespace CacheEntryBits {
inline constexpr std::uint32_t Normal = 0x00000001;
inline constexpr std::uint32_t Stable = 0x00000002;
inline constexpr std::uint32_t Sticky = 0x00000004;
inline constexpr std::uint32_t TrackOffline = 0x00000010;
inline constexpr std::uint32_t TrackOnline = 0x00000020;
inline constexpr std::uint32_t Sparse = 0x00010000;
inline constexpr std::uint32_t Ocx = 0x00020000;
inline constexpr std::uint32_t Cookie = 0x00100000;
inline constexpr std::uint32_t UrlHistory = 0x00200000;
} // namespace CacheEntryBits

// Error codes the URL-cache functions leave behind, as the platform numbers them.
namespace CacheError {
inline constexpr std::uint32_t Success = 0;
inline constexpr std::uint32_t FileNotFound = 2;
inline constexpr std::uint32_t InvalidHandle = 6;
inline constexpr std::uint32_t NotImplemented = 120;
inline constexpr std::uint32_t InsufficientBuffer = 122;
inline constexpr std::uint32_t NoMoreItems = 259;
} // namespace CacheError

using CacheSearchHandle = void*;

// The URL-cache functions the enumerator walks with. The platform's own on Windows; elsewhere
// a layer over the browsers' caches. Both follow the same protocol:
//  - a call with no buffer and *size 0 fails and sets *size to the bytes the next entry needs;
//    such a probe never advances the walk;
//  - a call with a buffer of that size fills it with a CacheEntryRecord followed by its texts;
//  - the end of a walk is a failure with lastError() == CacheError::NoMoreItems.
class UrlCachePort {
public:
    virtual ~UrlCachePort() = default;

    // Whether the cache functions are available at all (the library check).
    virtual bool libraryAvailable() = 0;

    // pattern: nullptr for every entry, "" for content, "Cookie:" or "Visited:" for those groups.
    virtual CacheSearchHandle findFirstEntry(const char* pattern, std::uint32_t flags,
                                             std::uint32_t filter, std::int64_t groupId,
                                             CacheEntryRecord* entry, std::uint32_t* size) = 0;
    virtual bool findNextEntry(CacheSearchHandle handle, CacheEntryRecord* entry,
                               std::uint32_t* size) = 0;
    // Accepts a null handle; the result carries no meaning for the walk.
    virtual bool findClose(CacheSearchHandle handle) = 0;

    virtual std::uint32_t lastError() const = 0;
};

} // namespace sarnika
