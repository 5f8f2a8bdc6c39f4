#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cache/ListUrlCache.h"

namespace sarnika::testing {

// A URL cache in memory that records every call and can be told to misbehave.
class FakeUrlCache : public ListUrlCache {
public:
    struct Call {
        enum class Kind { LibraryCheck, FindFirst, FindNext, FindClose } kind;
        bool probe = false;       // called without a buffer
        bool nullPattern = false; // FindFirst only
        std::string pattern;      // FindFirst only
        std::uint32_t filter = 0; // FindFirst only
        CacheSearchHandle handle = nullptr;
    };

    using ListUrlCache::ListUrlCache;

    bool libraryAvailable() override;
    CacheSearchHandle findFirstEntry(const char* pattern, std::uint32_t flags, std::uint32_t filter,
                                     std::int64_t groupId, CacheEntryRecord* entry,
                                     std::uint32_t* size) override;
    bool findNextEntry(CacheSearchHandle handle, CacheEntryRecord* entry,
                       std::uint32_t* size) override;
    bool findClose(CacheSearchHandle handle) override;

    std::size_t count(Call::Kind kind) const;

    std::vector<Call> calls;
    bool available = true;
    // The n-th fetch (0-based, probes not counted) fails with this error.
    std::optional<std::size_t> failFetchAt;
    std::uint32_t failError = CacheError::InsufficientBuffer;

private:
    std::size_t m_fetches = 0;
    bool failNow();
};

// An entry with a content URL and a local file.
CacheEntrySource contentEntry(std::string url, std::string localFile, std::uint64_t size = 0);

} // namespace sarnika::testing
