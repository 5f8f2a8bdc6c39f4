#include "cache/wininet/WinInetCache.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include <windows.h>
#include <wininet.h>

namespace sarnika::wininet {

// The enumerator reads WinINet's record as our own: the two must agree member for member.
static_assert(sizeof(CacheEntryRecord) == sizeof(INTERNET_CACHE_ENTRY_INFOA));
static_assert(offsetof(CacheEntryRecord, lpszSourceUrlName) ==
              offsetof(INTERNET_CACHE_ENTRY_INFOA, lpszSourceUrlName));
static_assert(offsetof(CacheEntryRecord, lpszLocalFileName) ==
              offsetof(INTERNET_CACHE_ENTRY_INFOA, lpszLocalFileName));
static_assert(offsetof(CacheEntryRecord, CacheEntryType) ==
              offsetof(INTERNET_CACHE_ENTRY_INFOA, CacheEntryType));
static_assert(offsetof(CacheEntryRecord, dwSizeHigh) ==
              offsetof(INTERNET_CACHE_ENTRY_INFOA, dwSizeHigh));
static_assert(offsetof(CacheEntryRecord, LastSyncTime) ==
              offsetof(INTERNET_CACHE_ENTRY_INFOA, LastSyncTime));
static_assert(offsetof(CacheEntryRecord, lpHeaderInfo) ==
              offsetof(INTERNET_CACHE_ENTRY_INFOA, lpHeaderInfo));
static_assert(offsetof(CacheEntryRecord, lpszFileExtension) ==
              offsetof(INTERNET_CACHE_ENTRY_INFOA, lpszFileExtension));
static_assert(offsetof(CacheEntryRecord, dwExemptDelta) ==
              offsetof(INTERNET_CACHE_ENTRY_INFOA, dwExemptDelta));
static_assert(CacheError::NoMoreItems == ERROR_NO_MORE_ITEMS &&
              CacheError::InsufficientBuffer == ERROR_INSUFFICIENT_BUFFER &&
              CacheError::NotImplemented == ERROR_CALL_NOT_IMPLEMENTED);

namespace {

using Bytes = std::vector<unsigned char>;

// An entry that grows between the size probe and the fetch is asked for again, a few times.
constexpr int kFetchAttempts = 4;
constexpr std::size_t kFirstBufferSize = 2048;

INTERNET_CACHE_ENTRY_INFOA* infoOf(Bytes& bytes) {
    return reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(bytes.data());
}

// Both answers that Ex functions give where they are stubs; a real Ex probe either reports the
// size (ERROR_INSUFFICIENT_BUFFER) or the end (ERROR_NO_MORE_ITEMS).
bool exNotImplemented(DWORD error, DWORD sizeAfter, DWORD sizeBefore) {
    return error == ERROR_CALL_NOT_IMPLEMENTED ||
           (error == ERROR_FILE_NOT_FOUND && sizeAfter == sizeBefore);
}

// One entry of a walk over the non-Ex functions, into `bytes`; `used` is its size. False at the
// end of the walk or on failure, with GetLastError() telling which.
template<typename Fetch>
bool fetchInto(Bytes& bytes, DWORD& used, Fetch fetch) {
    if (bytes.empty()) {
        bytes.assign(kFirstBufferSize, 0);
    }
    for (int attempt = 0; attempt < kFetchAttempts; ++attempt) {
        auto size = static_cast<DWORD>(bytes.size());
        if (fetch(infoOf(bytes), &size)) {
            used = std::min(size, static_cast<DWORD>(bytes.size()));
            if (used < sizeof(INTERNET_CACHE_ENTRY_INFOA)) {
                used = static_cast<DWORD>(sizeof(INTERNET_CACHE_ENTRY_INFOA));
            }
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= bytes.size()) {
            return false;
        }
        bytes.assign(size, 0);
    }
    return false;
}

// Copies an entry into the caller's buffer; its texts point into that buffer afterwards.
void copyEntry(const Bytes& from, DWORD used, CacheEntryRecord* to) {
    std::memcpy(to, from.data(), used);
    const auto base = reinterpret_cast<std::uintptr_t>(from.data());
    auto* target = reinterpret_cast<char*>(to);
    const auto relocate = [&](char*& text) {
        if (text == nullptr) {
            return;
        }
        const auto at = reinterpret_cast<std::uintptr_t>(text);
        // A text outside the record would not survive the copy: better none than a stale one.
        text = at >= base && at - base < used ? target + (at - base) : nullptr;
    };
    relocate(to->lpszSourceUrlName);
    relocate(to->lpszLocalFileName);
    relocate(to->lpHeaderInfo);
    relocate(to->lpszFileExtension);
}

} // namespace

// A walk over FindFirstUrlCacheEntryA/FindNextUrlCacheEntryA. The entry the walk will deliver
// next is fetched ahead into `pending`, so that a size probe can answer without advancing.
struct WinInetCache::FallbackWalk {
    HANDLE native = nullptr;
    std::uint32_t filter = 0;
    Bytes pending;
    DWORD pendingSize = 0;
    bool hasPending = false;
    bool ended = false;
    DWORD endError = ERROR_NO_MORE_ITEMS;

    FallbackWalk() = default;
    FallbackWalk(const FallbackWalk&) = delete;
    FallbackWalk& operator=(const FallbackWalk&) = delete;
    ~FallbackWalk() {
        if (native != nullptr) {
            FindCloseUrlCache(native);
        }
    }

