#include <algorithm>
#include <charconv>

#include <zlib.h>

#include "cache/sources/ByteReader.h"
#include "cache/sources/ChromiumResponse.h"
#include "cache/sources/FileAccess.h"
#include "cache/sources/chromium/ChromiumCache.h"

namespace sarnika::sources {
namespace {

constexpr std::uint64_t kInitialMagic = 0xfcfb6d1ba7725c30ULL;
constexpr std::uint64_t kFinalMagic = 0xf4fa6f45970d41d8ULL;
constexpr std::uint64_t kIndexMagic = 0x656e74657220796fULL;
constexpr std::uint32_t kEofHasCrc32 = 1;
constexpr std::uint32_t kEofHasKeySha256 = 2;
constexpr std::uint64_t kKeySha256Size = 32;
// A response info (headers and certificates) beyond this is damage, as in the blockfile reader.
constexpr std::uint64_t kMaxStream0Bytes = std::uint64_t{4} << 20U;

// Most entries fit these two reads: a key of up to 2 KiB, and a response info with a
// certificate chain in the tail.
constexpr std::uint64_t kHeadRead = 2048;
constexpr std::uint64_t kTailRead = 8192;

Error malformed(std::string what) {
    return makeError(Error::Code::Malformed, std::move(what));
}

std::uint64_t u64At(std::string_view bytes, std::size_t offset) {
    ByteReader reader(bytes);
    reader.seek(offset);
    return reader.u64le().value_or(0);
}

// The records are 20 bytes, padded to 24 by builds that align pickles to 8 bytes: the final
// magic of the last EOF record tells which.
std::uint32_t recordSizeOf(std::string_view tail, std::uint64_t fileSize) {
    for (const std::uint32_t size : {24U, 20U}) {
        if (tail.size() >= size && fileSize >= 3ULL * size &&
            u64At(tail, tail.size() - size) == kFinalMagic) {
            return size;
        }
    }
    return 0;
}

struct Eof {
    std::uint32_t flags = 0;
    std::uint32_t crc = 0;
    std::uint32_t streamSize = 0;
};

std::optional<Eof> eofAt(std::string_view tail, std::size_t offset) {
    ByteReader reader(tail);
    reader.seek(offset);
    if (reader.u64le() != kFinalMagic) {
        return std::nullopt;
    }
    Eof eof;
    eof.flags = reader.u32le().value_or(0);
    eof.crc = reader.u32le().value_or(0);
    eof.streamSize = reader.u32le().value_or(0);
    return reader.ok() ? std::optional<Eof>(eof) : std::nullopt;
}

std::uint32_t crc32Of(std::string_view bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (!bytes.empty()) {
        const auto chunk = static_cast<uInt>(std::min<std::size_t>(bytes.size(), 1U << 30U));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), chunk);
        bytes.remove_prefix(chunk);
    }
    return static_cast<std::uint32_t>(crc);
}

// "0123456789abcdef_0" -> the hash, as the backend names entry files.
std::optional<std::uint64_t> entryHashOfName(std::string_view name) {
    if (name.size() != 18 || name.substr(16) != "_0") {
        return std::nullopt;
    }
    for (const char c : name.substr(0, 16)) {
        if ((c < '0' || c > '9') && (c < 'a' || c > 'f')) {
            return std::nullopt;
        }
    }
    std::uint64_t hash = 0;
    std::from_chars(name.data(), name.data() + 16, hash, 16);
    return hash;
}

// Reads the entry through `headBytes` and `tailBytes`, buffers that serve entry after entry.
Result<ChromiumSimpleEntry> readEntryFile(const ReadOnlyFile& file, std::string& headBytes,
                                          std::string& tailBytes) {
    const std::uint64_t size = file.size();
    std::string_view head;
    std::string_view tail;
    // Small files come in one read; larger ones in two, never touching the body.
    if (size <= kHeadRead + kTailRead) {
        if (Status all = file.readInto(0, size, headBytes); !all) {
            return all.error();
        }
        head = tail = headBytes;
    } else {
        Status first = file.readInto(0, kHeadRead, headBytes);
        Status last = first ? file.readInto(size - kTailRead, kTailRead, tailBytes) : Status();
        if (!first || !last) {
            return !first ? first.error() : last.error();
        }
        head = headBytes;
        tail = tailBytes;
    }
    for (int attempt = 0; attempt < 4; ++attempt) {
        ChromiumSimpleWants wants;
        auto entry = parseChromiumSimpleEntry(head, tail, size, &wants);
        if (entry || (wants.head <= head.size() && wants.tail <= tail.size())) {
            return entry;
        }
        // A head and tail that were one read (the file shrank meanwhile) part here.
        if (head.data() == tail.data()) {
            tailBytes = headBytes;
            tail = tailBytes;
        }
        if (wants.head > head.size()) {
            if (Status more = file.readInto(0, wants.head, headBytes); !more) {
                return more.error();
            }
            head = headBytes;
        }
        if (wants.tail > tail.size()) {
            const std::uint64_t from = size - std::min(wants.tail, size);
            if (Status more = file.readInto(from, wants.tail, tailBytes); !more) {
                return more.error();
            }
            tail = tailBytes;
        }
    }
    return malformed("entry changed while it was read");
}

} // namespace

