#include "cache/sources/opera/OperaCache.h"

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <system_error>

#include "base/Text.h"
#include "cache/sources/ByteReader.h"
#include "cache/sources/FileAccess.h"
#include "cache/sources/HttpHeaders.h"

namespace sarnika::sources {
namespace {

constexpr std::size_t kIndexHeaderSize = 12;
constexpr std::uint32_t kIndexFileMajorVersion = 1;

// Tags of the index. Top level: entries; everything else there is bookkeeping.
constexpr std::uint32_t kEntryTag = 0x01;
// Fields of an entry, or of the HTTP record inside it.
constexpr std::uint32_t kUrlTag = 0x03;
constexpr std::uint32_t kLastVisitedTag = 0x04;
constexpr std::uint32_t kLoadedTag = 0x05;
constexpr std::uint32_t kLoadStatusTag = 0x07;
constexpr std::uint32_t kSizeTag = 0x08;
constexpr std::uint32_t kContentTypeTag = 0x09;
constexpr std::uint32_t kCharsetTag = 0x0A;
constexpr std::uint32_t kFileNameTag = 0x0D;
constexpr std::uint32_t kHttpTag = 0x10;
constexpr std::uint32_t kDateTag = 0x15;
constexpr std::uint32_t kExpiresTag = 0x16;
constexpr std::uint32_t kLastModifiedTag = 0x17;
constexpr std::uint32_t kEntityTagTag = 0x19;
constexpr std::uint32_t kLocationTag = 0x1A;
constexpr std::uint32_t kStatusTextTag = 0x1B;
constexpr std::uint32_t kStatusTag = 0x1C;
constexpr std::uint32_t kContentEncodingTag = 0x20;
constexpr std::uint32_t kContentLocationTag = 0x21;
constexpr std::uint32_t kHeaderListTag = 0x3B;
constexpr std::uint32_t kHeaderTag = 0x3C;
constexpr std::uint32_t kHeaderNameTag = 0x3D;
constexpr std::uint32_t kHeaderValueTag = 0x3E;
constexpr std::uint32_t kEmbeddedBodyTag = 0x50;
constexpr std::uint32_t kPackSlotTag = 0x51;

// Load states that leave no usable body: the download was aborted or failed.
constexpr std::uint32_t kLoadAborted = 4;
constexpr std::uint32_t kLoadFailed = 5;

constexpr char kPackMagic = 'Z';

Error malformed(std::string message) {
    return makeError(Error::Code::Malformed, std::move(message));
}

// The sizes of tags and lengths that the index's header declares.
struct FieldLayout {
    std::size_t tagSize = 1;
    std::size_t lengthSize = 2;
};

std::optional<FieldLayout> layoutOf(std::string_view header) {
    ByteReader reader(header);
    const auto fileVersion = reader.u32be();
    (void)reader.u32be(); // the writer's version
    const auto tagSize = reader.u16be();
    const auto lengthSize = reader.u16be();
    if (!lengthSize || (*fileVersion >> 12U) != kIndexFileMajorVersion || *tagSize < 1 ||
        *tagSize > 4 || *lengthSize < 1 || *lengthSize > 4) {
        return std::nullopt;
    }
    return FieldLayout{*tagSize, *lengthSize};
}

std::uint64_t bigEndian(std::string_view bytes) {
    std::uint64_t value = 0;
    for (const char byte : bytes) {
        value = (value << 8U) | static_cast<std::uint8_t>(byte);
    }
    return value;
}

struct Field {
    std::uint32_t tag = 0;
    bool flag = false;          // a tag with its top bit set stands alone, without a value
    std::uint64_t position = 0; // of the value, from the start of the index
    std::string_view value;
};

// Walks the tagged fields of one record. A field that runs past the record stops the walk with
// an error.
class FieldWalker {
public:
    FieldWalker(std::string_view bytes, std::uint64_t position, FieldLayout layout)
        : m_reader(bytes), m_start(position), m_layout(layout) {}

    bool atEnd() const { return m_failed || m_reader.remaining() == 0; }
    bool failed() const { return m_failed; }
    std::uint64_t position() const { return m_start + m_reader.position(); }

