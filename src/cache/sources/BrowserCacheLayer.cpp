#include "cache/sources/BrowserCacheLayer.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <utility>

#include "base/Text.h"
#include "cache/CacheAnalyzer.h"
#include "cache/sources/ExtractionStore.h"
#include "cache/sources/HttpHeaders.h"
#include "cache/sources/LocalNames.h"
#include "cache/sources/decode/ContentDecoding.h"

namespace sarnika::sources {
namespace fs = std::filesystem;
namespace {

// Stored bodies are read whole, so larger ones are not copied out: no Flash movie comes near.
constexpr std::uint64_t kMaxBodyBytes = 128ULL << 20U;
// Limits of decoding, which can turn a few KiB into GiBs. A Flash movie stops at the length its
// header declares (plus room for its own compression); other bodies at 32 times what is stored
// plus 1 MiB; none beyond 512 MiB; and one scan writes at most 1 GiB of decoded bodies.
constexpr std::uint64_t kMaxDecodedBytes = 512ULL << 20U;
constexpr std::uint64_t kMaxDecodeRatio = 32;
constexpr std::uint64_t kDecodeAllowance = 1ULL << 20U;
constexpr std::uint64_t kScanDecodeBudget = 1ULL << 30U;
constexpr std::uint64_t kSniffBytes = 64;
// URLs and headers that one walk holds, over all sources (each source has its own budget too).
constexpr std::uint64_t kWalkTextBudget = 64ULL << 20U;
// Entries that the reading thread of a walk may have ready before they are fetched, and how
// many it hands over at a time (one hand-over per entry costs more than reading it).
constexpr std::size_t kStreamAhead = 1024;
constexpr std::size_t kStreamBatch = 256;
// Sources read at once, and the entries of a source that wait for the walk to come to it.
constexpr std::size_t kMaxReadingThreads = 4;
constexpr std::size_t kLaneAhead = 4096;

std::uint64_t textOf(const CacheRecord& record) {
    return record.url.size() + record.headers.size() + record.localFile.size();
}

// A WinINet cache's own file: absent (as stale entries are), or a regular file that is no link
// in a folder that is no link either. Anything else could stand in for a private file or a
// device, which saving would then copy out.
bool isPlainCacheFile(const fs::path& file) {
    std::error_code error;
    const fs::file_status own = fs::symlink_status(file, error);
    if (own.type() == fs::file_type::not_found) {
        return true;
    }
    const fs::file_status folder = fs::symlink_status(file.parent_path(), error);
    return !error && fs::is_regular_file(own) && fs::is_directory(folder);
}

std::uint32_t typeBitsOf(RecordKind kind) {
    switch (kind) {
    case RecordKind::Cookie:
        return CacheEntryBits::Cookie;
    case RecordKind::History:
        return CacheEntryBits::UrlHistory;
    case RecordKind::Content:
        break;
    }
    return CacheEntryBits::Normal;
}

// The headers a content entry is named and decoded by.
struct ContentHeaders {
    std::string type;
    std::string encoding;
};

// Takes the texts of the record, which is not used afterwards but for its body; the headers are
// looked through once, for `content` too when it is given.
CacheEntrySource entryOf(CacheRecord& record, ContentHeaders* content = nullptr) {
    CacheEntrySource entry;
    entry.SourceUrlName = record.url;
    entry.CacheEntryType = typeBitsOf(record.kind);
    entry.UseCount = record.useCount;
    entry.HitRate = record.hitRate;
    entry.Size = record.size;
    entry.LastModifiedTime = record.lastModified;
    entry.ExpireTime = record.expires;
    entry.LastAccessTime = record.lastAccess;
    entry.LastSyncTime = record.lastSync;
    entry.ExemptDelta = record.exemptDelta;
    if (!record.headers.empty()) {
        std::vector<std::string> values = headerValues(
            record.headers, {"Last-Modified", "Expires", "Content-Type", "Content-Encoding"});
        if (entry.LastModifiedTime == 0) {
            entry.LastModifiedTime = parseHttpDate(values[0]).value_or(0);
        }
        if (entry.ExpireTime == 0) {
            entry.ExpireTime = parseHttpDate(values[1]).value_or(0);
        }
        if (content != nullptr) {
            content->type = std::move(values[2]);
            content->encoding = std::move(values[3]);
        }
        entry.HeaderInfo = std::move(record.headers);
    }
    if (!record.fileExtension.empty()) {
        entry.FileExtension = std::move(record.fileExtension);
    }
    return entry;
}

bool belongsTo(RecordKind kind, WalkGroup group) {
    switch (group) {
    case WalkGroup::Cookies:
        return kind == RecordKind::Cookie;
    case WalkGroup::History:
        return kind == RecordKind::History;
    case WalkGroup::Content:
        return kind == RecordKind::Content;
    case WalkGroup::All:
        break;
    }
    return true;
}

bool takesContent(WalkGroup group) {
    return group == WalkGroup::Content || group == WalkGroup::All;
}

// Whether a source can hold entries of the group; index.dat files hold every kind.
bool sourceServes(SourceLocation::Kind kind, WalkGroup group) {
    using K = SourceLocation::Kind;
    switch (kind) {
    case K::ChromiumCookies:
    case K::FirefoxCookies:
        return group == WalkGroup::All || group == WalkGroup::Cookies;
    case K::ChromiumHistory:
    case K::FirefoxHistory:
        return group == WalkGroup::All || group == WalkGroup::History;
    case K::ChromiumCache:
    case K::FirefoxCache:
    case K::FirefoxOldCache:
    case K::OperaCache:
    case K::IeContentFolders:
    case K::SafariCache:
        return takesContent(group);
    case K::IndexDat:
    case K::WebCache:
        break;
    }
    return true;
}

Result<std::string> storedBody(const CacheRecord& record) {
    if (!record.body) {
        return makeError(Error::Code::NotFound, record.url + ": no body");
    }
    if (record.size > kMaxBodyBytes) {
        return makeError(Error::Code::TooLarge, record.url + ": body larger than 128 MiB");
    }
    return record.body(kMaxBodyBytes);
}

// The length a Flash movie's header declares, from its first 8 bytes.
std::optional<std::uint64_t> declaredSwfLength(std::string_view head) {
    if (head.size() < 8 || head.substr(1, 2) != "WS" ||
        (head[0] != 'F' && head[0] != 'C' && head[0] != 'Z')) {
        return std::nullopt;
    }
    std::uint64_t length = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        length |= std::uint64_t{static_cast<unsigned char>(head[4 + i])} << (8U * i);
    }
    return length;
}

// Hands decoded bytes on while they stay within the limits of one body and of the scan.
class DecodeLimit {
public:
    DecodeLimit(std::uint64_t stored, std::uint64_t scanRoom)
        : m_stored(stored), m_scanRoom(scanRoom) {}

