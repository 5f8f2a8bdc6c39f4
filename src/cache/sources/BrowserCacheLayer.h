#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "cache/ListUrlCache.h"
#include "cache/sources/CacheRecord.h"
#include "cache/sources/Discovery.h"

namespace sarnika::sources {

// Reads the entries of one source; readSource reads the browsers' real files.
using SourceReader = std::function<std::vector<CacheRecord>(const SourceLocation&,
                                                            std::string_view user, ReadReport&)>;
std::vector<CacheRecord> readSource(const SourceLocation& source, std::string_view user,
                                    ReadReport& report);
// Hands the entries of one source, or of one part of it, to a sink as they are read;
// streamSource reads the browsers' real files, the big caches entry by entry. A source that
// cannot be read in parts gives all its entries as part 0 and none in the others.
using SourceStreamer = std::function<void(const SourceLocation&, std::string_view user, SourcePart,
                                          ReadReport&, const RecordSink&)>;
void streamSource(const SourceLocation& source, std::string_view user, SourcePart part,
                  ReadReport& report, const RecordSink& sink);
// Whether a streamer may be asked for parts of sources of this kind: the big caches.
bool readInParts(SourceLocation::Kind kind);

// Which entries a walk asks for, by its URL search pattern.
enum class WalkGroup { All, Cookies, History, Content };
WalkGroup walkGroupOf(const char* pattern);

// What the last walks saw, for front ends that want to say more than the list does.
struct LayerReport {
    std::size_t sourcesRead = 0;
    std::size_t sourcesFailed = 0;
    std::size_t entriesSkipped = 0;
    std::size_t extracted = 0;         // bodies written out in this run
    std::size_t reused = 0;            // bodies already out and current
    std::vector<std::string> problems; // one line per source with trouble
};

// Serves the URL-cache functions from the browsers' own caches. Every walk reads its group
// afresh: "Cookie:" the cookie stores, "Visited:" the histories, "" the caches. Content entries
// carry a local file named WinINet-style; bodies of the multimedia kinds are copied out,
// decoded, into the extraction folder, re-used while their entry is unchanged and removed once
// it is gone. Nothing is ever written inside a browser's folders.
class BrowserCacheLayer final : public ListUrlCache {
public:
    struct Options {
        std::vector<SourceLocation> sources;
        std::filesystem::path extractionRoot; // e.g. $XDG_CACHE_HOME/sarnika/extracted
        std::string userName = "user";
        // Remove extraction folders of sources that are not among `sources` (only for the
        // current user's own sources, so that reading other folders keeps theirs).
        bool pruneUnknownSources = false;
        SourceReader reader;
        // When set, it reads the sources in place of `reader`, entry by entry, several sources
        // at once where the machine has the cores.
        SourceStreamer streamer;
        // Sources read at once with a streamer; 0 for as many as the machine has cores (up to 4).
        std::size_t readingThreads = 0;
        // Each walk served while its sources are read, by a thread of the walk: memory then
        // grows with the entries the caller keeps, not with the caches. Otherwise a walk
        // reads its group whole first.
        bool streamWalks = false;
        // When set, every walk finds the sources afresh, so that a cache a browser made after
        // the start is read too; `sources` then holds those of the last walk.
        std::function<std::vector<SourceLocation>()> discover;
        // Content whose URL this accepts has its body copied out even when it is no movie (the
        // files a movie loads, for a curated copy of a site); by default only movies are.
        std::function<bool(std::string_view url)> extractAlso;
        // Content that is no multimedia (and not taken by `extractAlso`) is left out of the
        // walks, for callers that keep nothing else: such entries cost no names and no copies.
        bool multimediaOnly = false;
    };

    explicit BrowserCacheLayer(Options options);
    ~BrowserCacheLayer() override;
    BrowserCacheLayer(const BrowserCacheLayer&) = delete;
    BrowserCacheLayer& operator=(const BrowserCacheLayer&) = delete;

    // The layer for the current user: discovered sources, extraction under $XDG_CACHE_HOME.
    static Options currentUserOptions();