Result<ChromiumSimpleEntry> parseChromiumSimpleEntry(std::string_view head, std::string_view tail,
                                                     std::uint64_t fileSize,
                                                     ChromiumSimpleWants* wants) {
    if (head.size() > fileSize || tail.size() > fileSize) {
        return malformed("more bytes than the file holds");
    }
    ChromiumSimpleWants needed;
    const auto fail = [&](std::string what) -> Result<ChromiumSimpleEntry> {
        if (wants != nullptr) {
            *wants = needed;
        }
        return malformed(std::move(what));
    };

    const std::uint32_t record = recordSizeOf(tail, fileSize);
    if (record == 0) {
        if (tail.size() < 24 && tail.size() < fileSize) {
            needed.tail = std::min<std::uint64_t>(24, fileSize);
        }
        return fail("no end-of-stream record at the end of the file");
    }
    ByteReader header(head);
    const auto magic = header.u64le();
    header.u32le(); // version
    const auto keyLength = header.u32le();
    if (!magic || !keyLength) {
        needed.head = record;
        return fail("header cut short");
    }
    if (*magic != kInitialMagic) {
        return malformed("bad header magic");
    }
    // Header, key, EOF of stream 1, stream 0 and its EOF, in that order.
    const std::uint64_t fixed = 3ULL * record;
    if (*keyLength > fileSize - fixed) {
        return malformed("key runs past the file");
    }
    if (*keyLength > kMaxUrlBytes) {
        return malformed("key longer than 2 MiB");
    }
    const auto eof0 = eofAt(tail, tail.size() - record);
    if (!eof0) {
        return fail("bad stream 0 end record");
    }
    if (eof0->streamSize > kMaxStream0Bytes) {
        return malformed("response info larger than 4 MiB");
    }
    const std::uint64_t shaSize = (eof0->flags & kEofHasKeySha256) != 0 ? kKeySha256Size : 0;
    if (eof0->streamSize > fileSize - fixed - *keyLength ||
        shaSize > fileSize - fixed - *keyLength - eof0->streamSize) {
        return malformed("stream 0 is larger than the file");
    }
    const std::uint64_t stream0End = fileSize - record - shaSize;
    const std::uint64_t stream0Start = stream0End - eof0->streamSize;
    const std::uint64_t eof1Offset = stream0Start - record;
    const std::uint64_t bodyOffset = record + std::uint64_t{*keyLength};
    if (head.size() < bodyOffset) {
        needed.head = bodyOffset;
    }
    if (tail.size() < fileSize - eof1Offset) {
        needed.tail = fileSize - eof1Offset;
    }
    if (needed.head != 0 || needed.tail != 0) {
        return fail("head or tail too short");
    }
    const std::uint64_t tailStart = fileSize - tail.size();
    if (!eofAt(tail, static_cast<std::size_t>(eof1Offset - tailStart))) {
        return malformed("bad stream 1 end record");
    }
    ChromiumSimpleEntry entry;
    entry.recordSize = record;
    entry.key = std::string(head.substr(record, *keyLength));
    entry.bodyOffset = bodyOffset;
    entry.bodySize = eof1Offset - bodyOffset;
    entry.stream0 = std::string(
        tail.substr(static_cast<std::size_t>(stream0Start - tailStart), eof0->streamSize));
    if ((eof0->flags & kEofHasCrc32) != 0 && crc32Of(entry.stream0) != eof0->crc) {
        return malformed("stream 0 checksum mismatch");
    }
    return entry;
}

