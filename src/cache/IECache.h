#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "base/DateTime.h"
#include "cache/EntryInfo.h"
#include "cache/UrlCache.h"

namespace sarnika {

enum class TSearchPattern { spAll, spCookies, spHistory, spUrl };

// Entry kinds, in ordinal order; each stands for one cache entry type bit.
enum class TFilterOption {
    NORMAL_ENTRY,
    STABLE_ENTRY,
    STICKY_ENTRY,
    COOKIE_ENTRY,
    URLHISTORY_ENTRY,
    TRACK_OFFLINE_ENTRY,
    TRACK_ONLINE_ENTRY,
    SPARSE_ENTRY,
    OCX_ENTRY,
};

// A set of TFilterOption, held as a 9-bit mask with bit n for ordinal n.
class TFilterOptions {
public:
    static constexpr std::uint16_t kAll = 0x1FF;

    constexpr TFilterOptions() = default;
    constexpr explicit TFilterOptions(std::uint16_t bits) : m_bits(bits & kAll) {}
    constexpr TFilterOptions(std::initializer_list<TFilterOption> options) {
        for (TFilterOption option : options) {
            include(option);
        }
    }

    constexpr void include(TFilterOption option) { m_bits |= bit(option); }
    constexpr void exclude(TFilterOption option) {
        m_bits = static_cast<std::uint16_t>(m_bits & ~bit(option));
    }
    constexpr bool contains(TFilterOption option) const { return (m_bits & bit(option)) != 0; }
    constexpr bool empty() const { return m_bits == 0; }
    constexpr std::uint16_t bits() const { return m_bits; }
    friend constexpr bool operator==(TFilterOptions, TFilterOptions) = default;

private:
    static constexpr std::uint16_t bit(TFilterOption option) {
        return static_cast<std::uint16_t>(1U << static_cast<unsigned>(option));
    }
    std::uint16_t m_bits = 0;
};

// The cache entry type bit of each kind.
std::uint32_t filterOptionBit(TFilterOption option);
// The filter value handed to the cache for a set of kinds.
std::uint32_t filterMaskOf(TFilterOptions options);
// The URL search pattern of a walk: nullptr for spAll, "" for spUrl.
const char* searchPatternText(TSearchPattern pattern);

class TIECache;
using TOnEntryEvent = std::function<void(TIECache& Sender, bool& Cancel)>;

// Walks the URL cache by search pattern and entry kinds, raising OnEntry once per entry.
class TIECache {
public:
    TIECache(UrlCachePort& cache, const LocalTimePort& localTime);

    TSearchPattern SearchPattern() const { return m_searchPattern; }
    void SetSearchPattern(TSearchPattern pattern) { m_searchPattern = pattern; }

    TFilterOptions FilterOptions() const { return m_filterOptions; }
    void SetFilterOptions(TFilterOptions options);
    std::uint32_t FilterMask() const { return m_filterMask; }

    const TOnEntryEvent& OnEntry() const { return m_onEntry; }
    void SetOnEntry(TOnEntryEvent handler) { m_onEntry = std::move(handler); }

    // The entry being delivered; it stays after the walk until the next successful fetch.
    const TEntryInfo& CurrentEntry();

    bool LibraryFound();

    // One complete walk; reports neither success nor failure.
    void Enumerate(std::int64_t GroupId);

    // The process-wide library check: a true answer stands for the rest of the run, a false
    // one is asked again next time. Program start-up runs it once before anything else.
    static bool CheckLibrary(UrlCachePort& cache);
    // Tests only: forget a true answer of CheckLibrary.
    static void ResetLibraryFlagForTesting();

private:
    bool fetchFirst(std::int64_t groupId);
    bool fetchNext();
    bool storeEntry(const unsigned char* buffer, std::uint32_t size);

    UrlCachePort& m_cache;
    const LocalTimePort& m_localTime;
    TSearchPattern m_searchPattern = TSearchPattern::spAll;
    TFilterOptions m_filterOptions;
    std::uint32_t m_filterMask = 0;
    TOnEntryEvent m_onEntry;
    TEntryInfo m_currentEntry;
    CacheSearchHandle m_handle = nullptr;
    bool m_cancel = false;
};

} // namespace sarnika