    Status pass(std::string_view piece, const extraction::ByteWriter& next) {
        if (m_head.size() < 8) {
            m_head.append(piece.substr(0, 8 - m_head.size()));
            if (m_head.size() == 8) {
                setLimit();
            }
        }
        m_written += piece.size();
        if (m_written > std::min(m_limit, m_scanRoom)) {
            return refusal();
        }
        return next(piece);
    }
    std::uint64_t written() const { return m_written; }

private:
    void setLimit() {
        if (const auto declared = declaredSwfLength(m_head)) {
            m_declared = *declared;
            m_limit = std::min(kMaxDecodedBytes, *declared + *declared / 64 + 4096);
        } else {
            m_limit = std::min(kMaxDecodedBytes, m_stored * kMaxDecodeRatio + kDecodeAllowance);
        }
    }

    Error refusal() const {
        std::string why;
        if (m_written > m_scanRoom) {
            why = "this scan has decoded 1 GiB already";
        } else if (m_declared) {
            why = "it decodes to more than the " + std::to_string(*m_declared) +
                  " bytes its Flash header declares";
        } else {
            why = std::to_string(m_stored) + " stored bytes decode to more than " +
                  std::to_string(m_limit);
        }
        return makeError(Error::Code::TooLarge, "refused to decode: " + why);
    }

    std::uint64_t m_stored;
    std::uint64_t m_scanRoom;
    std::uint64_t m_limit = kMaxDecodedBytes;
    std::uint64_t m_written = 0;
    std::optional<std::uint64_t> m_declared;
    std::string m_head;
};

// The encoding of a body whose headers are lost: gzip shows by its first bytes, which no movie,
// picture or page starts with. Other encodings cannot be told and are served as stored.
std::string encodingOfBare(const CacheRecord& record) {
    const auto head = record.body ? record.body(2) : Result<std::string>(std::string());
    return head && *head == "\x1F\x8B" ? "gzip" : "";
}

// The first bytes of a decoded body, for its signature; decoding stops once they are there.
Result<std::string> decodedHead(std::string_view raw, const std::string& encoding) {
    std::string head;
    const Status decoded = decodeContentTo(raw, encoding, [&head](std::string_view piece) {
        head.append(piece.substr(0, kSniffBytes - head.size()));
        return head.size() < kSniffBytes ? Status()
                                         : Status(makeError(Error::Code::Cancelled, "enough"));
    });
    if (!decoded && decoded.error().code != Error::Code::Cancelled) {
        return decoded.error();
    }
    return head;
}

} // namespace