    std::optional<Field> next() {
        const auto tag = m_reader.bytes(m_layout.tagSize);
        if (!tag) {
            m_failed = true;
            return std::nullopt;
        }
        Field field;
        const std::uint64_t raw = bigEndian(*tag);
        const std::uint64_t flagBit = std::uint64_t{1} << (m_layout.tagSize * 8 - 1);
        field.tag = static_cast<std::uint32_t>(raw & ~flagBit);
        field.flag = (raw & flagBit) != 0;
        if (field.flag) {
            return field;
        }
        const auto length = m_reader.bytes(m_layout.lengthSize);
        const auto value = length ? m_reader.bytes(bigEndian(*length)) : std::nullopt;
        if (!value) {
            m_failed = true;
            return std::nullopt;
        }
        field.position = m_start + (m_reader.position() - value->size());
        field.value = *value;
        return field;
    }

private:
    ByteReader m_reader;
    std::uint64_t m_start;
    FieldLayout m_layout;
    bool m_failed = false;
};

std::optional<std::uint64_t> number(std::string_view value) {
    if (value.empty() || value.size() > 8) {
        return std::nullopt;
    }
    return bigEndian(value);
}

std::int64_t seconds(std::string_view value) {
    const std::uint64_t time = number(value).value_or(0);
    return static_cast<std::int64_t>(
        std::min<std::uint64_t>(time, std::numeric_limits<std::int64_t>::max()));
}

void takeString(std::string& target, std::string_view value) {
    if (target.empty()) {
        target = std::string(value);
    }
}

Status parseHeaderList(std::string_view bytes, std::uint64_t position, FieldLayout layout,
                       OperaIndexEntry& entry) {
    FieldWalker headers(bytes, position, layout);
    while (!headers.atEnd()) {
        const auto header = headers.next();
        if (!header || header->flag || header->tag != kHeaderTag) {
            continue;
        }
        FieldWalker parts(header->value, header->position, layout);
        std::pair<std::string, std::string> line;
        while (!parts.atEnd()) {
            const auto part = parts.next();
            if (part && part->tag == kHeaderNameTag) {
                line.first = std::string(part->value);
            } else if (part && part->tag == kHeaderValueTag) {
                line.second = std::string(part->value);
            }
        }
        if (parts.failed()) {
            return malformed("a kept header runs past its record");
        }
        entry.headers.push_back(std::move(line));
    }
    if (headers.failed()) {
        return malformed("the kept headers run past their record");
    }
    return {};
}

// Fields of an entry and of its HTTP record share one tag space; the first of each counts.
Status parseFields(std::string_view bytes, std::uint64_t position, FieldLayout layout,
                   OperaIndexEntry& entry, bool inHttpRecord) {
    FieldWalker fields(bytes, position, layout);
    while (!fields.atEnd()) {
        const auto field = fields.next();
        if (!field || field->flag) {
            continue;
        }
        const std::string_view value = field->value;
        switch (field->tag) {
        case kUrlTag:
            takeString(entry.url, value);
            break;
        case kLastVisitedTag:
            entry.lastVisited = seconds(value);
            break;
        case kLoadedTag:
            entry.loaded = seconds(value);
            break;
        case kExpiresTag:
            entry.expires = seconds(value);
            break;
        case kLoadStatusTag:
            entry.loadStatus = static_cast<std::uint32_t>(number(value).value_or(0));
            break;
        case kSizeTag: {
            const auto size = number(value);
            if (!size) {
                return malformed("a size field of " + std::to_string(value.size()) + " bytes");
            }
            entry.size = *size;
            break;
        }
        case kContentTypeTag:
            takeString(entry.contentType, value);
            break;
        case kCharsetTag:
            takeString(entry.charset, value);
            break;
        case kFileNameTag:
            takeString(entry.fileName, value);
            break;
        case kPackSlotTag: {
            const auto slot = number(value);
            if (!slot || *slot > std::numeric_limits<std::uint32_t>::max()) {
                return malformed("a slot field of " + std::to_string(value.size()) + " bytes");
            }
            entry.slot = static_cast<std::uint32_t>(*slot);
            break;
        }
        case kEmbeddedBodyTag:
            entry.embedded = std::pair{field->position, std::uint64_t{value.size()}};
            break;
        case kStatusTag:
            entry.httpStatus = static_cast<std::uint32_t>(number(value).value_or(0));
            break;
        case kStatusTextTag:
            takeString(entry.statusText, value);
            break;
        case kDateTag:
            takeString(entry.date, value);
            break;
        case kLastModifiedTag:
            takeString(entry.lastModified, value);
            break;
        case kEntityTagTag:
            takeString(entry.entityTag, value);
            break;
        case kLocationTag:
            takeString(entry.location, value);
            break;
        case kContentEncodingTag:
            takeString(entry.contentEncoding, value);
            break;
        case kContentLocationTag:
            takeString(entry.contentLocation, value);
            break;
        case kHttpTag:
            if (!inHttpRecord) {
                if (Status status = parseFields(value, field->position, layout, entry, true);
                    !status) {
                    return status;
                }
            }
            break;
        case kHeaderListTag:
            if (inHttpRecord && entry.headers.empty()) {
                if (Status status = parseHeaderList(value, field->position, layout, entry);
                    !status) {
                    return status;
                }
            }
            break;
        default:
            break;
        }
    }
    if (fields.failed()) {
        return malformed(inHttpRecord ? "a field runs past the HTTP record"
                                      : "a field runs past the entry");
    }
    return {};
}

Result<OperaIndexEntry> parseEntry(std::string_view bytes, std::uint64_t position,
                                   FieldLayout layout) {
    OperaIndexEntry entry;
    if (Status status = parseFields(bytes, position, layout, entry, false); !status) {
        return status.error();
    }
    if (entry.url.empty()) {
        return malformed("entry without a URL");
    }
    if (entry.url.size() > kMaxUrlBytes) {
        return malformed("URL longer than 2 MiB");
    }
    return entry;
}

// Where the next entry that parses whole starts, at or after `from`; the end when none does.
// Entries begin with their URL, which makes a chance match in other bytes unlikely.
std::uint64_t nextEntryStart(std::string_view bytes, std::uint64_t from, FieldLayout layout) {
    for (std::uint64_t at = from; at + layout.tagSize + layout.lengthSize < bytes.size(); ++at) {
        if (bigEndian(bytes.substr(at, layout.tagSize)) != kEntryTag) {
            continue;
        }
        FieldWalker records(bytes.substr(at), at, layout);
        const auto record = records.next();
        if (!record) {
            continue;
        }
        FieldWalker fields(record->value, record->position, layout);
        const auto first = fields.next();
        if (first && !first->flag && first->tag == kUrlTag &&
            parseEntry(record->value, record->position, layout)) {
            return at;
        }
    }
    return bytes.size();
}

// The parts of a body file's name ("g_0000/opr0002X.tmp", or "opr0002X.tmp" in older caches),
// empty when it could point outside the cache folder.
std::vector<std::string> partsOfFileName(std::string_view name) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find_first_of("/\\", start), name.size());
        const std::string_view part = name.substr(start, end - start);
        const bool plain = !part.empty() && part != "." && part != ".." && part.size() <= 255 &&
                           std::all_of(part.begin(), part.end(), [](char c) {
                               return static_cast<unsigned char>(c) >= 0x20 && c != ':';
                           });
        if (!plain || parts.size() == 2) {
            return {};
        }
        parts.emplace_back(part);
        start = end + 1;
    }
    return parts;
}

