#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cache/CacheAnalyzer.h"
#include "cache/sources/Discovery.h"
#include "cache/sources/swf/SwfHeader.h"

namespace sarnika::cli {

// One listed movie, with what the list and the save commands show of it.
struct MovieRow {
    std::string displayName;
    std::string suggestedName;
    std::string host;
    std::string url;
    std::string localFile;
    std::optional<std::uint64_t> size; // empty when the local file is gone
    bool sniffed = false;              // found by its first bytes, not by its URL
    std::optional<sources::SourceDescription> source;
    const TEntryInfo* entry = nullptr; // owned by the scan that made the row
    // Another file of a movie's site (save-all --with-assets), not a movie.
    bool siteFile = false;
    // The movie's own header; read for the JSON listing only.
    std::optional<Result<sources::SwfHeader>> swf;
};

// One entry of any kind, for the listing of every entry.
struct EntryRow {
    std::string group;    // "cookie", "history" or "content"
    std::string category; // content: "image", "page", "multimedia" or "other"; else empty
    std::string url;
    std::string localFile; // empty when the entry has no local file, or it is gone
    // The local file's size, or the size the cache records when there is no file.
    std::uint64_t size = 0;
    std::optional<sources::SourceDescription> source;
    const TEntryInfo* entry = nullptr; // owned by the scan that made the row
};

// The cache a local file came from, when the cache port can tell.
using SourceLookup =
    std::function<std::optional<sources::SourceDescription>(const std::string& localFile)>;

// The cache an entry came from, by its URL, its local file and, for entries without one, how
// many entries of its group with the same URL came before it.
using EntrySourceLookup = std::function<std::optional<sources::SourceDescription>(
    const std::string& url, const std::string& localFile, std::size_t occurrence)>;

// Which entries a scan keeps: those that can be movies (multimedia content), so that memory
// grows with the movies, or every entry, for the listing of every entry and the sites' files.
enum class ScanKeeps { Movies, Everything };

// Scans a cache with the window's own scan (ScanFlashMovies) and turns its movies into rows.
// Entry times are taken in UTC.
class MovieScan {
public:
    MovieScan(UrlCachePort& cache, SourceLookup lookup, ScanKeeps keeps = ScanKeeps::Everything);
    ScanKeeps keeps() const { return m_keeps; }

    // Calls `tick` with the number of entries seen so far, during the scan.
    std::vector<MovieRow> run(bool sniff, const std::function<void(std::size_t)>& tick);
    // Every entry the last run kept: cookies, history, then content by the analyzer's
    // categories (multimedia largest first).
    std::vector<EntryRow> entries(const EntrySourceLookup& source) const;
    // Content entries the last run left out for a line break or NUL in their URL or file name.
    std::size_t refusedEntries() const { return m_analyzer.RefusedEntries(); }
    const TCacheAnalyzer& analyzer() const { return m_analyzer; }

private:
    UtcLocalTime m_utc;
    TCacheAnalyzer m_analyzer;
    SourceLookup m_lookup;
    ScanKeeps m_keeps;
};

// Whether a file starts with a Flash movie's signature.
bool hasSwfSignature(const std::string& file);

} // namespace sarnika::cli
