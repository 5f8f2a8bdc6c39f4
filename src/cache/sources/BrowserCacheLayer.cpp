#include "cache/sources/BrowserCacheLayer.h"

#include <set>
#include <string_view>

#include "cache/CacheAnalyzer.h"
#include "cache/Text.h"
#include "cache/sources/ExtractionStore.h"
#include "cache/sources/HttpHeaders.h"
#include "cache/sources/LocalNames.h"
#include "cache/sources/decode/ContentDecoding.h"

namespace sarnika::sources {
namespace fs = std::filesystem;
namespace {

// Bodies larger than this are not copied out: no Flash movie comes near it.
constexpr std::uint64_t kMaxBodyBytes = 512ULL << 20U;
constexpr std::uint64_t kSniffBytes = 64;

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

CacheEntrySource entryOf(const CacheRecord& record) {
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
        entry.HeaderInfo = record.headers;
        if (entry.LastModifiedTime == 0) {
            entry.LastModifiedTime =
                parseHttpDate(headerValue(record.headers, "Last-Modified")).value_or(0);
        }
        if (entry.ExpireTime == 0) {
            entry.ExpireTime = parseHttpDate(headerValue(record.headers, "Expires")).value_or(0);
        }
    }
    if (!record.fileExtension.empty()) {
        entry.FileExtension = record.fileExtension;
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
        return takesContent(group);
    case K::IndexDat:
        break;
    }
    return true;
}

Result<std::string> decodedBody(const CacheRecord& record) {
    if (!record.body) {
        return makeError(Error::Code::NotFound, record.url + ": no body");
    }
    auto raw = record.body(kMaxBodyBytes);
    if (!raw) {
        return raw.error();
    }
    const std::string encoding = headerValue(record.headers, "Content-Encoding");
    if (encoding.empty()) {
        return raw;
    }
    return decodeContent(raw.value(), encoding, kMaxBodyBytes);
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

BrowserCacheLayer::BrowserCacheLayer(Options options) : m_options(std::move(options)) {}

CacheSearchHandle BrowserCacheLayer::findFirstEntry(const char* pattern, std::uint32_t flags,
                                                    std::uint32_t filter, std::int64_t groupId,
                                                    CacheEntryRecord* entry, std::uint32_t* size) {
    const WalkGroup group = walkGroupOf(pattern);
    // The first call of a walk reads the group afresh; the fetch after the probe does not.
    if (m_stale || m_loaded != group) {
        load(group);
        m_stale = false;
    }
    return ListUrlCache::findFirstEntry(pattern, flags, filter, groupId, entry, size);
}

bool BrowserCacheLayer::findClose(CacheSearchHandle handle) {
    m_stale = true;
    return ListUrlCache::findClose(handle);
}

void BrowserCacheLayer::load(WalkGroup group) {
    const ExtractionStore store(m_options.extractionRoot);
    std::vector<CacheEntrySource> entries;
    std::set<std::string> sourceKeys;
    m_report = LayerReport{};
    if (takesContent(group)) {
        m_sourceOfFile.clear();
    }
    for (std::size_t sourceIndex = 0; sourceIndex < m_options.sources.size(); ++sourceIndex) {
        const SourceLocation& source = m_options.sources[sourceIndex];
        const std::string sourceKey = ExtractionStore::keyOf(source.path.string());
        sourceKeys.insert(sourceKey);
        if (!sourceServes(source.kind, group)) {
            continue;
        }
        ReadReport readReport;
        std::vector<CacheRecord> records = m_options.reader(source, m_options.userName, readReport);
        ++m_report.sourcesRead;
        m_report.entriesSkipped += readReport.skipped;
        const bool failed = records.empty() && readReport.skipped > 0;
        if (failed) {
            ++m_report.sourcesFailed;
        }
        if (readReport.skipped > 0) {
            m_report.problems.push_back(source.path.string() + ": " +
                                        std::to_string(readReport.skipped) + " skipped (" +
                                        readReport.firstProblem + ")");
        }
        std::vector<std::string> keptFolders;
        for (CacheRecord& record : records) {
            if (!belongsTo(record.kind, group)) {
                continue;
            }
            if (record.kind == RecordKind::Content) {
                addContent(sourceIndex, record, entries, keptFolders);
            } else {
                entries.push_back(entryOf(record));
            }
        }
        const bool extracts = source.kind == SourceLocation::Kind::ChromiumCache ||
                              source.kind == SourceLocation::Kind::FirefoxCache;
        if (extracts && !failed && takesContent(group)) {
            store.prune(sourceKey, std::set<std::string>(keptFolders.begin(), keptFolders.end()));
        }
    }
    if (m_options.pruneUnknownSources && takesContent(group)) {
        store.pruneSources(sourceKeys);
    }
    setEntries(std::move(entries));
    m_loaded = group;
}

const SourceLocation* BrowserCacheLayer::sourceOfLocalFile(const std::string& localFile) const {
    const auto found = m_sourceOfFile.find(localFile);
    return found == m_sourceOfFile.end() ? nullptr : &m_options.sources[found->second];
}

void BrowserCacheLayer::addContent(std::size_t sourceIndex, CacheRecord& record,
                                   std::vector<CacheEntrySource>& out,
                                   std::vector<std::string>& keptFolders) {
    const SourceLocation& source = m_options.sources[sourceIndex];
    CacheEntrySource entry = entryOf(record);
    if (!record.localFile.empty() || !record.body) {
        // WinINet caches keep their bodies as real files already.
        if (!record.localFile.empty()) {
            entry.LocalFileName = record.localFile;
            m_sourceOfFile[record.localFile] = sourceIndex;
        }
        out.push_back(std::move(entry));
        return;
    }
    LocalName name = localNameFor(record.url, headerValue(record.headers, "Content-Type"));
    std::optional<std::string> body;
    if (name.extension.empty()) {
        // Neither the type nor the URL tells: look at the body itself.
        if (headerValue(record.headers, "Content-Encoding").empty()) {
            auto head = record.body(kSniffBytes);
            name.extension = head ? extensionOfSignature(head.value()) : std::string();
        } else if (auto decoded = decodedBody(record)) {
            name.extension = extensionOfSignature(decoded.value());
            body = std::move(decoded.value());
        }
    }
    const std::string fileName = fileNameOf(name);
    const std::string entryKey = ExtractionStore::keyOf(record.identity + "\n" + record.url);
    const ExtractionStore store(m_options.extractionRoot);
    const fs::path folder = store.folderFor(ExtractionStore::keyOf(source.path.string()), entryKey);
    const fs::path file = folder / fileName;
    entry.LocalFileName = file.string();
    m_sourceOfFile[file.string()] = sourceIndex;
    if (!name.extension.empty()) {
        entry.FileExtension = name.extension;
    }
    if (TCacheAnalyzer::ClassifyFile(file.string()) != TEntryCategory::ecMultimedia) {
        // Only bodies of the kinds the program lists are copied out.
        out.push_back(std::move(entry));
        return;
    }
    std::error_code error;
    if (fs::is_regular_file(file, error)) {
        ++m_report.reused;
    } else {
        if (!body) {
            auto decoded = decodedBody(record);
            if (!decoded) {
                ++m_report.entriesSkipped;
                m_report.problems.push_back(record.url + ": " + decoded.error().message);
                return;
            }
            body = std::move(decoded.value());
        }
        if (const Status written = store.write(folder, fileName, *body); !written) {
            ++m_report.entriesSkipped;
            m_report.problems.push_back(written.error().message);
            return;
        }
        ++m_report.extracted;
    }
    keptFolders.push_back(entryKey);
    entry.Size = fs::file_size(file, error);
    out.push_back(std::move(entry));
}

} // namespace sarnika::sources
