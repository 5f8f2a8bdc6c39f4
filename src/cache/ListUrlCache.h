#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "cache/UrlCache.h"

namespace sarnika {

// One entry as a layer knows it, before it is laid out for the URL-cache protocol.
// An empty optional becomes a null text in the delivered record.
struct CacheEntrySource {
    std::string SourceUrlName;
    std::optional<std::string> LocalFileName;
    std::uint32_t CacheEntryType = CacheEntryBits::Normal;
    std::uint32_t UseCount = 0;
    std::uint32_t HitRate = 0;
    std::uint64_t Size = 0;
    FileTime LastModifiedTime = 0;
    FileTime ExpireTime = 0;
    FileTime LastAccessTime = 0;
    FileTime LastSyncTime = 0;
    std::optional<std::string> HeaderInfo;
    std::optional<std::string> FileExtension;
    std::uint32_t ExemptDelta = 0;
};

// Whether an entry belongs to a walk. A null pattern takes every entry, "Cookie:" and "Visited:"
// (any letter case) their groups, the empty pattern the content entries (neither group); the
// entry's type must share a bit with the filter.
bool entryMatchesWalk(const CacheEntrySource& entry, const char* pattern, std::uint32_t filter);

// Bytes a delivered record of this entry needs: the record and its texts.
std::uint32_t recordSizeOf(const CacheEntrySource& entry);

// Serves the URL-cache protocol over a list of entries held in memory.
class ListUrlCache : public UrlCachePort {
public:
    ListUrlCache() = default;
    explicit ListUrlCache(std::vector<CacheEntrySource> entries);
    ~ListUrlCache() override;
    ListUrlCache(const ListUrlCache&) = delete;
    ListUrlCache& operator=(const ListUrlCache&) = delete;

    void setEntries(std::vector<CacheEntrySource> entries);
    const std::vector<CacheEntrySource>& entries() const { return *m_entries; }

    bool libraryAvailable() override { return true; }
    CacheSearchHandle findFirstEntry(const char* pattern, std::uint32_t flags, std::uint32_t filter,
                                     std::int64_t groupId, CacheEntryRecord* entry,
                                     std::uint32_t* size) override;
    bool findNextEntry(CacheSearchHandle handle, CacheEntryRecord* entry,
                       std::uint32_t* size) override;
    bool findClose(CacheSearchHandle handle) override;
    std::uint32_t lastError() const override { return m_lastError; }

    // Walks not closed yet.
    std::size_t openWalks() const { return m_walks.size(); }

protected:
    void setLastError(std::uint32_t code) { m_lastError = code; }
    // Lays the entry out in the caller's buffer, or tells the size it needs.
    bool deliver(const CacheEntrySource& source, CacheEntryRecord* entry, std::uint32_t* size);

private:
    struct Walk {
        std::shared_ptr<const std::vector<CacheEntrySource>> entries;
        std::string pattern;
        bool nullPattern = false;
        std::uint32_t filter = 0;
        // Index of the entry the next fetch delivers.
        std::size_t position = 0;

        std::size_t nextMatch(std::size_t from) const;
    };
    Walk* findWalk(CacheSearchHandle handle) const;

    // Shared with open walks, so that replacing the list never pulls entries from under a walk.
    std::shared_ptr<const std::vector<CacheEntrySource>> m_entries =
        std::make_shared<std::vector<CacheEntrySource>>();
    std::vector<std::unique_ptr<Walk>> m_walks;
    std::uint32_t m_lastError = CacheError::Success;
};

} // namespace sarnika