WalkGroup walkGroupOf(const char* pattern) {
    if (pattern == nullptr) {
        return WalkGroup::All;
    }
    const std::string lower = lowerCaseAscii(pattern);
    if (lower.empty()) {
        return WalkGroup::Content;
    }
    if (lower.rfind("cookie:", 0) == 0) {
        return WalkGroup::Cookies;
    }
    if (lower.rfind("visited:", 0) == 0) {
        return WalkGroup::History;
    }
    return WalkGroup::All;
}

// A walk served while its sources are read: a thread reads them and queues the entries, the
// fetches take them from the queue. Only the thread touches the layer's state until it ends;
// the walk waits for that end before it reports its own.
struct BrowserCacheLayer::Stream {
    Stream(WalkGroup group, const char* pattern, std::uint32_t filter)
        : m_group(group), m_nullPattern(pattern == nullptr),
          m_pattern(pattern != nullptr ? pattern : ""), m_filter(filter) {}
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    Stream(Stream&&) = delete;
    Stream& operator=(Stream&&) = delete;
    ~Stream() { stop(); }

    void start(BrowserCacheLayer& layer) {
        m_thread = std::thread([this, &layer] {
            std::exception_ptr failure;
            try {
                layer.produce(m_group, [this](CacheEntrySource&& entry) { return push(entry); });
                handOver();
            } catch (...) {
                // The walk fails as a walk that reads its group whole does: in the caller.
                failure = std::current_exception();
            }
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_failure = failure;
            m_finished = true;
            m_changed.notify_all();
        });
    }

    // Whether a walk with these arguments may take this one over: the probe's fetch may.
    bool canStart(const char* pattern, std::uint32_t filter) const {
        return !m_closed && !m_started && m_nullPattern == (pattern == nullptr) &&
               (pattern == nullptr || m_pattern == pattern) && m_filter == filter;
    }
    bool closed() const { return m_closed; }
    void close() {
        m_closed = true;
        stop();
    }

    // The next entry that matches the walk; null once the sources are read to their end.
    CacheEntrySource* next() {
        for (;;) {
            const char* pattern = m_nullPattern ? nullptr : m_pattern.c_str();
            while (!m_ready.empty() && !entryMatchesWalk(m_ready.front(), pattern, m_filter)) {
                m_ready.pop_front();
            }
            if (!m_ready.empty()) {
                return &m_ready.front();
            }
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_queue.empty() || m_finished; });
            if (m_queue.empty()) {
                lock.unlock();
                // Joined before the end is told: the layer's report is whole by then.
                if (m_thread.joinable()) {
                    m_thread.join();
                }
                if (m_failure) {
                    std::rethrow_exception(std::exchange(m_failure, nullptr));
                }
                return nullptr;
            }
            m_ready.swap(m_queue);
            m_changed.notify_all();
        }
    }
    void pop() {
        m_started = true;
        m_ready.pop_front();
    }

private:
    // On the reading thread: entries go over in batches.
    bool push(CacheEntrySource& entry) {
        m_batch.push_back(std::move(entry));
        return m_batch.size() < kStreamBatch || handOver();
    }
    bool handOver() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_queue.size() < kStreamAhead || m_cancelled; });
        if (m_cancelled) {
            return false;
        }
        const bool wasEmpty = m_queue.empty();
        std::move(m_batch.begin(), m_batch.end(), std::back_inserter(m_queue));
        m_batch.clear();
        if (wasEmpty) {
            m_changed.notify_all();
        }
        return true;
    }
    void stop() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_cancelled = true;
            m_changed.notify_all();
        }
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    WalkGroup m_group;
    bool m_nullPattern;
    std::string m_pattern;
    std::uint32_t m_filter;
    bool m_started = false; // an entry was fetched
    bool m_closed = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<CacheEntrySource> m_queue;  // handed over, under m_mutex
    std::deque<CacheEntrySource> m_ready;  // taken by the fetches
    std::vector<CacheEntrySource> m_batch; // read, not yet handed over
    bool m_finished = false;
    std::exception_ptr m_failure; // what stopped the reading, for the walking thread
    bool m_cancelled = false;
    std::thread m_thread;
};