// Reads [offset, offset + length) of a file that must still be as it was when listed (the same
// identity): the browser rewrites dcache4.url whole, and a rewritten file has another layout.
BodyReader rangeReader(std::string path, std::string identity, std::uint64_t offset,
                       std::uint64_t length) {
    return [path = std::move(path), identity = std::move(identity), offset,
            length](std::uint64_t limit) -> Result<std::string> {
        auto file = ReadOnlyFile::open(path.c_str());
        if (!file) {
            return file.error();
        }
        if (file->identity() != identity) {
            return makeError(Error::Code::Unreadable, path + ": changed since it was listed");
        }
        const std::uint64_t wanted = std::min(limit, length);
        auto body = file->read(offset, wanted);
        if (body && body->size() != wanted) {
            return makeError(Error::Code::Unreadable, path + ": body cut short");
        }
        return body;
    };
}

// A file that packs several bodies, opened once for all the entries that point into it.
struct PackedFile {
    std::uint64_t size = 0;
    std::string identity;
    Result<std::vector<OperaPackedBody>> bodies = std::vector<OperaPackedBody>{};
};

PackedFile openPackedFile(const std::string& path) {
    PackedFile packed;
    auto file = ReadOnlyFile::open(path.c_str());
    if (!file) {
        packed.bodies = file.error();
        return packed;
    }
    packed.size = file->size();
    packed.identity = file->identity();
    auto head = file->read(0, kOperaPackTableMaxBytes);
    if (!head) {
        packed.bodies = head.error();
        return packed;
    }
    packed.bodies = parseOperaPackTable(*head, packed.size);
    return packed;
}

