#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "cache/sources/Discovery.h"

namespace sarnika::curation {

// A listed movie as the archive keeps it.
struct ArchivedMovie {
    std::string url;
    std::string localFile;
    // The status line and headers the cache kept (CR LF lines); empty when it kept none.
    std::string storedHead;
    std::optional<std::int64_t> fetched;    // when the cache last fetched it (Unix seconds)
    std::optional<std::int64_t> lastAccess; // Unix seconds
    std::optional<sources::SourceDescription> source;
    // The media type of a body without headers; a Flash movie's when empty.
    std::string contentType;
};

// The media type a file's name suggests ("text/xml" of "levels.xml"), for bodies whose headers
// are lost; application/octet-stream when the name does not tell.
std::string mediaTypeOfName(std::string_view name);

struct ArchiveRequest {
    std::string target;              // gzip members unless the name ends in ".warc"
    bool replace = false;            // an existing file may be replaced
    std::vector<std::string> caches; // what was read, for the archive's description
    std::int64_t now = 0;            // the export's time (Unix seconds)
};

struct ArchiveSummary {
    int archived = 0;
    std::vector<std::string> leftOut; // "<url>: <reason>" for each movie that could not be read
    std::uint64_t bytes = 0;          // of the archive
};

// Told before each movie (its index, the number of movies); false stops the export, which
// then leaves nothing under the target (Error::Code::Cancelled).
using ArchiveStep = std::function<bool(std::size_t index, std::size_t total)>;

// Writes the movies as a web archive: a warcinfo record, then for each movie its response (the
// status line and headers the cache kept, and the body as stored) or, where the cache kept no
// headers, a resource record, each followed by a metadata record with its source. The archive
// appears under its name only once complete, never over an existing file unless `replace`.
Result<ArchiveSummary> writeMovieArchive(const std::vector<ArchivedMovie>& movies,
                                         const ArchiveRequest& request, const ArchiveStep& step);

} // namespace sarnika::curation
