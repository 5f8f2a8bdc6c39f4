#include "support/FakeUrlCache.h"

#include <algorithm>

namespace sarnika::testing {

bool FakeUrlCache::libraryAvailable() {
    calls.push_back({Call::Kind::LibraryCheck, false, false, {}, 0, nullptr});
    return available;
}

bool FakeUrlCache::failNow() {
    const bool fail = failFetchAt && *failFetchAt == m_fetches;
    ++m_fetches;
    if (fail) {
        setLastError(failError);
    }
    return fail;
}

CacheSearchHandle FakeUrlCache::findFirstEntry(const char* pattern, std::uint32_t flags,
                                               std::uint32_t filter, std::int64_t groupId,
                                               CacheEntryRecord* entry, std::uint32_t* size) {
    const bool probe = entry == nullptr;
    calls.push_back({Call::Kind::FindFirst, probe, pattern == nullptr, pattern ? pattern : "",
                     filter, nullptr});
    if (!probe && failNow()) {
        return nullptr;
    }
    CacheSearchHandle handle =
        ListUrlCache::findFirstEntry(pattern, flags, filter, groupId, entry, size);
    calls.back().handle = handle;
    return handle;
}

bool FakeUrlCache::findNextEntry(CacheSearchHandle handle, CacheEntryRecord* entry,
                                 std::uint32_t* size) {
    const bool probe = entry == nullptr;
    calls.push_back({Call::Kind::FindNext, probe, false, {}, 0, handle});
    if (!probe && failNow()) {
        return false;
    }
    return ListUrlCache::findNextEntry(handle, entry, size);
}

bool FakeUrlCache::findClose(CacheSearchHandle handle) {
    calls.push_back({Call::Kind::FindClose, false, false, {}, 0, handle});
    return ListUrlCache::findClose(handle);
}

std::size_t FakeUrlCache::count(Call::Kind kind) const {
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [kind](const Call& c) { return c.kind == kind; }));
}

CacheEntrySource contentEntry(std::string url, std::string localFile, std::uint64_t size) {
    CacheEntrySource entry;
    entry.SourceUrlName = std::move(url);
    entry.LocalFileName = std::move(localFile);
    entry.Size = size;
    return entry;
}

} // namespace sarnika::testing
