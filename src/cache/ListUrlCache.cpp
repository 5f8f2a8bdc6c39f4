#include "cache/ListUrlCache.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/Text.h"

namespace sarnika {
namespace {

constexpr std::string_view kCookiePrefix = "cookie:";
constexpr std::string_view kHistoryPrefix = "visited:";

bool startsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
    return text.size() >= lowerPrefix.size() &&
           lowerCaseAscii(text.substr(0, lowerPrefix.size())) == lowerPrefix;
}

std::size_t textBytes(const std::optional<std::string>& text) {
    return text ? text->size() + 1 : 0;
}

CacheFileTime splitTime(FileTime time) {
    return {static_cast<std::uint32_t>(time & 0xFFFFFFFFU),
            static_cast<std::uint32_t>(time >> 32U)};
}

} // namespace

bool entryMatchesWalk(const CacheEntrySource& entry, const char* pattern, std::uint32_t filter) {
    if ((entry.CacheEntryType & filter) == 0) {
        return false;
    }
    if (pattern == nullptr) {
        return true;
    }
    const std::string_view wanted(pattern);
    if (wanted.empty()) {
        return !startsWithNoCase(entry.SourceUrlName, kCookiePrefix) &&
               !startsWithNoCase(entry.SourceUrlName, kHistoryPrefix);
    }
    return startsWithNoCase(entry.SourceUrlName, lowerCaseAscii(wanted));
}

std::uint32_t recordSizeOf(const CacheEntrySource& entry) {
    const std::size_t bytes = sizeof(CacheEntryRecord) + entry.SourceUrlName.size() + 1 +
                              textBytes(entry.LocalFileName) + textBytes(entry.HeaderInfo) +
                              textBytes(entry.FileExtension);
    return static_cast<std::uint32_t>(
        std::min<std::size_t>(bytes, std::numeric_limits<std::uint32_t>::max()));
}

std::size_t ListUrlCache::Walk::nextMatch(std::size_t from) const {
    const char* wanted = nullPattern ? nullptr : pattern.c_str();
    while (from < entries->size() && !entryMatchesWalk((*entries)[from], wanted, filter)) {
        ++from;
    }
    return from;
}

ListUrlCache::ListUrlCache(std::vector<CacheEntrySource> entries) {
    setEntries(std::move(entries));
}

ListUrlCache::~ListUrlCache() = default;

void ListUrlCache::setEntries(std::vector<CacheEntrySource> entries) {
    m_entries = std::make_shared<const std::vector<CacheEntrySource>>(std::move(entries));
}

ListUrlCache::Walk* ListUrlCache::findWalk(CacheSearchHandle handle) const {
    for (const auto& walk : m_walks) {
        if (walk.get() == handle) {
            return walk.get();
        }
    }
    return nullptr;
}

bool ListUrlCache::deliver(const CacheEntrySource& source, CacheEntryRecord* entry,
                           std::uint32_t* size) {
    const std::uint32_t needed = recordSizeOf(source);
    if (entry == nullptr || *size < needed) {
        *size = needed;
        m_lastError = CacheError::InsufficientBuffer;
        return false;
    }
    auto* bytes = reinterpret_cast<char*>(entry);
    char* text = bytes + sizeof(CacheEntryRecord);
    auto place = [&text](const std::string& value) {
        char* start = text;
        std::memcpy(text, value.c_str(), value.size() + 1);
        text += value.size() + 1;
        return start;
    };
    CacheEntryRecord record;
    record.dwStructSize = sizeof(CacheEntryRecord);
    record.lpszSourceUrlName = place(source.SourceUrlName);
    record.lpszLocalFileName = source.LocalFileName ? place(*source.LocalFileName) : nullptr;
    record.CacheEntryType = source.CacheEntryType;
    record.dwUseCount = source.UseCount;
    record.dwHitRate = source.HitRate;
    record.dwSizeLow = static_cast<std::uint32_t>(source.Size & 0xFFFFFFFFU);
    record.dwSizeHigh = static_cast<std::uint32_t>(source.Size >> 32U);
    record.LastModifiedTime = splitTime(source.LastModifiedTime);
    record.ExpireTime = splitTime(source.ExpireTime);
    record.LastAccessTime = splitTime(source.LastAccessTime);
    record.LastSyncTime = splitTime(source.LastSyncTime);
    record.lpHeaderInfo = source.HeaderInfo ? place(*source.HeaderInfo) : nullptr;
    record.dwHeaderInfoSize =
        source.HeaderInfo ? static_cast<std::uint32_t>(source.HeaderInfo->size()) : 0;
    record.lpszFileExtension = source.FileExtension ? place(*source.FileExtension) : nullptr;
    record.dwExemptDelta = source.ExemptDelta;
    std::memcpy(bytes, &record, sizeof record);
    *size = needed;
    m_lastError = CacheError::Success;
    return true;
}

CacheSearchHandle ListUrlCache::findFirstEntry(const char* pattern, std::uint32_t /*flags*/,
                                               std::uint32_t filter, std::int64_t /*groupId*/,
                                               CacheEntryRecord* entry, std::uint32_t* size) {
    if (size == nullptr) {
        m_lastError = CacheError::InsufficientBuffer;
        return nullptr;
    }
    auto walk = std::make_unique<Walk>();
    walk->entries = m_entries;
    walk->nullPattern = pattern == nullptr;
    walk->pattern = pattern != nullptr ? pattern : "";
    walk->filter = filter;
    const std::size_t first = walk->nextMatch(0);
    if (first >= walk->entries->size()) {
        m_lastError = CacheError::NoMoreItems;
        return nullptr;
    }
    if (!deliver((*walk->entries)[first], entry, size)) {
        return nullptr;
    }
    walk->position = first + 1;
    m_walks.push_back(std::move(walk));
    return m_walks.back().get();
}

bool ListUrlCache::findNextEntry(CacheSearchHandle handle, CacheEntryRecord* entry,
                                 std::uint32_t* size) {
    Walk* walk = findWalk(handle);
    if (walk == nullptr || size == nullptr) {
        m_lastError = CacheError::InvalidHandle;
        return false;
    }
    const std::size_t next = walk->nextMatch(walk->position);
    if (next >= walk->entries->size()) {
        m_lastError = CacheError::NoMoreItems;
        return false;
    }
    if (!deliver((*walk->entries)[next], entry, size)) {
        return false;
    }
    walk->position = next + 1;
    return true;
}

bool ListUrlCache::findClose(CacheSearchHandle handle) {
    const auto found = std::find_if(m_walks.begin(), m_walks.end(),
                                    [handle](const auto& walk) { return walk.get() == handle; });
    if (found == m_walks.end()) {
        m_lastError = CacheError::InvalidHandle;
        return false;
    }
    m_walks.erase(found);
    m_lastError = CacheError::Success;
    return true;
}

} // namespace sarnika
