#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Result.h"
#include "cache/sources/CacheRecord.h"

namespace sarnika::sources {

// dcache4.url is rewritten whole by the browser and read whole here, so this bounds memory. An
// index of 100,000 entries with their small bodies inside takes well under half of it.
inline constexpr std::uint64_t kOperaIndexMaxBytes = std::uint64_t{128} << 20U;

// One entry of dcache4.url as stored: a record of tagged fields, some of them inside the
// entry's HTTP record.
struct OperaIndexEntry {
    std::uint64_t offset = 0; // of the entry record in the index
    std::string url;
    std::string contentType;
    std::string charset;
    // The body's size as the index gives it; 0 also where the file holds a whole body.
    std::uint64_t size = 0;
    std::optional<std::uint32_t> loadStatus;
    std::int64_t lastVisited = 0; // Unix seconds, 0 when unknown
    std::int64_t loaded = 0;      // when the body was fetched, Unix seconds
    std::int64_t expires = 0;
    // The body's file, relative to the index's folder, as stored ("g_0000/opr0002X.tmp").
    std::string fileName;
    // Set where that file packs several bodies: the body's slot in it.
    std::optional<std::uint32_t> slot;
    // A body kept inside the index itself: where its bytes lie in the index file.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> embedded; // offset, length

    std::optional<std::uint32_t> httpStatus;
    std::string statusText;
    std::string date;
    std::string lastModified;
    std::string entityTag;
    std::string location;
    std::string contentEncoding;
    std::string contentLocation;
    std::string contentLanguage;
    // Response headers the browser kept whole, in their order.
    std::vector<std::pair<std::string, std::string>> headers;
};

struct OperaIndex {
    std::vector<OperaIndexEntry> entries;
};

// Parses the bytes of a dcache4.url (the tagged-record format of Opera 7 to 12). Damaged entries
// are left out and counted in `report`; bytes that are not such an index give an error.
Result<OperaIndex> parseOperaIndex(std::string_view bytes, ReadReport& report);

// Where the bodies of a file that packs several lie: slot number, offset and length each.
struct OperaPackedBody {
    std::uint32_t slot = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// The longest table a packed file can start with; reading this much of a file is enough.
inline constexpr std::size_t kOperaPackTableMaxBytes = 2 + 255 * 3;

// Parses the table at the start of a file that packs several bodies (`head`: its first bytes,
// up to kOperaPackTableMaxBytes). Bodies that would end beyond `fileSize` are left out.
Result<std::vector<OperaPackedBody>> parseOperaPackTable(std::string_view head,
                                                         std::uint64_t fileSize);

// The response headers of an entry as CR LF lines, then an empty line: those the browser kept,
// completed from the entry's fields. Empty for an entry without an HTTP status.
std::string operaHeaders(const OperaIndexEntry& entry, std::uint64_t bodySize);

// Lists the entries of an Opera cache folder (the one holding dcache4.url) and of the indexes
// in its subfolders (revocation/ and the like). Only the indexes and the start of packed files
// are read; bodies are read when CacheRecord::body is called.
std::vector<CacheRecord> readOperaCache(const std::filesystem::path& folder, ReadReport& report);

// Whether the folder holds an Opera cache index: a cheap test on the first bytes of
// dcache4.url.
bool looksLikeOperaCache(const std::filesystem::path& folder);

} // namespace sarnika::sources
