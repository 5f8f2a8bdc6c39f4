#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Test support: fills the current user's WinINet cache the way a browser on WinINet does.
namespace sarnika::wininet {

struct SeedEntry {
    std::string url;
    std::string body;      // written to the entry's local file
    std::string extension; // the extension WinINet is asked to give the local file
    std::uint32_t type = 0;
    bool withFile = true; // history entries have no local file
};

// Every entry of the walks that the tests make, in one set: two movies (one named in capitals,
// one whose ".swf" stands before a query), an mp3, a page, a cookie and a history entry.
std::vector<SeedEntry> sampleEntries();

// Commits an entry with CreateUrlCacheEntryA and CommitUrlCacheEntryA; answers its local file
// ("" for an entry without one), or "" with `ok` false when WinINet refuses.
std::string commitEntry(const SeedEntry& entry, std::uint64_t lastModified, bool& ok);

// Deletes every entry of the cache, so that a test starts from an empty one.
void clearCache();

} // namespace sarnika::wininet
