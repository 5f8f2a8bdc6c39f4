#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "cache/sources/CacheRecord.h"

namespace sarnika::sources {

// The disk cache of Firefox 3 to 31 (also SeaMonkey and Thunderbird of those years): a map file
// `_CACHE_MAP_` of records (key hash, eviction rank, data place, metadata place), three block
// files `_CACHE_001_` to `_CACHE_003_` of 256 B, 1 KiB and 4 KiB blocks behind an allocation
// bitmap, and separate files for larger data and metadata. All numbers are big-endian.

// Metadata larger than this is taken for damage: a key, a few headers and a certificate chain.
inline constexpr std::uint64_t kFirefoxOldMaxMetadata = std::uint64_t{4} << 20U;

// What one metadata record says about its entry.
struct FirefoxOldEntry {
    std::uint32_t version = 0; // major << 16 | minor, as in the map's header
    std::uint32_t fetchCount = 0;
    std::uint32_t lastFetched = 0;  // Unix seconds
    std::uint32_t lastModified = 0; // of the entry, not the server's Last-Modified
    std::uint32_t expiration = 0;   // Unix seconds; 0 or 0xFFFFFFFF for none
    std::uint32_t dataSize = 0;
    std::uint64_t recordSize = 0; // header, key and elements together
    std::string key;
    std::string url;
    // The response-head element: status line and header lines, ended by an empty line.
    std::string headers;
};

// Parses the metadata record at the start of `bytes`, which may go on past its end.
Result<FirefoxOldEntry> parseFirefoxOldEntry(std::string_view bytes);

// The URL of a key: the client's name and ':' dropped ("HTTP:http://a.test/m.swf"), and for a
// POST the "id=<n>&" parts before "uri=" ("HTTP:id=5b6160c9&uri=http://a.test/").
std::string urlFromFirefoxOldKey(std::string_view key);

// The hash of a key (without its NUL) that files the entry in the map and names its separate
// files.
std::uint32_t firefoxOldKeyHash(std::string_view key);

// Whether the folder holds this cache's map and first block file (a cheap test for discovery).
bool looksLikeFirefoxOldCache(const std::filesystem::path& folder);

// Lists the entries of the cache folder (the one holding `_CACHE_MAP_`). With a map that holds
// its records, they say where each entry lives; with a torn or header-only map the metadata
// records are found in the block files and separate files themselves, separate data files by
// the key's hash, and data in block files by its size and the free blocks it fits (left
// without a body where that is ambiguous). Bodies are read when CacheRecord::body is called.
std::vector<CacheRecord> readFirefoxOldCache(const std::filesystem::path& folder,
                                             ReadReport& report);

} // namespace sarnika::sources