std::unordered_map<std::uint64_t, FileTime> parseChromiumSimpleIndex(std::string_view bytes) {
    std::unordered_map<std::uint64_t, FileTime> lastUsed;
    ByteReader outer(bytes);
    const auto payloadSize = outer.u32le();
    const auto crc = outer.u32le();
    if (!payloadSize || !crc || *payloadSize > outer.remaining()) {
        return lastUsed;
    }
    const std::string_view payload = *outer.bytes(*payloadSize);
    if (crc32Of(payload) != *crc) {
        return lastUsed;
    }
    ByteReader reader(payload);
    const auto magic = reader.u64le();
    const auto version = reader.u32le();
    const auto count = reader.u64le();
    reader.u64le(); // cache size
    if (magic != kIndexMagic || !version || *version < 6 || *version > 9 || !count) {
        return lastUsed;
    }
    if (*version >= 7) {
        reader.u32le(); // why the index was written
    }
    constexpr std::size_t kEntrySize = 24;
    if (!reader.ok() || *count > reader.remaining() / kEntrySize) {
        return lastUsed;
    }
    lastUsed.reserve(static_cast<std::size_t>(*count));
    for (std::uint64_t i = 0; i < *count; ++i) {
        const auto hash = reader.u64le();
        const auto used = reader.i64le();
        reader.u64le(); // size and memory hints
        if (hash && used) {
            lastUsed[*hash] = fileTimeFromWindowsMicros(*used);
        }
    }
    return lastUsed;
}

std::vector<CacheRecord> readChromiumSimpleCache(const std::filesystem::path& dir,
                                                 ReadReport& report) {
    std::vector<CacheRecord> records;
    readChromiumSimpleCache(dir, report, [&records](CacheRecord& record) {
        records.push_back(std::move(record));
        return true;
    });
    return records;
}

void readChromiumSimpleCache(const std::filesystem::path& dir, ReadReport& report,
                             const RecordSink& sink, SourcePart part) {
    auto folder = ReadOnlyFolder::open(dir);
    std::vector<Error> refused;
    const auto isEntry = [](std::string_view name) {
        return entryHashOfName(name).has_value();
    };
    auto listed = folder ? folder->regularFiles(isEntry, &refused)
                         : Result<std::vector<std::string>>(folder.error());
    // What is wrong with the folder is told once for the whole cache, by its first part.
    if (!listed) {
        if (part.index == 0) {
            report.skip(listed.error().message);
        }
        return;
    }
    for (Error& why : refused) {
        if (part.index == 0) {
            report.skip(std::move(why.message));
        }
    }
    // Names sort as plain strings: comparing paths part by part costs as much as the reading.
    std::vector<std::string>& names = *listed;
    std::sort(names.begin(), names.end());

    std::unordered_map<std::uint64_t, FileTime> lastUsed;
    constexpr std::uint64_t kIndexLimit = 64ULL << 20U;
    if (auto index = readFileRange(dir / "index-dir" / "the-real-index", 0, kIndexLimit)) {
        lastUsed = parseChromiumSimpleIndex(*index);
    }

    const std::string prefix = dir.string() + "/";
    std::string head;
    std::string tail;
    for (std::size_t at = part.begin(names.size()); at < part.end(names.size()); ++at) {
        const std::string& name = names[at];
        auto file = folder->openFile(name);
        if (!file) {
            report.skip(name + ": " + file.error().message);
            continue;
        }
        auto entry = readEntryFile(*file, head, tail);
        if (!entry) {
            report.skip(name + ": " + entry.error().message);
            continue;
        }
        auto info = parseChromiumResponseInfo(entry->stream0);
        if (!info) {
            report.skip(name + ": " + info.error().message);
            continue;
        }
        if (!report.admit(entry->key.size() + info->headers.size())) {
            break;
        }
        CacheRecord record;
        record.url = urlFromChromiumKey(entry->key);
        record.headers = std::move(info->headers);
        record.size = entry->bodySize;
        record.lastSync = info->responseTime;
        record.lastAccess = info->responseTime;
        if (const auto used = lastUsed.find(entryHashOfName(name).value_or(0));
            used != lastUsed.end()) {
            // An index written before the entry was refreshed holds an older time.
            record.lastAccess = std::max(record.lastAccess, used->second);
        }
        record.identity = file->identity();
        record.body = [path = prefix + name, offset = entry->bodyOffset,
                       size = entry->bodySize](std::uint64_t limit) -> Result<std::string> {
            const std::uint64_t wanted = std::min(limit, size);
            auto bytes = readFileRange(path, offset, wanted);
            if (bytes && bytes->size() != wanted) {
                return makeError(Error::Code::Unreadable, path + ": entry shrank");
            }
            return bytes;
        };
        if (!sink(record)) {
            return;
        }
    }
}

} // namespace sarnika::sources