    bool libraryAvailable() override { return true; }
    CacheSearchHandle findFirstEntry(const char* pattern, std::uint32_t flags, std::uint32_t filter,
                                     std::int64_t groupId, CacheEntryRecord* entry,
                                     std::uint32_t* size) override;

    bool findNextEntry(CacheSearchHandle handle, CacheEntryRecord* entry,
                       std::uint32_t* size) override;
    bool findClose(CacheSearchHandle handle) override;

    // The report, the source look-ups and the sources below tell of the last walk that ran to
    // its end.
    const LayerReport& report() const { return m_report; }
    // The source a content entry's local file came from, after the last content walk.
    const SourceLocation* sourceOfLocalFile(const std::string& localFile) const;
    // The source a cookie or history entry came from, after the last walk of its group: by its
    // URL and, where several sources hold that URL, which of the entries it is (0, 1, ... in
    // the order the walk served them).
    const SourceLocation* sourceOfRecord(const std::string& url, std::size_t occurrence) const;
    const Options& options() const { return m_options; }

private:
    struct Stream;
    struct SourcePass;
    using EntryTake = std::function<bool(CacheEntrySource&& entry)>;

    void load(WalkGroup group);
    // Reads the sources of the group and hands each entry on. When `take` answers false the
    // reading stops there, and no extraction is pruned.
    void produce(WalkGroup group, const EntryTake& take);
    // Reads one source, or one part of a big one, handing its entries to `take`; false when
    // `take` stopped it. Touches nothing of the layer but the pass and the walk's shared
    // budgets, so that passes can run side by side; passTaken brings them into the layer.
    bool readPass(SourcePass& pass, WalkGroup group, const EntryTake& take);
    // Runs `passes` on several threads at once and hands their entries to `take` pass after
    // pass, in order; false when `take` stopped it.
    bool readSideBySide(const std::vector<SourcePass*>& passes, std::size_t threads,
                        WalkGroup group, const EntryTake& take);
    // Once the walk has handed on the entries of `passes[at]`: when that was the last part of
    // its source, the source's report, look-ups and pruning.
    void passTaken(const std::vector<SourcePass*>& passes, std::size_t at, WalkGroup group);
    void readRecords(const SourceLocation& source, SourcePart part, ReadReport& report,
                     const RecordSink& sink) const;
    std::optional<CacheEntrySource> addContent(SourcePass& pass, CacheRecord& record);
    // Whether the URL and the type of a content entry with a stored body tell it is no
    // multimedia, and no file that `extractAlso` asks for.
    bool plainlyNoMultimedia(const CacheRecord& record) const;
    void startStream(WalkGroup group, const char* pattern, std::uint32_t filter);
    void stopStream();
    // The next entry of the stream's walk, waiting for the reading thread; null at its end.
    CacheEntrySource* nextOfStream();

    Options m_options;
    LayerReport m_report;
    // Local files named by the caches themselves (index.dat), by source; extracted files are
    // told by their folder in m_contentFolders.
    std::unordered_map<std::string, std::size_t> m_sourceOfFile;
    // The sources of the last content walk, which m_sourceOfFile indexes, and the extraction
    // folder of each.
    std::vector<SourceLocation> m_contentSources;
    std::vector<std::string> m_contentFolders;
    // The sources of the cookie and history entries of the last walks of their groups, by URL,
    // in the order the entries were served.
    using SourcesByUrl =
        std::unordered_map<std::string, std::vector<std::shared_ptr<const SourceLocation>>>;
    SourcesByUrl m_sourceOfCookie;
    SourcesByUrl m_sourceOfVisit;
    // Bytes decoded in this scan, and bytes of URLs and headers it holds, against their
    // budgets; shared by the sources read at once.
    std::atomic<std::uint64_t> m_decoded = 0;
    std::atomic<std::uint64_t> m_textHeld = 0;
    std::optional<WalkGroup> m_loaded;
    // Set when a walk ends: the next walk reads its group afresh.
    bool m_stale = true;
    std::unique_ptr<Stream> m_stream;
};

// The content caches the layer reads, for people: "Chromium (Default): <folder>".
std::vector<std::string> contentCachesRead(const BrowserCacheLayer& layer);

} // namespace sarnika::sources
