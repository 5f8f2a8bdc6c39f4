#include "cache/IECache.h"

#include <array>
#include <cstring>
#include <memory>

namespace sarnika {
namespace {

// Set by the first successful library check; never goes back to false.
bool g_libraryFound = false;

constexpr std::array<std::uint32_t, 9> kFilterBits = {
    CacheEntryBits::Normal,      CacheEntryBits::Stable,     CacheEntryBits::Sticky,
    CacheEntryBits::Cookie,      CacheEntryBits::UrlHistory, CacheEntryBits::TrackOffline,
    CacheEntryBits::TrackOnline, CacheEntryBits::Sparse,     CacheEntryBits::Ocx,
};

std::string textOf(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

FileTime fileTimeOf(const CacheFileTime& time) {
    return (static_cast<FileTime>(time.dwHighDateTime) << 32U) | time.dwLowDateTime;
}

} // namespace

std::uint32_t filterOptionBit(TFilterOption option) {
    return kFilterBits.at(static_cast<std::size_t>(option));
}

std::uint32_t filterMaskOf(TFilterOptions options) {
    std::uint32_t mask = 0;
    if (options.empty()) {
        return mask;
    }
    for (unsigned ordinal = 0; ordinal < kFilterBits.size(); ++ordinal) {
        const auto option = static_cast<TFilterOption>(ordinal);
        if (options.contains(option)) {
            mask += filterOptionBit(option);
        }
    }
    return mask;
}

const char* searchPatternText(TSearchPattern pattern) {
    switch (pattern) {
    case TSearchPattern::spCookies:
        return "Cookie:";
    case TSearchPattern::spHistory:
        return "Visited:";
    case TSearchPattern::spUrl:
        return "";
    case TSearchPattern::spAll:
        break;
    }
    return nullptr;
}

TIECache::TIECache(UrlCachePort& cache, const LocalTimePort& localTime)
    : m_cache(cache), m_localTime(localTime), m_filterOptions{TFilterOption::NORMAL_ENTRY,
                                                              TFilterOption::STICKY_ENTRY,
                                                              TFilterOption::COOKIE_ENTRY,
                                                              TFilterOption::URLHISTORY_ENTRY,
                                                              TFilterOption::TRACK_OFFLINE_ENTRY,
                                                              TFilterOption::TRACK_ONLINE_ENTRY},
      m_filterMask(filterMaskOf(m_filterOptions)) {}

void TIECache::SetFilterOptions(TFilterOptions options) {
    m_filterOptions = options;
    m_filterMask = filterMaskOf(options);
}

const TEntryInfo& TIECache::CurrentEntry() {
    static const TEntryInfo kEmpty;
    return LibraryFound() ? m_currentEntry : kEmpty;
}

bool TIECache::LibraryFound() {
    return CheckLibrary(m_cache);
}

bool TIECache::CheckLibrary(UrlCachePort& cache) {
    if (!g_libraryFound) {
        g_libraryFound = cache.libraryAvailable();
    }
    return g_libraryFound;
}

void TIECache::ResetLibraryFlagForTesting() {
    g_libraryFound = false;
}

void TIECache::Enumerate(std::int64_t GroupId) {
    if (!LibraryFound()) {
        return;
    }
    m_cancel = false;
    bool fetched = fetchFirst(GroupId);
    if (fetched && m_onEntry) {
        m_onEntry(*this, m_cancel);
    }
    while (fetched && !m_cancel) {
        fetched = fetchNext();
        if (fetched && m_onEntry) {
            m_onEntry(*this, m_cancel);
        }
    }
    m_cache.findClose(m_handle);
    m_handle = nullptr;
}

bool TIECache::fetchFirst(std::int64_t groupId) {
    m_handle = nullptr;
    std::uint32_t size = 0;
    const char* pattern = searchPatternText(m_searchPattern);
    // Only the size that the probe reports matters, not its result.
    (void)m_cache.findFirstEntry(pattern, 0, m_filterMask, groupId, nullptr, &size);
    std::unique_ptr<unsigned char[]> buffer;
    if (size > 0) {
        buffer = std::make_unique<unsigned char[]>(size);
    }
    auto* record = reinterpret_cast<CacheEntryRecord*>(buffer.get());
    m_handle = m_cache.findFirstEntry(pattern, 0, m_filterMask, groupId, record, &size);
    if (m_handle == nullptr) {
        return false;
    }
    return storeEntry(buffer.get(), size);
}

bool TIECache::fetchNext() {
    std::uint32_t size = 0;
    (void)m_cache.findNextEntry(m_handle, nullptr, &size);
    std::unique_ptr<unsigned char[]> buffer;
    if (size > 0) {
        buffer = std::make_unique<unsigned char[]>(size);
    }
    auto* record = reinterpret_cast<CacheEntryRecord*>(buffer.get());
    if (!m_cache.findNextEntry(m_handle, record, &size)) {
        return false;
    }
    return storeEntry(buffer.get(), size);
}

bool TIECache::storeEntry(const unsigned char* buffer, std::uint32_t size) {
    // A layer that reports success without a whole record ends the walk like any failed fetch.
    if (buffer == nullptr || size < sizeof(CacheEntryRecord)) {
        return false;
    }
    CacheEntryRecord record;
    std::memcpy(&record, buffer, sizeof record);
    m_currentEntry.SourceUrlName = textOf(record.lpszSourceUrlName);
    m_currentEntry.LocalFileName = textOf(record.lpszLocalFileName);
    m_currentEntry.CacheEntryType = record.CacheEntryType;
    m_currentEntry.UseCount = record.dwUseCount;
    m_currentEntry.HitRate = record.dwHitRate;
    m_currentEntry.Size = record.dwSizeLow;
    m_currentEntry.LastModifiedTime =
        cacheTimeToDateTime(fileTimeOf(record.LastModifiedTime), m_localTime);
    m_currentEntry.ExpireTime = cacheTimeToDateTime(fileTimeOf(record.ExpireTime), m_localTime);
    m_currentEntry.LastAccessTime =
        cacheTimeToDateTime(fileTimeOf(record.LastAccessTime), m_localTime);
    m_currentEntry.LastSyncTime = cacheTimeToDateTime(fileTimeOf(record.LastSyncTime), m_localTime);
    m_currentEntry.HeaderInfo = textOf(record.lpHeaderInfo);
    m_currentEntry.FileExtension = textOf(record.lpszFileExtension);
    m_currentEntry.ExemptDelta = record.dwExemptDelta;
    return true;
}

} // namespace sarnika
