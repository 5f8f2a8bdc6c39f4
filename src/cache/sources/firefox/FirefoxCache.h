#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "cache/sources/CacheRecord.h"

namespace sarnika::sources {

// Metadata larger than this is taken for damage: real entries hold a key, a few headers and two
// bytes per 256 KiB of body.
inline constexpr std::uint64_t kFirefoxMaxMetadata = std::uint64_t{4} << 20U;

// What the metadata at the end of a cache2 entry file says about the entry.
struct FirefoxEntryInfo {
    std::uint32_t version = 0;
    std::uint32_t fetchCount = 0;
    std::uint32_t lastFetched = 0;  // Unix seconds, 0 when never fetched
    std::uint32_t lastModified = 0; // of the entry, not the server's Last-Modified
    std::uint32_t expiration = 0;   // Unix seconds, 0xFFFFFFFF for none
    std::uint32_t flags = 0;
    std::uint64_t bodySize = 0; // also where the metadata starts
    std::string key;
    std::string url;
    // The response-head element: status line and header lines, ended by an empty line.
    std::string headers;
};

// How many bytes from the end of an entry file of `fileSize` bytes cover the metadata under each
// trailer form that fits, judged from `lastBytes`, the file's last (up to 8) bytes; 0 when none
// fits within kFirefoxMaxMetadata.
std::uint64_t firefoxTailLength(std::string_view lastBytes, std::uint64_t fileSize);

// Parses an entry file of `fileSize` bytes from `tail`, its last tail.size() bytes, which must
// include the whole metadata. Never looks at the body.
Result<FirefoxEntryInfo> parseFirefoxEntry(std::string_view tail, std::uint64_t fileSize);

// The URL of a cache2 key: what follows the comma-terminated tags and their ':'
// ("O^partitionKey=%28http%2C127.0.0.1%29,a,~FETCH,:http://a.com/x.swf" -> "http://a.com/x.swf").
// A key without tags is returned whole.
std::string urlFromFirefoxKey(std::string_view key);

class ByteReader;
// The response head among a metadata element list (name/value pairs of C strings, alike in the
// cache2 entries and the older disk cache), read up to the reader's end: its header lines ended
// by CR LF and an empty line, empty when there is none. A damaged pair ends the list.
std::string responseHeadOf(ByteReader& elements);

// Lists the entries of a cache2 folder (the one holding entries/; doomed/ is not read). Reads
// only the end of each entry file; bodies are read when CacheRecord::body is called.
std::vector<CacheRecord> readFirefoxCache2(const std::filesystem::path& cache2Dir,
                                           ReadReport& report);
// The same, handing each record to `sink` as soon as it is read; only the entries of `part`.
void readFirefoxCache2(const std::filesystem::path& cache2Dir, ReadReport& report,
                       const RecordSink& sink, SourcePart part = {});

} // namespace sarnika::sources