BrowserCacheLayer::BrowserCacheLayer(Options options) : m_options(std::move(options)) {}

BrowserCacheLayer::~BrowserCacheLayer() {
    stopStream();
}

BrowserCacheLayer::Options BrowserCacheLayer::currentUserOptions() {
    const UserEnvironment environment = UserEnvironment::current();
    Options options;
    options.sources = discoverSources(environment);
    options.extractionRoot = environment.cacheHome / "sarnika" / "extracted";
    options.userName = environment.userName;
    options.pruneUnknownSources = true;
    options.reader = readSource;
    options.streamer = streamSource;
    options.streamWalks = true;
    options.discover = [environment] {
        return discoverSources(environment);
    };
    return options;
}

CacheSearchHandle BrowserCacheLayer::findFirstEntry(const char* pattern, std::uint32_t flags,
                                                    std::uint32_t filter, std::int64_t groupId,
                                                    CacheEntryRecord* entry, std::uint32_t* size) {
    if (m_options.streamWalks) {
        if (size == nullptr) {
            setLastError(CacheError::InsufficientBuffer);
            return nullptr;
        }
        // The probe starts the walk; the fetch after it takes the same walk over.
        if (!m_stream || !m_stream->canStart(pattern, filter)) {
            stopStream();
            startStream(walkGroupOf(pattern), pattern, filter);
        }
        CacheEntrySource* next = nextOfStream();
        if (next == nullptr) {
            setLastError(CacheError::NoMoreItems);
            return nullptr;
        }
        if (!deliver(*next, entry, size)) {
            return nullptr;
        }
        m_stream->pop();
        return m_stream.get();
    }
    const WalkGroup group = walkGroupOf(pattern);
    // The first call of a walk reads the group afresh; the fetch after the probe does not.
    if (m_stale || m_loaded != group) {
        load(group);
        m_stale = false;
    }
    return ListUrlCache::findFirstEntry(pattern, flags, filter, groupId, entry, size);
}

bool BrowserCacheLayer::findNextEntry(CacheSearchHandle handle, CacheEntryRecord* entry,
                                      std::uint32_t* size) {
    if (!m_options.streamWalks) {
        return ListUrlCache::findNextEntry(handle, entry, size);
    }
    if (handle == nullptr || handle != m_stream.get() || m_stream->closed() || size == nullptr) {
        setLastError(CacheError::InvalidHandle);
        return false;
    }
    CacheEntrySource* next = nextOfStream();
    if (next == nullptr) {
        setLastError(CacheError::NoMoreItems);
        return false;
    }
    if (!deliver(*next, entry, size)) {
        return false;
    }
    m_stream->pop();
    return true;
}

bool BrowserCacheLayer::findClose(CacheSearchHandle handle) {
    m_stale = true;
    if (!m_options.streamWalks) {
        return ListUrlCache::findClose(handle);
    }
    const bool known = handle != nullptr && handle == m_stream.get() && !m_stream->closed();
    // Any close ends the walk in hand, as in the mode above: the next walk reads afresh.
    if (m_stream) {
        m_stream->close();
    }
    setLastError(known ? CacheError::Success : CacheError::InvalidHandle);
    return known;
}

void BrowserCacheLayer::load(WalkGroup group) {
    std::vector<CacheEntrySource> entries;
    produce(group, [&entries](CacheEntrySource&& entry) {
        entries.push_back(std::move(entry));
        return true;
    });
    setEntries(std::move(entries));
    m_loaded = group;
}

void BrowserCacheLayer::readRecords(const SourceLocation& source, SourcePart part,
                                    ReadReport& report, const RecordSink& sink) const {
    if (m_options.streamer) {
        m_options.streamer(source, m_options.userName, part, report, sink);
        return;
    }
    for (CacheRecord& record : m_options.reader(source, m_options.userName, report)) {
        if (!sink(record)) {
            return;
        }
    }
}

// What reading one source, or one part of a big one, gave: counted and listed here while it is
// read, taken into the layer once the walk has handed on all the entries of the source.
struct BrowserCacheLayer::SourcePass {
    std::size_t index = 0;
    const SourceLocation* source = nullptr;
    SourcePart part;
    std::string key;    // of the source's extraction folder
    std::string folder; // the source's extraction folder, with a trailing separator
    LayerReport report; // what its entries add to the layer's report
    ReadReport read;    // what the reader told
    std::size_t seen = 0;
    std::size_t refused = 0;
    std::size_t overBudget = 0;
    bool partlyRead = false;
    std::string failure;                  // why reading it stopped, when it failed as a whole
    std::vector<std::string> files;       // local files its entries name (index.dat)
    std::vector<std::string> cookies;     // URLs, in the order they were handed on
    std::vector<std::string> visits;      // the same
    std::vector<std::string> keptFolders; // extraction folders of its current entries
};

