#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"
#include "base/Result.h"
#include "cache/sources/CacheRecord.h"

namespace sarnika::sources {

// index.dat files are memory-mapped by WinINet and stay small (a few MiB for a cache of tens of
// thousands of entries); anything larger is not one. It is read whole, so this bounds memory.
inline constexpr std::uint64_t kIndexDatMaxBytes = 128ULL << 20U;

// One "URL " record as stored. Times are file times; the FAT ones hold the writer's local time,
// converted as if it were UTC because the file does not say which zone that was.
struct IndexDatUrl {
    std::uint32_t offset = 0;
    std::string location;
    // The cached file's name inside its cache directory; empty when the record names none.
    std::string fileName;
    // Index into IndexDat::cacheDirectories; 0xFE and 0xFF stand for no directory.
    std::uint8_t cacheDirectory = 0xFF;
    std::string fileExtension;
    // The record's data as stored: HTTP response headers for cached content.
    std::string data;
    std::uint64_t size = 0;
    FileTime primaryTime = 0;   // last access (cache) or last visit (history), UTC
    FileTime secondaryTime = 0; // the server's last modification (cache), UTC
    FileTime expires = 0;       // FAT
    FileTime lastChecked = 0;   // FAT
    std::uint32_t hits = 0;
    std::uint32_t exemptDelta = 0;
};

struct IndexDat {
    bool writtenByWine = false;
    std::vector<std::string> cacheDirectories;
    // Records reachable from the hash tables, by offset.
    std::vector<IndexDatUrl> urls;
};

// Parses the bytes of an index.dat of Internet Explorer 5 to 9 ("Client UrlCache MMF Ver 5.2")
// or of Wine ("WINE URLCache Ver 0.2012001"). Damaged records are left out and counted in
// `report`; bytes that are not such a file give an error.
Result<IndexDat> parseIndexDat(std::string_view bytes, ReadReport& report);

// The entries of a parsed index.dat: content, cookies and visits. Records of the other
// containers (periodic histories, downloads, DOM storage, ...) are not entries. `folder` holds
// the index.dat and its cache directories; `identityBase` prefixes each record's identity.
std::vector<CacheRecord> indexDatRecords(const IndexDat& index, const std::filesystem::path& folder,
                                         std::string_view identityBase);

// Reads one index.dat. A file that cannot be read or is not an index.dat gives no records and
// its reason in `report`.
std::vector<CacheRecord> readIndexDat(const std::filesystem::path& indexDat, ReadReport& report);

// A FAT date (low 16 bits) and time (high 16 bits) as a file time; 0 for zero or invalid values.
FileTime fileTimeFromFat(std::uint32_t dateTime);

} // namespace sarnika::sources
