#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>

#include "base/DateTime.h"
#include "base/Result.h"

namespace sarnika::sources {

enum class RecordKind { Content, Cookie, History };

// Longest URL or cache key a reader takes: 2 MiB, Chromium's own limit for a URL (Firefox stops
// at 1 MiB, Internet Explorer at 2,083 characters). Anything longer is damage or an attack.
inline constexpr std::uint64_t kMaxUrlBytes = std::uint64_t{2} << 20U;
// URLs, keys and headers that the records of one source may hold in memory together. A cache of
// 100,000 entries needs about a third of it; beyond it the rest of the source is left out.
inline constexpr std::uint64_t kSourceTextBudget = std::uint64_t{64} << 20U;

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

// Takes the records of a reader one at a time, so that a big cache is never held whole; false
// stops the reading.
using RecordSink = std::function<bool(CacheRecord& record)>;

// One of `count` parts of a big cache, for reading it on several threads at once: the entries
// of parts 0, 1, ... in turn are those of the whole cache, in the same order.
struct SourcePart {
    std::size_t index = 0;
    std::size_t count = 1;

    // The slice [begin, end) of `total` items that the part reads.
    std::size_t begin(std::size_t total) const { return total * index / count; }
    std::size_t end(std::size_t total) const { return total * (index + 1) / count; }
};

// What a reader saw besides its records.
struct ReadReport {
    std::size_t skipped = 0; // damaged, truncated or unreadable entries left out
    std::string firstProblem;

    std::uint64_t textHeld = 0; // bytes of URLs, keys and headers taken so far
    bool budgetSpent = false;   // entries were left out for kSourceTextBudget

    void skip(std::string why) {
        if (skipped++ == 0) {
            firstProblem = std::move(why);
        }
    }

    // Counts the text an entry keeps in memory. False, and the entry skipped, once the source
    // has used up kSourceTextBudget.
    bool admit(std::uint64_t textBytes) {
        if (textBytes > kSourceTextBudget - std::min(textHeld, kSourceTextBudget)) {
            skip("more than 64 MiB of URLs and headers: the rest is left out");
            budgetSpent = true;
            return false;
        }
        textHeld += textBytes;
        return true;
    }
};

} // namespace sarnika::sources
