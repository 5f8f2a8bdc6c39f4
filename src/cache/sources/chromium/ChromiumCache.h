#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/DateTime.h"
#include "base/Result.h"
#include "cache/sources/CacheRecord.h"

namespace sarnika::sources {

// Chromium's HTTP cache readers. Times in the records: lastSync = the response time of the
// stored response, lastAccess = the backend's own last use (simple: index-dir/the-real-index,
// blockfile: the rankings node) or the response time where it has none, expires and
// lastModified = 0 (the headers carry them), useCount = the blockfile reuse count.

enum class ChromiumBackend { None, Simple, Blockfile, Sql };

// Which backend wrote the cache folder (the folder holding the entry files, e.g.
// .../Default/Cache/Cache_Data).
ChromiumBackend detectChromiumBackend(const std::filesystem::path& dir);

// The content entries of a simple-backend folder (`<hash>_0` files). Reads the head and the
// tail of each entry file, never the bodies.
std::vector<CacheRecord> readChromiumSimpleCache(const std::filesystem::path& dir,
                                                 ReadReport& report);
// The same, handing each record to `sink` as soon as it is read; only the entries of `part`.
void readChromiumSimpleCache(const std::filesystem::path& dir, ReadReport& report,
                             const RecordSink& sink, SourcePart part = {});

// The content entries of a blockfile-backend folder (index, data_N, f_XXXXXX).
std::vector<CacheRecord> readChromiumBlockfileCache(const std::filesystem::path& dir,
                                                    ReadReport& report);

// One `<hash>_0` file of the simple backend, as found by parseChromiumSimpleEntry.
struct ChromiumSimpleEntry {
    std::string key;
    std::uint32_t recordSize = 0; // header and EOF records: 24 bytes, 20 in older caches
    std::uint64_t bodyOffset = 0;
    std::uint64_t bodySize = 0;
    std::string stream0; // the pickled response info
};

// Byte counts a parse wanted but did not get: the caller reads that many and tries again.
struct ChromiumSimpleWants {
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
};

// Parses an entry file of `fileSize` bytes from its first bytes (`head`) and its last bytes
// (`tail`; both may be the whole file). When one of them is too short it fails and, if
// `wants` is given, sets there how many bytes of each would do.
Result<ChromiumSimpleEntry> parseChromiumSimpleEntry(std::string_view head, std::string_view tail,
                                                     std::uint64_t fileSize,
                                                     ChromiumSimpleWants* wants = nullptr);

// The last-use times that index-dir/the-real-index holds, by entry hash (the number a
// `<hash>_0` file is named after). Empty when the index is damaged or of an unknown version.
std::unordered_map<std::uint64_t, FileTime> parseChromiumSimpleIndex(std::string_view bytes);

// The files of a blockfile cache by name ("index", "data_1", "f_00001a").
class BlockfileFiles {
public:
    BlockfileFiles() = default;
    BlockfileFiles(const BlockfileFiles&) = delete;
    BlockfileFiles& operator=(const BlockfileFiles&) = delete;
    BlockfileFiles(BlockfileFiles&&) = delete;
    BlockfileFiles& operator=(BlockfileFiles&&) = delete;
    virtual ~BlockfileFiles() = default;
    // The file's size; nothing when it is missing or cannot be opened.
    virtual std::optional<std::uint64_t> size(const std::string& name) = 0;
    // Up to `length` bytes from `offset`.
    virtual Result<std::string> read(const std::string& name, std::uint64_t offset,
                                     std::uint64_t length) = 0;
};

// One entry of a blockfile cache, as found by parseChromiumBlockfile.
struct ChromiumBlockfileEntry {
    std::uint32_t address = 0;
    std::string key;
    std::string stream0;      // the pickled response info
    bool headersLost = false; // the response info lies in a missing or damaged place
    std::string bodyFile;     // the file holding the body; empty when the body is empty
    std::uint64_t bodyOffset = 0;
    std::uint64_t bodySize = 0;
    std::array<std::uint32_t, 4> dataSizes{};
    std::int64_t creationTime = 0; // microseconds since 1601, as stored
    std::int64_t lastUsed = 0;     // from the rankings node; 0 when it cannot be read
    std::uint32_t reuseCount = 0;
};

// Walks the index's hash table and every bucket's chain. Entries that cannot be read (damaged,
// or held in a missing file) are left out and reported, except those that lost only their
// response info and still have a body (headersLost); the body's location is checked but its
// bytes are not read.
std::vector<ChromiumBlockfileEntry> parseChromiumBlockfile(BlockfileFiles& files,
                                                           ReadReport& report);

} // namespace sarnika::sources
