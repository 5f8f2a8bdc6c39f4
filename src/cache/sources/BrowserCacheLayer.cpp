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

// Takes the texts of the record, which is not used afterwards but for its body.
CacheEntrySource entryOf(CacheRecord& record) {
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
        if (entry.LastModifiedTime == 0) {
            entry.LastModifiedTime =
                parseHttpDate(headerValue(record.headers, "Last-Modified")).value_or(0);
        }
        if (entry.ExpireTime == 0) {
            entry.ExpireTime = parseHttpDate(headerValue(record.headers, "Expires")).value_or(0);
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
        return takesContent(group);
    case K::IndexDat:
        break;
    }
    return true;
}

Result<std::string> decodedBody(const CacheRecord& record, const std::string& encoding) {
    if (!record.body) {
        return makeError(Error::Code::NotFound, record.url + ": no body");
    }
    auto raw = record.body(kMaxBodyBytes);
    if (!raw) {
        return raw.error();
    }
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
    if (m_options.discover) {
        m_options.sources = m_options.discover();
    }
    if (takesContent(group)) {
        m_sourceOfFile.clear();
        m_contentSources = m_options.sources;
    }
    for (std::size_t sourceIndex = 0; sourceIndex < m_options.sources.size(); ++sourceIndex) {
        const SourceLocation& source = m_options.sources[sourceIndex];
        const std::string sourceKey = ExtractionStore::keyOf(source.path.string());
        m_sourceFolder = (m_options.extractionRoot / sourceKey).string() + "/";
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
    return found == m_sourceOfFile.end() ? nullptr : &m_contentSources[found->second];
}

void BrowserCacheLayer::addContent(std::size_t sourceIndex, CacheRecord& record,
                                   std::vector<CacheEntrySource>& out,
                                   std::vector<std::string>& keptFolders) {
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
    const std::string& headers = entry.HeaderInfo ? *entry.HeaderInfo : record.headers;
    LocalName name = localNameFor(record.url, headerValue(headers, "Content-Type"));
    const std::string encoding = headerValue(headers, "Content-Encoding");
    std::optional<std::string> body;
    if (name.extension.empty()) {
        // Neither the type nor the URL tells: look at the body itself.
        if (encoding.empty()) {
            auto head = record.body(kSniffBytes);
            name.extension = head ? extensionOfSignature(head.value()) : std::string();
        } else if (auto decoded = decodedBody(record, encoding)) {
            name.extension = extensionOfSignature(decoded.value());
            body = std::move(decoded.value());
        }
    }
    const std::string fileName = fileNameOf(name);
    const std::string entryKey = ExtractionStore::keyOf(record.identity + "\n" + record.url);
    const std::string folder = m_sourceFolder + entryKey;
    std::string file = folder + "/" + fileName;
    if (!name.extension.empty()) {
        entry.FileExtension = name.extension;
    }
    entry.LocalFileName = file;
    if (TCacheAnalyzer::ClassifyFile(fileName) != TEntryCategory::ecMultimedia) {
        // Only bodies of the kinds the program lists are copied out.
        out.push_back(std::move(entry));
        return;
    }
    std::error_code error;
    if (fs::is_regular_file(file, error)) {
        ++m_report.reused;
    } else {
        if (!body) {
            auto decoded = decodedBody(record, encoding);
            if (!decoded) {
                ++m_report.entriesSkipped;
                m_report.problems.push_back(record.url + ": " + decoded.error().message);
                return;
            }
            body = std::move(decoded.value());
        }
        const ExtractionStore store(m_options.extractionRoot);
        if (const Status written = store.write(folder, fileName, *body); !written) {
            ++m_report.entriesSkipped;
            m_report.problems.push_back(written.error().message);
            return;
        }
        ++m_report.extracted;
    }
    keptFolders.push_back(entryKey);
    m_sourceOfFile[file] = sourceIndex;
    entry.Size = fs::file_size(file, error);
    out.push_back(std::move(entry));
}

} // namespace sarnika::sources