FileTime fileTimeOf(std::int64_t unixSeconds) {
    return unixSeconds <= 0 ? 0 : fileTimeFromUnixSeconds(unixSeconds);
}

// Reads one index and turns its entries into records, with the bodies found beside it.
class IndexReader {
public:
    IndexReader(std::filesystem::path folder, ReadReport& report)
        : m_folder(std::move(folder)), m_report(report) {}

    void read(std::vector<CacheRecord>& records) {
        const std::filesystem::path indexPath = m_folder / "dcache4.url";
        m_indexPath = indexPath.string();
        auto file = ReadOnlyFile::open(indexPath);
        if (!file) {
            m_report.skip(file.error().message);
            return;
        }
        if (file->size() > kOperaIndexMaxBytes) {
            m_report.skip(m_indexPath + " is too large for a cache index");
            return;
        }
        m_indexSize = file->size();
        m_indexIdentity = file->identity();
        auto index = [&file, this]() -> Result<OperaIndex> {
            // The index's bytes go as soon as its entries are parsed.
            auto bytes = file->readAll(m_indexSize);
            if (!bytes) {
                return bytes.error();
            }
            ReadReport problems;
            auto parsed = parseOperaIndex(*bytes, problems);
            if (problems.skipped > 0) {
                m_report.skip(m_indexPath + ": " + problems.firstProblem);
                m_report.skipped += problems.skipped - 1;
            }
            return parsed;
        }();
        if (!index) {
            m_report.skip(m_indexPath + ": " + index.error().message);
            return;
        }
        for (OperaIndexEntry& entry : index->entries) {
            auto record = recordOf(entry);
            if (!record) {
                m_report.skip(m_indexPath + ": " + entry.url.substr(0, 200) + ": " +
                              record.error().message);
                continue;
            }
            if (!m_report.admit(record->url.size() + record->headers.size() +
                                record->localFile.size())) {
                return;
            }
            records.push_back(std::move(*record));
        }
    }

private:
    Result<CacheRecord> recordOf(OperaIndexEntry& entry) {
        const std::uint32_t loadStatus = entry.loadStatus.value_or(0);
        if (loadStatus == kLoadAborted || loadStatus == kLoadFailed) {
            return malformed("its download was aborted or failed");
        }
        CacheRecord record;
        if (entry.embedded) {
            const auto [offset, length] = *entry.embedded;
            if (Status status = checkSize(entry, length); !status) {
                return status.error();
            }
            record.size = length;
            record.identity = m_indexIdentity + "#" + std::to_string(entry.offset);
            record.body = rangeReader(m_indexPath, m_indexIdentity, offset, length);
        } else if (!entry.fileName.empty()) {
            const std::vector<std::string> parts = partsOfFileName(entry.fileName);
            if (parts.empty()) {
                return malformed("body file " + entry.fileName + " lies outside the cache");
            }
            std::filesystem::path path = m_folder;
            for (const std::string& part : parts) {
                path /= part;
            }
            auto body = entry.slot ? packedBody(path.string(), *entry.slot)
                                   : wholeFile(path.string(), entry.contentEncoding);
            if (!body) {
                return body.error();
            }
            record = std::move(*body);
            if (Status status = checkSize(entry, record.size); !status) {
                return status.error();
            }
        } else {
            record.identity = m_indexIdentity + "#" + std::to_string(entry.offset);
        }
        record.kind = RecordKind::Content;
        record.url = std::move(entry.url);
        record.headers = operaHeaders(entry, record.size);
        record.lastSync = fileTimeOf(entry.loaded);
        record.lastAccess = entry.lastVisited > 0 ? fileTimeOf(entry.lastVisited) : record.lastSync;
        record.expires = fileTimeOf(entry.expires);
        record.lastModified = parseHttpDate(entry.lastModified).value_or(0);
        return record;
    }

