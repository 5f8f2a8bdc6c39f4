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

// Longest ResponseHeaders value taken from a row; WinINet keeps a few KiB at most.
inline constexpr std::uint64_t kWebCacheMaxHeaderBytes = std::uint64_t{1} << 20U;

// One row of the "Containers" table of WebCacheV01.dat.
struct WebCacheContainer {
    std::uint64_t id = 0;
    std::string name;      // "Content", "History", "Cookies", "DOMStore", "MSHist01...", ...
    std::string directory; // as Windows wrote it: "C:\Users\<user>\AppData\Local\...\IE\"
    // The eight-character cache folders inside `directory`, in the order rows index them.
    std::vector<std::string> secureDirectories;
};

// One row of a "Container_<id>" table, as stored.
struct WebCacheRow {
    std::uint64_t containerId = 0;
    std::uint64_t entryId = 0;
    std::string url;
    std::string fileName;
    std::uint32_t secureDirectory = 0; // 1 for the first of secureDirectories, 0 for none
    std::uint64_t fileSize = 0;
    std::uint32_t accessCount = 0;
    std::uint32_t exemptionDelta = 0;
    std::string fileExtension;
    // File times, UTC.
    FileTime syncTime = 0;
    FileTime expiryTime = 0;
    FileTime modifiedTime = 0;
    FileTime accessedTime = 0;
    std::string responseHeaders; // the column's bytes as stored
};

// The SecureDirectories column: eight-character folder names one after the other. Names that
// could leave the cache folder stay in their place as empty names.
std::vector<std::string> splitSecureDirectories(std::string_view stored);

// The status line and header lines of a ResponseHeaders value, each ended by CR LF, then the
// empty line; what follows the empty line (WinINet's "~U:<user>" lines) is dropped. Empty when
// the value holds no status line.
std::string webCacheHeaders(std::string_view stored);

// The folder on this disk that holds the eight-character folders of a container, found from the
// directory Windows recorded, taken relative to the database's own folder (".../Microsoft/
// Windows/WebCache"): the part after "AppData\Local\" or "\Microsoft\Windows\". Empty when the
// directory lies elsewhere or a part of it could leave the profile.
std::filesystem::path containerFolder(std::string_view windowsDirectory,
                                      const std::filesystem::path& databaseFolder);

// Whether the rows of a container give entries (see webCacheRecords).
bool webCacheContainerGivesEntries(const WebCacheContainer& container);

// The entries of the rows: content of "Content" containers, visits of "History" containers and
// cookies of "Cookies" containers; rows of other containers (periodic histories, DOM storage,
// compatibility lists, downloads, ...) are not entries. A container with no name (its row in
// the Containers table is lost) gives the rows whose URLs say what they are: visits, cookies,
// and http, https, ftp and file URLs as content without a file. Content rows get their file in the
// container's folder beside the database when the names are plain and no folder on the way is
// a link. `identityBase` prefixes each record's identity.
std::vector<CacheRecord> webCacheRecords(const std::vector<WebCacheContainer>& containers,
                                         const std::vector<WebCacheRow>& rows,
                                         const std::filesystem::path& databaseFolder,
                                         std::string_view identityBase);

// The database file in a WebCache folder, or empty when there is none.
std::filesystem::path webCacheDatabase(const std::filesystem::path& folder);

// Whether the database has to be read from a private copy: it was not shut down cleanly, or
// logs, checkpoint or reserve logs of the database engine lie beside it (the browser may be
// running, or the files come from a live system).
bool webCacheNeedsCopy(const std::filesystem::path& database);

} // namespace sarnika::sources