void BrowserCacheLayer::produce(WalkGroup group, const EntryTake& take) {
    m_report = LayerReport{};
    m_decoded = 0;
    m_textHeld = 0;
    if (m_options.discover) {
        m_options.sources = m_options.discover();
    }
    if (takesContent(group)) {
        m_sourceOfFile.clear();
        m_contentSources = m_options.sources;
        m_contentFolders.clear();
    }
    if (group == WalkGroup::All || group == WalkGroup::Cookies) {
        m_sourceOfCookie.clear();
    }
    if (group == WalkGroup::All || group == WalkGroup::History) {
        m_sourceOfVisit.clear();
    }
    // Sources are read side by side where there are cores for it, and big caches in parts when
    // there are fewer of them than cores: part after part, their entries come in the order the
    // cache's own reader gives them. (A source read on a thread of its own ahead of the work on
    // its entries took more processor time and was no quicker than reading and looking at each
    // entry in turn.)
    const std::size_t cores =
        m_options.readingThreads != 0
            ? m_options.readingThreads
            : std::min<std::size_t>(std::max(1U, std::thread::hardware_concurrency()),
                                    kMaxReadingThreads);
    std::size_t big = 0;
    for (const SourceLocation& source : m_options.sources) {
        big += sourceServes(source.kind, group) && readInParts(source.kind) ? 1 : 0;
    }
    const std::size_t parts = m_options.streamer && big > 0 && big < cores ? cores : 1;
    std::set<std::string> sourceKeys;
    std::deque<SourcePass> passes;
    for (std::size_t index = 0; index < m_options.sources.size(); ++index) {
        const SourceLocation& source = m_options.sources[index];
        const std::string key = ExtractionStore::keyOf(source.path.string());
        const std::string folder = (m_options.extractionRoot / key).string() + "/";
        sourceKeys.insert(key);
        if (takesContent(group)) {
            m_contentFolders.push_back(folder);
        }
        if (!sourceServes(source.kind, group)) {
            continue;
        }
        const std::size_t count = readInParts(source.kind) ? parts : 1;
        for (std::size_t part = 0; part < count; ++part) {
            SourcePass& pass = passes.emplace_back();
            pass.index = index;
            pass.source = &source;
            pass.part = {part, count};
            pass.key = key;
            pass.folder = folder;
        }
    }
    std::vector<SourcePass*> order;
    order.reserve(passes.size());
    for (SourcePass& pass : passes) {
        order.push_back(&pass);
    }
    const std::size_t threads = std::min(cores, order.size());
    bool whole = true;
    if (m_options.streamer && threads >= 2) {
        whole = readSideBySide(order, threads, group, take);
    } else {
        for (std::size_t at = 0; at < order.size() && whole; ++at) {
            whole = readPass(*order[at], group, take);
            if (whole) {
                passTaken(order, at, group);
            }
        }
    }
    if (m_options.pruneUnknownSources && takesContent(group) && whole) {
        ExtractionStore(m_options.extractionRoot).pruneSources(sourceKeys);
    }
}

bool BrowserCacheLayer::readPass(SourcePass& pass, WalkGroup group, const EntryTake& take) {
    bool stopped = false;
    const RecordSink handle = [&](CacheRecord& record) {
        ++pass.seen;
        if (!belongsTo(record.kind, group)) {
            return true;
        }
        const std::uint64_t text = textOf(record);
        if (m_textHeld.fetch_add(text) + text > kWalkTextBudget) {
            m_textHeld -= text;
            ++pass.overBudget;
            return true;
        }
        std::optional<CacheEntrySource> entry;
        if (record.kind != RecordKind::Content) {
            (record.kind == RecordKind::Cookie ? pass.cookies : pass.visits).push_back(record.url);
            entry = entryOf(record);
        } else if (breaksMovieQuery(record.url) || breaksMovieQuery(record.localFile)) {
            // The movie query hands on URL and file name as lines of text.
            ++pass.refused;
            return true;
        } else {
            try {
                entry = addContent(pass, record);
            } catch (const std::exception& failure) {
                pass.partlyRead = true;
                ++pass.report.entriesSkipped;
                pass.report.problems.push_back(record.url + ": " + failure.what());
            }
        }
        if (entry && !take(std::move(*entry))) {
            stopped = true;
            return false;
        }
        return true;
    };
    try {
        readRecords(*pass.source, pass.part, pass.read, handle);
    } catch (const std::exception& failure) {
        // One source that cannot be read never keeps the others from the list.
        pass.partlyRead = true;
        pass.failure = failure.what();
    }
    return !stopped;
}