    // An index size of 0 is common where the body was stored whole: the stored bytes count.
    static Status checkSize(const OperaIndexEntry& entry, std::uint64_t stored) {
        if (entry.size != 0 && entry.size != stored) {
            return malformed("the body holds " + std::to_string(stored) +
                             " bytes, the index says " + std::to_string(entry.size));
        }
        return {};
    }

    static Result<CacheRecord> wholeFile(const std::string& path, std::string_view encoding) {
        auto file = ReadOnlyFile::open(path.c_str());
        if (!file) {
            return file.error();
        }
        CacheRecord record;
        record.size = file->size();
        record.identity = file->identity();
        // The file is the body as served only where the server sent it unencoded.
        if (encoding.empty() || equalsIgnoringAsciiCase(encoding, "identity")) {
            record.localFile = path;
        }
        record.body = rangeReader(path, record.identity, 0, record.size);
        return record;
    }

    Result<CacheRecord> packedBody(const std::string& path, std::uint32_t slot) {
        auto found = m_packedFiles.find(path);
        if (found == m_packedFiles.end()) {
            found = m_packedFiles.emplace(path, openPackedFile(path)).first;
        }
        const PackedFile& packed = found->second;
        if (!packed.bodies) {
            return makeError(packed.bodies.error().code,
                             path + ": " + packed.bodies.error().message);
        }
        for (const OperaPackedBody& body : *packed.bodies) {
            if (body.slot == slot) {
                CacheRecord record;
                record.size = body.length;
                record.identity = packed.identity + "#" + std::to_string(slot);
                record.body = rangeReader(path, packed.identity, body.offset, body.length);
                return record;
            }
        }
        return malformed(path + " holds no body in slot " + std::to_string(slot));
    }

    std::filesystem::path m_folder;
    ReadReport& m_report;
    std::string m_indexPath;
    std::uint64_t m_indexSize = 0;
    std::string m_indexIdentity;
    std::map<std::string, PackedFile> m_packedFiles;
};

bool holdsIndex(const std::filesystem::path& folder) {
    std::error_code error;
    return std::filesystem::symlink_status(folder / "dcache4.url", error).type() ==
           std::filesystem::file_type::regular;
}

} // namespace

Result<OperaIndex> parseOperaIndex(std::string_view bytes, ReadReport& report) {
    const std::optional<FieldLayout> layout = bytes.size() >= kIndexHeaderSize
                                                  ? layoutOf(bytes.substr(0, kIndexHeaderSize))
                                                  : std::nullopt;
    if (!layout) {
        return makeError(Error::Code::Unsupported, "not an Opera cache index");
    }
    OperaIndex index;
    std::uint64_t at = kIndexHeaderSize;
    while (at < bytes.size()) {
        FieldWalker records(bytes.substr(at), at, *layout);
        const auto record = records.next();
        std::optional<Result<OperaIndexEntry>> entry;
        if (record && !record->flag && record->tag == kEntryTag) {
            entry = parseEntry(record->value, record->position, *layout);
        }
        if (record && !record->flag && (!entry || *entry)) {
            if (entry) {
                entry->value().offset = at;
                index.entries.push_back(std::move(entry->value()));
            }
            at = records.position();
            continue;
        }
        // A damaged record: its length can no longer be trusted, so the next entry is looked
        // for byte by byte.
        report.skip("entry at offset " + std::to_string(at) + ": " +
                    (entry ? entry->error().message : "damaged record"));
        at = nextEntryStart(bytes, at + 1, *layout);
    }
    return index;
}

Result<std::vector<OperaPackedBody>> parseOperaPackTable(std::string_view head,
                                                         std::uint64_t fileSize) {
    ByteReader reader(head);
    const auto magic = reader.u8();
    const auto count = reader.u8();
    if (!count || *magic != static_cast<std::uint8_t>(kPackMagic) || *count == 0) {
        return malformed("not a file of packed bodies");
    }
    std::vector<OperaPackedBody> bodies;
    bodies.reserve(*count);
    for (std::uint32_t i = 0; i < *count; ++i) {
        const auto slot = reader.u8();
        const auto length = reader.u16be();
        if (!length) {
            return malformed("the table of packed bodies is cut short");
        }
        bodies.push_back({*slot, 0, *length});
    }
    // The bodies follow the table in its order.
    std::vector<OperaPackedBody> present;
    std::uint64_t offset = reader.position();
    for (OperaPackedBody& body : bodies) {
        body.offset = offset;
        offset += body.length;
        if (offset <= fileSize) {
            present.push_back(body);
        }
    }
    return present;
}

