#pragma once

#include <cstdint>
#include <string>

namespace sarnika {

// One cache entry. Times are local date-times: days since 1899-12-30, 0 when unconvertible.
struct TEntryInfo {
    std::string SourceUrlName;
    std::string LocalFileName;
    std::uint32_t CacheEntryType = 0;
    std::uint32_t UseCount = 0;
    std::uint32_t HitRate = 0;
    std::uint32_t Size = 0;
    double LastModifiedTime = 0;
    double ExpireTime = 0;
    double LastAccessTime = 0;
    double LastSyncTime = 0;
    std::string HeaderInfo;
    std::string FileExtension;
    std::uint32_t ExemptDelta = 0;
};

} // namespace sarnika