void BrowserCacheLayer::passTaken(const std::vector<SourcePass*>& passes, std::size_t at,
                                  WalkGroup group) {
    if (at + 1 < passes.size() && passes[at + 1]->index == passes[at]->index) {
        return; // more parts of the source to come
    }
    std::size_t first = at;
    while (first > 0 && passes[first - 1]->index == passes[at]->index) {
        --first;
    }
    const SourceLocation& source = *passes[at]->source;
    ReadReport read;
    std::size_t seen = 0;
    std::size_t refused = 0;
    std::size_t overBudget = 0;
    bool partlyRead = false;
    LayerReport report;
    std::vector<std::string> keptFolders;
    std::string failure;
    for (std::size_t part = first; part <= at; ++part) {
        SourcePass& pass = *passes[part];
        if (read.skipped == 0) {
            read.firstProblem = std::move(pass.read.firstProblem);
        }
        read.skipped += pass.read.skipped;
        read.budgetSpent = read.budgetSpent || pass.read.budgetSpent;
        seen += pass.seen;
        refused += pass.refused;
        overBudget += pass.overBudget;
        partlyRead = partlyRead || pass.partlyRead;
        if (failure.empty()) {
            failure = std::move(pass.failure);
        }
        report.entriesSkipped += pass.report.entriesSkipped;
        report.extracted += pass.report.extracted;
        report.reused += pass.report.reused;
        std::move(pass.report.problems.begin(), pass.report.problems.end(),
                  std::back_inserter(report.problems));
        std::move(pass.keptFolders.begin(), pass.keptFolders.end(),
                  std::back_inserter(keptFolders));
        for (std::string& file : pass.files) {
            m_sourceOfFile[std::move(file)] = pass.index;
        }
        if (!pass.cookies.empty() || !pass.visits.empty()) {
            const auto shared = std::make_shared<const SourceLocation>(source);
            for (std::string& url : pass.cookies) {
                m_sourceOfCookie[std::move(url)].push_back(shared);
            }
            for (std::string& url : pass.visits) {
                m_sourceOfVisit[std::move(url)].push_back(shared);
            }
        }
    }
    if (!failure.empty()) {
        read.skip("cannot be read: " + failure);
    }
    // Extractions of entries that were not looked at must stay.
    partlyRead = partlyRead || read.budgetSpent;
    ++report.sourcesRead;
    report.entriesSkipped += read.skipped;
    const bool failed = seen == 0 && read.skipped > 0;
    if (failed) {
        ++report.sourcesFailed;
    }
    // The source's own line goes before the problems of its entries.
    if (read.skipped > 0) {
        report.problems.insert(report.problems.begin(), source.path.string() + ": " +
                                                            std::to_string(read.skipped) +
                                                            " skipped (" + read.firstProblem + ")");
    }
    if (overBudget > 0) {
        partlyRead = true;
        report.entriesSkipped += overBudget;
        report.problems.push_back(source.path.string() + ": " + std::to_string(overBudget) +
                                  " entries left out: the caches hold more than 64 MiB of "
                                  "URLs and headers");
    }
    if (refused > 0) {
        report.entriesSkipped += refused;
        report.problems.push_back(source.path.string() + ": " + std::to_string(refused) +
                                  " entries left out for a line break or NUL in their "
                                  "URL or file name");
    }
    const bool extracts = source.kind != SourceLocation::Kind::IndexDat;
    if (extracts && !failed && !partlyRead && takesContent(group)) {
        ExtractionStore(m_options.extractionRoot)
            .prune(passes[at]->key, std::set<std::string>(keptFolders.begin(), keptFolders.end()));
    }
    m_report.sourcesRead += report.sourcesRead;
    m_report.sourcesFailed += report.sourcesFailed;
    m_report.entriesSkipped += report.entriesSkipped;
    m_report.extracted += report.extracted;
    m_report.reused += report.reused;
    std::move(report.problems.begin(), report.problems.end(),
              std::back_inserter(m_report.problems));
}

