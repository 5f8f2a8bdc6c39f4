#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cache/DateTime.h"
#include "cache/Result.h"

namespace sarnika::sources {

enum class RecordKind { Content, Cookie, History };

// Reads the stored body of a content entry: the bytes as the browser keeps them (still
// Content-Encoded), at most `limit` of them. Never allocates more than it returns.
using BodyReader = std::function<Result<std::string>(std::uint64_t limit)>;

// One entry as a reader of a browser's files found it.
struct CacheRecord {
    RecordKind kind = RecordKind::Content;
    // Content: the URL the body was fetched from. Cookie: "Cookie:<user>@<host><path>".
    // History: "Visited: <user>@<url>".
    std::string url;
    // The raw response headers: status line and header lines, each ended by CR LF, then an
    // empty line. Empty when the entry has none.
    std::string headers;
    // Bytes of the body as stored.
    std::uint64_t size = 0;
    // UTC file times; 0 when unknown.
    FileTime lastModified = 0;
    FileTime expires = 0;
    FileTime lastAccess = 0;
    FileTime lastSync = 0;
    std::uint32_t useCount = 0;
    std::uint32_t hitRate = 0;
    std::uint32_t exemptDelta = 0;
    // The extension the cache recorded for the entry, where it records one (index.dat).
    std::string fileExtension;
    // A real file holding the body as served (index.dat caches); empty for browsers that keep
    // bodies inside their own files.
    std::string localFile;
    // Identifies the stored entry and changes whenever the entry changes (its file, size and
    // modification time, or the row and its checksum).
    std::string identity;
    // Content entries without a localFile: how to read the body.
    BodyReader body;
};

// What a reader saw besides its records.
struct ReadReport {
    std::size_t skipped = 0; // damaged, truncated or unreadable entries left out
    std::string firstProblem;

    void skip(std::string why) {
        if (skipped++ == 0) {
            firstProblem = std::move(why);
        }
    }
};

} // namespace sarnika::sources