std::string operaHeaders(const OperaIndexEntry& entry, std::uint64_t bodySize) {
    if (!entry.httpStatus) {
        return {};
    }
    const std::string_view text = !entry.statusText.empty() && isSafeHeaderText(entry.statusText)
                                      ? std::string_view(entry.statusText)
                                      : httpReasonPhrase(*entry.httpStatus);
    std::string out = "HTTP/1.1 " + std::to_string(*entry.httpStatus);
    if (!text.empty()) {
        out.append(" ").append(text);
    }
    out += "\r\n";
    std::vector<std::string_view> names;
    const auto add = [&out, &names](std::string_view name, std::string_view value) {
        if (!isHeaderName(name) || !isSafeHeaderText(value)) {
            return;
        }
        if (std::any_of(names.begin(), names.end(), [name](std::string_view kept) {
                return equalsIgnoringAsciiCase(kept, name);
            })) {
            return;
        }
        names.push_back(name);
        out.append(name).append(": ").append(value).append("\r\n");
    };
    // Kept headers describe the body as served; where the browser stored it decoded (its size
    // field then says 0) they still name the server's encoding and length. The fields below
    // describe the bytes as stored.
    for (const auto& [name, value] : entry.headers) {
        if (!equalsIgnoringAsciiCase(name, "Content-Encoding") &&
            !equalsIgnoringAsciiCase(name, "Content-Length")) {
            add(name, value);
        }
    }
    // The fields the index keeps for every entry stand in for the headers it did not keep.
    if (!entry.date.empty()) {
        add("Date", entry.date);
    }
    if (!entry.contentType.empty()) {
        add("Content-Type", entry.charset.empty() || !isSafeHeaderText(entry.charset)
                                ? entry.contentType
                                : entry.contentType + "; charset=" + entry.charset);
    }
    const std::string length = std::to_string(bodySize);
    if (bodySize > 0) {
        add("Content-Length", length);
    }
    const std::pair<std::string_view, const std::string&> fields[] = {
        {"Content-Encoding", entry.contentEncoding},
        {"Last-Modified", entry.lastModified},
        {"ETag", entry.entityTag},
        {"Location", entry.location},
        {"Content-Location", entry.contentLocation},
    };
    for (const auto& [name, value] : fields) {
        if (!value.empty()) {
            add(name, value);
        }
    }
    out += "\r\n";
    return out;
}

std::vector<CacheRecord> readOperaCache(const std::filesystem::path& folder, ReadReport& report) {
    std::vector<std::filesystem::path> indexFolders;
    if (holdsIndex(folder)) {
        indexFolders.push_back(folder);
    }
    // Indexes beside the main one (revocation/ for certificate checks, sesn/ and the like) keep
    // their bodies in their own g_* folders. Links are not followed out of the cache.
    std::error_code error;
    std::vector<std::filesystem::path> subfolders;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code typeError;
        // The native form: a name the system's code page cannot spell must not throw here.
        const std::filesystem::path fileName = it->path().filename();
        const auto& name = fileName.native();
        const bool bodyFolder = name.size() >= 2 && name[0] == 'g' && name[1] == '_';
        if (it->is_directory(typeError) && !it->is_symlink(typeError) && !bodyFolder &&
            holdsIndex(it->path())) {
            subfolders.push_back(it->path());
        }
    }
    std::sort(subfolders.begin(), subfolders.end());
    indexFolders.insert(indexFolders.end(), subfolders.begin(), subfolders.end());
    if (indexFolders.empty()) {
        report.skip(folder.string() + ": no dcache4.url");
        return {};
    }
    std::vector<CacheRecord> records;
    for (const std::filesystem::path& indexFolder : indexFolders) {
        if (report.budgetSpent) {
            break;
        }
        IndexReader(indexFolder, report).read(records);
    }
    return records;
}

bool looksLikeOperaCache(const std::filesystem::path& folder) {
    auto file = ReadOnlyFile::open(folder / "dcache4.url");
    if (!file) {
        return false;
    }
    auto header = file->read(0, kIndexHeaderSize);
    return header && header->size() == kIndexHeaderSize && layoutOf(*header).has_value();
}

} // namespace sarnika::sources
