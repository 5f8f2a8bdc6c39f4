#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "base/Result.h"
#include "cli/MovieScan.h"
#include "cli/Progress.h"

namespace sarnika::cli {

struct WarcExportSummary {
    int archived = 0; // movies in the archive
    int failed = 0;   // movies left out, each with its reason on `err`
    std::uint64_t bytes = 0;
};

struct WarcExportRequest {
    std::string target;              // the archive: gzip members unless it ends in ".warc"
    bool replace = false;            // --force: an existing file may be replaced
    std::vector<std::string> caches; // what was read, for the archive's description
    std::int64_t now = 0;            // the export's time (Unix seconds)
};

// Writes the rows as a web archive: a warcinfo record, then for each movie its response (the
// status line and headers the cache kept, and the body as stored) or, where the cache kept no
// headers, a resource record, each followed by a metadata record with its source. The archive
// appears under its name only once complete.
Result<WarcExportSummary> exportWarc(const std::vector<MovieRow>& rows,
                                     const WarcExportRequest& request, Progress& progress,
                                     std::ostream& err);

} // namespace sarnika::cli