    bool pendingMatches() { return (infoOf(pending)->CacheEntryType & filter) != 0; }

    // Makes `pending` the next entry of the walk whose type shares a bit with the filter.
    bool advance() {
        while (!hasPending && !ended) {
            const bool fetched = fetchInto(pending, pendingSize, [this](auto* info, DWORD* size) {
                return FindNextUrlCacheEntryA(native, info, size) != 0;
            });
            if (!fetched) {
                ended = true;
                endError = GetLastError();
            } else {
                hasPending = pendingMatches();
            }
        }
        return hasPending;
    }
};

WinInetCache::WinInetCache() = default;
WinInetCache::~WinInetCache() = default;

bool WinInetCache::libraryAvailable() {
    // Loaded for good: the walks call into it for the rest of the run.
    HMODULE library = LoadLibraryA("wininet.dll");
    if (library == nullptr) {
        return false;
    }
    static constexpr std::array<const char*, 5> kFunctions = {
        "FindFirstUrlCacheGroup",     "FindNextUrlCacheGroup",     "GetUrlCacheGroupAttributeA",
        "SetUrlCacheGroupAttributeA", "FindFirstUrlCacheEntryExA",
    };
    return std::all_of(kFunctions.begin(), kFunctions.end(), [library](const char* name) {
        return GetProcAddress(library, name) != nullptr;
    });
}

CacheSearchHandle WinInetCache::findFirstEntry(const char* pattern, std::uint32_t flags,
                                               std::uint32_t filter, std::int64_t groupId,
                                               CacheEntryRecord* entry, std::uint32_t* size) {
    if (size == nullptr) {
        m_lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const DWORD sizeBefore = *size;
    DWORD sizeAfter = sizeBefore;
    HANDLE handle = FindFirstUrlCacheEntryExA(pattern, flags, filter, groupId,
                                              reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(entry),
                                              &sizeAfter, nullptr, nullptr, nullptr);
    const DWORD error = handle != nullptr ? ERROR_SUCCESS : GetLastError();
    if (handle == nullptr && exNotImplemented(error, sizeAfter, sizeBefore)) {
        m_lastWalkUsedFallback = true;
        return fallbackFirst(pattern, filter, entry, size);
    }
    m_lastWalkUsedFallback = false;
    *size = sizeAfter;
    m_lastError = error;
    return handle;
}

bool WinInetCache::findNextEntry(CacheSearchHandle handle, CacheEntryRecord* entry,
                                 std::uint32_t* size) {
    if (size == nullptr) {
        m_lastError = ERROR_INVALID_PARAMETER;
        return false;
    }
    if (FallbackWalk* walk = fallbackWalkOf(handle)) {
        return fallbackNext(*walk, entry, size);
    }
    DWORD bufferSize = *size;
    const bool fetched =
        FindNextUrlCacheEntryExA(handle, reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(entry),
                                 &bufferSize, nullptr, nullptr, nullptr) != 0;
    *size = bufferSize;
    m_lastError = fetched ? ERROR_SUCCESS : GetLastError();
    return fetched;
}

bool WinInetCache::findClose(CacheSearchHandle handle) {
    const auto walk = std::find_if(m_fallbackWalks.begin(), m_fallbackWalks.end(),
                                   [handle](const auto& w) { return w.get() == handle; });
    if (walk != m_fallbackWalks.end()) {
        m_fallbackWalks.erase(walk);
        m_lastError = ERROR_SUCCESS;
        return true;
    }
    const bool closed = FindCloseUrlCache(handle) != 0;
    m_lastError = closed ? ERROR_SUCCESS : GetLastError();
    return closed;
}

CacheSearchHandle WinInetCache::fallbackFirst(const char* pattern, std::uint32_t filter,
                                              CacheEntryRecord* entry, std::uint32_t* size) {
    auto walk = std::make_unique<FallbackWalk>();
    walk->filter = filter;
    const bool opened = fetchInto(walk->pending, walk->pendingSize, [&](auto* info, DWORD* bytes) {
        walk->native = FindFirstUrlCacheEntryA(pattern, info, bytes);
        return walk->native != nullptr;
    });
    if (!opened) {
        m_lastError = GetLastError();
        return nullptr;
    }
    walk->hasPending = walk->pendingMatches();
    // A probe, or a buffer too small, leaves no walk open: the caller asks again from the start.
    if (!fallbackNext(*walk, entry, size)) {
        return nullptr;
    }
    m_fallbackWalks.push_back(std::move(walk));
    return m_fallbackWalks.back().get();
}

bool WinInetCache::fallbackNext(FallbackWalk& walk, CacheEntryRecord* entry, std::uint32_t* size) {
    if (!walk.advance()) {
        m_lastError = walk.endError;
        return false;
    }
    if (entry == nullptr || *size < walk.pendingSize) {
        *size = walk.pendingSize;
        m_lastError = ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    copyEntry(walk.pending, walk.pendingSize, entry);
    *size = walk.pendingSize;
    walk.hasPending = false;
    m_lastError = ERROR_SUCCESS;
    return true;
}

WinInetCache::FallbackWalk* WinInetCache::fallbackWalkOf(CacheSearchHandle handle) const {
    const auto walk = std::find_if(m_fallbackWalks.begin(), m_fallbackWalks.end(),
                                   [handle](const auto& w) { return w.get() == handle; });
    return walk != m_fallbackWalks.end() ? walk->get() : nullptr;
}

} // namespace sarnika::wininet