bool BrowserCacheLayer::readSideBySide(const std::vector<SourcePass*>& passes, std::size_t threads,
                                       WalkGroup group, const EntryTake& take) {
    // Each source's entries wait in a lane of their own until the walk comes to that source;
    // a lane holds a bounded number, so a walk that keeps every entry still reads ahead only
    // so far.
    struct Lane {
        std::deque<CacheEntrySource> entries;
        bool done = false;
        std::exception_ptr failure;
    };
    std::vector<Lane> lanes(passes.size());
    std::mutex mutex;
    std::condition_variable changed;
    bool cancelled = false;
    std::atomic<std::size_t> nextPass = 0;
    const auto work = [&] {
        for (std::size_t at = nextPass++; at < passes.size(); at = nextPass++) {
            Lane& lane = lanes[at];
            std::vector<CacheEntrySource> batch;
            const auto handOver = [&] {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return lane.entries.size() < kLaneAhead || cancelled; });
                if (cancelled) {
                    return false;
                }
                std::move(batch.begin(), batch.end(), std::back_inserter(lane.entries));
                batch.clear();
                changed.notify_all();
                return true;
            };
            try {
                const bool whole = readPass(*passes[at], group, [&](CacheEntrySource&& entry) {
                    batch.push_back(std::move(entry));
                    return batch.size() < kStreamBatch || handOver();
                });
                if (whole && !batch.empty()) {
                    handOver();
                }
            } catch (...) {
                lane.failure = std::current_exception();
            }
            const std::lock_guard<std::mutex> lock(mutex);
            lane.done = true;
            changed.notify_all();
            if (cancelled) {
                return;
            }
        }
    };
    std::vector<std::thread> readers;
    readers.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i) {
        readers.emplace_back(work);
    }
    bool whole = true;
    std::exception_ptr failure;
    try {
        for (std::size_t at = 0; at < passes.size() && whole && !failure; ++at) {
            Lane& lane = lanes[at];
            for (;;) {
                std::deque<CacheEntrySource> ready;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    changed.wait(lock, [&] { return !lane.entries.empty() || lane.done; });
                    if (lane.entries.empty()) {
                        failure = lane.failure;
                        break;
                    }
                    ready.swap(lane.entries);
                    changed.notify_all();
                }
                for (CacheEntrySource& entry : ready) {
                    if (!take(std::move(entry))) {
                        whole = false;
                        break;
                    }
                }
                if (!whole) {
                    break;
                }
            }
            if (whole && !failure) {
                passTaken(passes, at, group);
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        cancelled = true;
        changed.notify_all();
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    return whole;
}

void BrowserCacheLayer::startStream(WalkGroup group, const char* pattern, std::uint32_t filter) {
    m_stream = std::make_unique<Stream>(group, pattern, filter);
    m_stream->start(*this);
}

void BrowserCacheLayer::stopStream() {
    m_stream.reset();
}

CacheEntrySource* BrowserCacheLayer::nextOfStream() {
    return m_stream->next();
}

const SourceLocation* BrowserCacheLayer::sourceOfLocalFile(const std::string& localFile) const {
    if (const auto found = m_sourceOfFile.find(localFile); found != m_sourceOfFile.end()) {
        return &m_contentSources[found->second];
    }
    // Files of ours, extracted or named for the entry, lie in the folder of their source.
    for (std::size_t index = 0; index < m_contentFolders.size(); ++index) {
        if (localFile.rfind(m_contentFolders[index], 0) == 0) {
            return &m_contentSources[index];
        }
    }
    return nullptr;
}

const SourceLocation* BrowserCacheLayer::sourceOfRecord(const std::string& url,
                                                        std::size_t occurrence) const {
    for (const SourcesByUrl* sources : {&m_sourceOfCookie, &m_sourceOfVisit}) {
        if (const auto found = sources->find(url);
            found != sources->end() && occurrence < found->second.size()) {
            return found->second[occurrence].get();
        }
    }
    return nullptr;
}

bool BrowserCacheLayer::plainlyNoMultimedia(const CacheRecord& record) const {
    if (!record.localFile.empty() || !record.body || record.headers.empty()) {
        return false;
    }
    const LocalName name = localNameFor(record.url, headerValue(record.headers, "Content-Type"));
    // Without an extension the body's own bytes tell, which only the whole look reads.
    return !name.extension.empty() &&
           TCacheAnalyzer::ClassifyFile(fileNameOf(name)) != TEntryCategory::ecMultimedia &&
           !(m_options.extractAlso && m_options.extractAlso(record.url));
}

std::optional<CacheEntrySource> BrowserCacheLayer::addContent(SourcePass& pass,
                                                              CacheRecord& record) {
    // A movies-only walk drops what its URL and type tell is no multimedia before anything is
    // made of it: most of a cache.
    if (m_options.multimediaOnly && plainlyNoMultimedia(record)) {
        return std::nullopt;
    }
    ContentHeaders content;
    CacheEntrySource entry = entryOf(record, &content);
    if (!record.localFile.empty() || !record.body) {
        // WinINet caches keep their bodies as real files already: offered as they are, so only
        // a regular file in a real folder of the cache (no link, device or fifo) will do.
        if (!record.localFile.empty() && !isPlainCacheFile(record.localFile)) {
            ++pass.report.entriesSkipped;
            pass.report.problems.push_back(
                record.localFile + ": refused, not a regular file in the cache's own folder");
            return std::nullopt;
        }
        if (!record.localFile.empty()) {
            pass.files.push_back(record.localFile);
            entry.LocalFileName = std::move(record.localFile);
        }
        return entry;
    }
    LocalName name = localNameFor(record.url, content.type);
    std::string encoding = std::move(content.encoding);
    // Without headers the body itself tells, read only where the encoding matters.
    bool encodingKnown = entry.HeaderInfo.has_value();
    const auto learnEncoding = [&] {
        if (!encodingKnown) {
            encoding = encodingOfBare(record);
            encodingKnown = true;
        }
    };
    std::optional<std::string> raw;
    if (name.extension.empty()) {
        learnEncoding();
        // Neither the type nor the URL tells: look at the body itself.
        if (encoding.empty()) {
            auto head = record.body(kSniffBytes);
            name.extension = head ? extensionOfSignature(head.value()) : std::string();
        } else if (auto stored = storedBody(record)) {
            auto head = decodedHead(stored.value(), encoding);
            name.extension = head ? extensionOfSignature(head.value()) : std::string();
            raw = std::move(stored.value());
        }
    }
    const std::string fileName = fileNameOf(name);
    const bool extractedKind =
        TCacheAnalyzer::ClassifyFile(fileName) == TEntryCategory::ecMultimedia ||
        (m_options.extractAlso && m_options.extractAlso(record.url));
    if (!extractedKind && m_options.multimediaOnly) {
        return std::nullopt;
    }
    const std::string entryKey = ExtractionStore::keyOf({record.identity, "\n", record.url});
    const std::string folder = pass.folder + entryKey;
    std::string file = folder + "/" + fileName;
    if (!name.extension.empty()) {
        entry.FileExtension = name.extension;
    }
    entry.LocalFileName = file;
    if (!extractedKind) {
        // Only bodies of the kinds the program lists are copied out.
        return entry;
    }
    const ExtractionStore store(m_options.extractionRoot);
    // Only a regular file of ours counts: a link planted in our folder names nothing.
    std::optional<std::uint64_t> size = store.existingFile(pass.key, entryKey, fileName);
    if (size) {
        ++pass.report.reused;
    } else {
        learnEncoding();
        if (!raw) {
            auto stored = storedBody(record);
            if (!stored) {
                ++pass.report.entriesSkipped;
                pass.report.problems.push_back(record.url + ": " + stored.error().message);
                return std::nullopt;
            }
            raw = std::move(stored.value());
        }
        const std::uint64_t decoded = m_decoded;
        DecodeLimit limit(raw->size(), kScanDecodeBudget - std::min(kScanDecodeBudget, decoded));
        const Status written =
            store.write(pass.key, entryKey, fileName, [&](const extraction::ByteWriter& write) {
                if (encoding.empty()) {
                    return write(*raw);
                }
                // Decoded as a stream straight into the file, within the limits.
                return decodeContentTo(*raw, encoding, [&](std::string_view piece) {
                    return limit.pass(piece, write);
                });
            });
        if (!encoding.empty()) {
            m_decoded += limit.written();
        }
        if (!written) {
            ++pass.report.entriesSkipped;
            pass.report.problems.push_back(record.url + ": " + written.error().message);
            return std::nullopt;
        }
        ++pass.report.extracted;
        size = store.existingFile(pass.key, entryKey, fileName);
    }
    pass.keptFolders.push_back(entryKey);
    entry.Size = size.value_or(0);
    return entry;
}

std::vector<std::string> contentCachesRead(const BrowserCacheLayer& layer) {
    std::vector<std::string> read;
    for (const SourceLocation& source : layer.options().sources) {
        if (!holdsContent(source.kind)) {
            continue;
        }
        const SourceDescription description = describeSource(source);
        read.push_back(description.family +
                       (description.profile.empty() ? "" : " (" + description.profile + ")") +
                       ": " + description.folder);
    }
    return read;
}

} // namespace sarnika::sources
