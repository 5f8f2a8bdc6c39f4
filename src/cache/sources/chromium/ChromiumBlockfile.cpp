#include <algorithm>
#include <map>
#include <unordered_set>

#include "cache/sources/ByteReader.h"
#include "cache/sources/ChromiumResponse.h"
#include "cache/sources/FileAccess.h"
#include "cache/sources/chromium/ChromiumCache.h"

namespace sarnika::sources {
namespace {

constexpr std::uint32_t kIndexMagic = 0xC103CAC3U;
constexpr std::uint32_t kBlockMagic = 0xC104CAC3U;
constexpr std::uint64_t kIndexHeaderSize = 368;
constexpr std::uint32_t kDefaultTableLength = 0x10000;
constexpr std::uint64_t kBlockHeaderSize = 8192;
constexpr std::uint32_t kEntryBlockSize = 256;
constexpr std::uint32_t kEntryKeyOffset = 96;
constexpr std::uint32_t kRankingsSize = 36;
constexpr std::uint32_t kChildEntry = 2;
// Keys and response infos beyond this are damage, not data.
constexpr std::uint64_t kMaxKeyLength = kMaxUrlBytes;
constexpr std::uint64_t kMaxStream0Length = 4U << 20U;

Error malformed(std::string what) {
    return makeError(Error::Code::Malformed, std::move(what));
}

std::string hexDigits(std::uint32_t value, int width) {
    std::string text(static_cast<std::size_t>(width), '0');
    for (auto it = text.rbegin(); it != text.rend() && value != 0; ++it, value >>= 4U) {
        *it = "0123456789abcdef"[value & 0xFU];
    }
    return text;
}

std::string hex8(std::uint32_t value) {
    return hexDigits(value, 8);
}

// A CacheAddr: bit 31 set when used, bits 28-30 the file type (0 = a whole f_ file, else a
// block size); blocks: bits 24-25 the count minus one, 16-23 the data_N file, 0-15 the first.
struct CacheAddr {
    std::uint32_t value = 0;

    bool initialized() const { return (value & 0x80000000U) != 0; }
    std::uint32_t fileType() const { return (value >> 28U) & 7U; }
    bool external() const { return fileType() == 0; }
    std::uint32_t blockCount() const { return ((value >> 24U) & 3U) + 1; }
    std::uint32_t fileNumber() const { return (value >> 16U) & 0xFFU; }
    std::uint32_t startBlock() const { return value & 0xFFFFU; }
    std::uint32_t blockSize() const {
        constexpr std::array<std::uint32_t, 8> kSizes = {0, 36, 256, 1024, 4096, 8, 104, 48};
        return kSizes[fileType()];
    }
    std::string fileName() const {
        if (external()) {
            const std::uint32_t number = value & 0x0FFFFFFFU;
            return "f_" + hexDigits(number, number > 0xFFFFFFU ? 7 : 6);
        }
        return "data_" + std::to_string(fileNumber());
    }
};

struct Location {
    std::string file;
    std::uint64_t offset = 0;
    std::uint64_t capacity = 0; // bytes the address spans
};

class Walker {
public:
    Walker(BlockfileFiles& files, ReadReport& report) : m_files(files), m_report(report) {}

    std::vector<ChromiumBlockfileEntry> run();

private:
    struct BlockFile {
        bool usable = false;
        std::uint32_t entrySize = 0;
        std::uint64_t size = 0;
    };

    const BlockFile& blockFile(std::uint32_t number);
    Result<Location> locate(CacheAddr addr, std::uint64_t length);
    Result<std::string> readAt(CacheAddr addr, std::uint64_t length);
    Result<ChromiumBlockfileEntry> readEntry(CacheAddr addr, const std::string& raw);
    void walkChain(CacheAddr addr, std::unordered_set<std::uint32_t>& seen,
                   std::vector<ChromiumBlockfileEntry>& entries);

    BlockfileFiles& m_files;
    ReadReport& m_report;
    std::map<std::uint32_t, BlockFile> m_blockFiles;
    // Addresses of the long keys and streams of the entries taken so far.
    std::unordered_set<std::uint32_t> m_claimed;
};

const Walker::BlockFile& Walker::blockFile(std::uint32_t number) {
    const auto known = m_blockFiles.find(number);
    if (known != m_blockFiles.end()) {
        return known->second;
    }
    BlockFile file;
    const std::string name = "data_" + std::to_string(number);
    const auto size = m_files.size(name);
    const auto header = m_files.read(name, 0, 16);
    if (size && header) {
        ByteReader reader(*header);
        const auto magic = reader.u32le();
        reader.u32le(); // version
        const auto thisFile = reader.u16le();
        reader.u16le(); // next file of the chain
        const auto entrySize = reader.u32le();
        file.usable = magic == kBlockMagic && thisFile == number && entrySize && *entrySize > 0 &&
                      *entrySize <= 4096;
        file.entrySize = entrySize.value_or(0);
        file.size = *size;
    }
    return m_blockFiles.emplace(number, file).first->second;
}

Result<Location> Walker::locate(CacheAddr addr, std::uint64_t length) {
    if (!addr.initialized()) {
        return malformed("unused address " + hex8(addr.value));
    }
    Location location;
    location.file = addr.fileName();
    if (addr.external()) {
        const auto size = m_files.size(location.file);
        if (!size) {
            return makeError(Error::Code::NotFound, location.file + " is missing");
        }
        if (length > *size) {
            return malformed(location.file + " is shorter than its stream");
        }
        location.capacity = *size;
        return location;
    }
    const BlockFile& file = blockFile(addr.fileNumber());
    if (file.size == 0) {
        return makeError(Error::Code::NotFound, location.file + " is missing");
    }
    if (!file.usable || file.entrySize != addr.blockSize()) {
        return malformed(location.file + " is not a block file of " +
                         std::to_string(addr.blockSize()) + "-byte blocks");
    }
    location.offset = kBlockHeaderSize + std::uint64_t{addr.startBlock()} * file.entrySize;
    location.capacity = std::uint64_t{addr.blockCount()} * file.entrySize;
    if (length > location.capacity || location.offset + length > file.size) {
        return malformed(location.file + ": stream of " + std::to_string(length) +
                         " bytes does not fit " + hex8(addr.value));
    }
    return location;
}

Result<std::string> Walker::readAt(CacheAddr addr, std::uint64_t length) {
    auto location = locate(addr, length);
    if (!location) {
        return location.error();
    }
    auto bytes = m_files.read(location->file, location->offset, length);
    if (bytes && bytes->size() != length) {
        return malformed(location->file + " ends early");
    }
    return bytes;
}

// EntryStore: hash, next, rankings node, reuse and refetch counts, state, creation time,
// key length, long-key address, four stream sizes and addresses, flags; the key from byte 96.
Result<ChromiumBlockfileEntry> Walker::readEntry(CacheAddr addr, const std::string& raw) {
    ByteReader reader(raw);
    reader.skip(8);
    const CacheAddr rankings{reader.u32le().value_or(0)};
    const auto reuseCount = reader.i32le();
    reader.skip(8);
    const auto creationTime = reader.i64le();
    const auto keyLength = reader.i32le();
    const CacheAddr longKey{reader.u32le().value_or(0)};
    std::array<std::int32_t, 4> sizes{};
    std::array<CacheAddr, 4> streams{};
    for (auto& size : sizes) {
        size = reader.i32le().value_or(-1);
    }
    for (auto& stream : streams) {
        stream.value = reader.u32le().value_or(0);
    }
    const auto flags = reader.u32le();
    if (!reader.ok() || !keyLength || *keyLength < 0 ||
        static_cast<std::uint64_t>(*keyLength) > kMaxKeyLength) {
        return malformed("bad entry record");
    }
    if ((*flags & kChildEntry) != 0) {
        return makeError(Error::Code::Unsupported, "sparse child entry");
    }
    ChromiumBlockfileEntry entry;
    entry.address = addr.value;
    entry.creationTime = creationTime.value_or(0);
    entry.reuseCount = static_cast<std::uint32_t>(std::max(0, reuseCount.value_or(0)));
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (sizes[i] < 0) {
            return malformed("negative stream size");
        }
        entry.dataSizes[i] = static_cast<std::uint32_t>(sizes[i]);
    }

    // No two entries share a key or a stream: one huge key named by every entry of a crafted
    // index would otherwise be read, and held, once per entry.
    std::vector<std::uint32_t> claims;
    for (const CacheAddr part : {longKey, streams[0], streams[1]}) {
        if (part.initialized()) {
            if (m_claimed.contains(part.value)) {
                return malformed("shares its data with another entry");
            }
            claims.push_back(part.value);
        }
    }
    const auto length = static_cast<std::uint64_t>(*keyLength);
    if (longKey.initialized()) {
        auto key = readAt(longKey, length);
        if (!key) {
            return makeError(key.error().code, "long key: " + key.error().message);
        }
        entry.key = std::move(*key);
    } else {
        // Keys too long for the first block run on into the entry's further blocks.
        if (length > raw.size() - kEntryKeyOffset) {
            return malformed("key runs past the entry's blocks");
        }
        entry.key = raw.substr(kEntryKeyOffset, static_cast<std::size_t>(length));
    }

    if (entry.dataSizes[0] > kMaxStream0Length) {
        return malformed("response info too large");
    }
    // The response info often sits in another data file than the entry: when that file is
    // missing or damaged, the key and the body still make an entry worth having.
    auto stream0 = readAt(streams[0], entry.dataSizes[0]);
    if (stream0) {
        entry.stream0 = std::move(*stream0);
    }

    entry.bodySize = entry.dataSizes[1];
    if (entry.bodySize > 0) {
        auto body = locate(streams[1], entry.bodySize);
        if (!body) {
            return makeError(body.error().code, "body: " + body.error().message);
        }
        entry.bodyFile = body->file;
        entry.bodyOffset = body->offset;
    } else if (!stream0) {
        return makeError(stream0.error().code, "response info: " + stream0.error().message);
    }
    entry.headersLost = !stream0;

    m_claimed.insert(claims.begin(), claims.end());
    // The rankings node only adds the last-use time: without it the entry still stands.
    if (auto node = readAt(rankings, kRankingsSize)) {
        ByteReader rankingsReader(*node);
        entry.lastUsed = rankingsReader.i64le().value_or(0);
    }
    return entry;
}

std::vector<ChromiumBlockfileEntry> Walker::run() {
    std::vector<ChromiumBlockfileEntry> entries;
    const auto indexSize = m_files.size("index");
    if (!indexSize) {
        m_report.skip("index is missing");
        return entries;
    }
    auto header = m_files.read("index", 0, kIndexHeaderSize);
    if (!header || header->size() < kIndexHeaderSize) {
        m_report.skip("index: header cut short");
        return entries;
    }
    ByteReader reader(*header);
    const auto magic = reader.u32le();
    const auto version = reader.u32le();
    reader.seek(28);
    std::uint32_t tableLength = reader.u32le().value_or(0);
    const std::uint32_t major = version.value_or(0) >> 16U;
    if (magic != kIndexMagic || major < 2 || major > 3) {
        m_report.skip("index: not a blockfile index of a known version");
        return entries;
    }
    if (tableLength == 0) {
        tableLength = kDefaultTableLength;
    }
    const std::uint64_t tableBytes =
        std::min<std::uint64_t>(std::uint64_t{tableLength} * 4, *indexSize - kIndexHeaderSize);
    if (tableBytes < std::uint64_t{tableLength} * 4) {
        m_report.skip("index: hash table cut short");
    }
    // In slices, so that a damaged table length costs no more memory than a sound one.
    constexpr std::uint64_t kSlice = 256U << 10U;
    std::unordered_set<std::uint32_t> seen;
    for (std::uint64_t done = 0; done < tableBytes; done += kSlice) {
        auto slice =
            m_files.read("index", kIndexHeaderSize + done, std::min(kSlice, tableBytes - done));
        if (!slice) {
            m_report.skip("index: " + slice.error().message);
            break;
        }
        ByteReader buckets(*slice);
        while (buckets.remaining() >= 4) {
            walkChain(CacheAddr{*buckets.u32le()}, seen, entries);
        }
    }
    return entries;
}

void Walker::walkChain(CacheAddr addr, std::unordered_set<std::uint32_t>& seen,
                       std::vector<ChromiumBlockfileEntry>& entries) {
    // Each entry is visited once, which ends cycles in damaged chains. Only entries that could
    // be read are remembered: a table of garbage addresses costs no memory.
    while (addr.initialized() && !seen.contains(addr.value)) {
        if (addr.external() || addr.blockSize() != kEntryBlockSize) {
            m_report.skip("entry " + hex8(addr.value) + ": not an entry address");
            return;
        }
        auto raw = readAt(addr, std::uint64_t{addr.blockCount()} * kEntryBlockSize);
        if (!raw) {
            m_report.skip("entry " + hex8(addr.value) + ": " + raw.error().message);
            return;
        }
        seen.insert(addr.value);
        ByteReader next(*raw);
        next.skip(4);
        const CacheAddr following{next.u32le().value_or(0)};
        auto entry = readEntry(addr, *raw);
        if (entry && !m_report.admit(entry->key.size() + entry->stream0.size())) {
            return;
        }
        if (entry) {
            entries.push_back(std::move(*entry));
        } else if (entry.error().code != Error::Code::Unsupported) {
            m_report.skip("entry " + hex8(addr.value) + ": " + entry.error().message);
        }
        addr = following;
    }
}

// The folder's files, opened once each and only for reading.
class DiskFiles final : public BlockfileFiles {
public:
    explicit DiskFiles(std::filesystem::path dir) : m_dir(std::move(dir)) {}

    std::optional<std::uint64_t> size(const std::string& name) override {
        if (const ReadOnlyFile* file = open(name)) {
            return file->size();
        }
        return std::nullopt;
    }

    Result<std::string> read(const std::string& name, std::uint64_t offset,
                             std::uint64_t length) override {
        if (const ReadOnlyFile* file = open(name)) {
            return file->read(offset, length);
        }
        return makeError(Error::Code::NotFound, name + " is missing");
    }

private:
    const ReadOnlyFile* open(const std::string& name) {
        // f_ files are many and each is looked at once or twice: only the last one stays open.
        const bool external = name.rfind("f_", 0) == 0;
        if (external && name == m_externalName) {
            return m_external ? &*m_external : nullptr;
        }
        if (!external) {
            if (const auto known = m_open.find(name); known != m_open.end()) {
                return known->second ? &*known->second : nullptr;
            }
        }
        std::optional<ReadOnlyFile> held;
        if (auto file = ReadOnlyFile::open(m_dir / name)) {
            held.emplace(std::move(*file));
        }
        std::optional<ReadOnlyFile>& slot =
            external ? m_external : m_open.emplace(name, std::nullopt).first->second;
        if (external) {
            m_externalName = name;
        }
        slot = std::move(held);
        return slot ? &*slot : nullptr;
    }

    std::filesystem::path m_dir;
    std::map<std::string, std::optional<ReadOnlyFile>> m_open;
    std::string m_externalName;
    std::optional<ReadOnlyFile> m_external;
};

} // namespace

std::vector<ChromiumBlockfileEntry> parseChromiumBlockfile(BlockfileFiles& files,
                                                           ReadReport& report) {
    return Walker(files, report).run();
}

std::vector<CacheRecord> readChromiumBlockfileCache(const std::filesystem::path& dir,
                                                    ReadReport& report) {
    DiskFiles files(dir);
    auto entries = parseChromiumBlockfile(files, report);
    std::vector<CacheRecord> records;
    records.reserve(entries.size());
    for (auto& entry : entries) {
        auto info = entry.headersLost ? Result<ChromiumResponseInfo>(makeError(
                                            Error::Code::NotFound, "response info is lost"))
                                      : parseChromiumResponseInfo(entry.stream0);
        if (!info && entry.bodySize == 0) {
            report.skip("entry " + hex8(entry.address) + ": " + info.error().message);
            continue;
        }
        CacheRecord record;
        record.url = urlFromChromiumKey(entry.key);
        record.size = entry.bodySize;
        // Without its response info the entry has no headers and no response time: the
        // entry's creation stands in for the time it was fetched.
        if (info) {
            record.headers = std::move(info->headers);
            record.lastSync = info->responseTime;
        } else {
            record.lastSync = fileTimeFromWindowsMicros(entry.creationTime);
        }
        const FileTime lastUsed = fileTimeFromWindowsMicros(entry.lastUsed);
        record.lastAccess = lastUsed != 0 ? lastUsed : record.lastSync;
        record.useCount = entry.reuseCount;
        record.identity =
            dir.string() + "|" + hex8(entry.address) + "|" + std::to_string(entry.dataSizes[0]) +
            "," + std::to_string(entry.dataSizes[1]) + "," + std::to_string(entry.dataSizes[2]) +
            "," + std::to_string(entry.dataSizes[3]) + "|" + std::to_string(entry.creationTime);
        std::filesystem::path path =
            entry.bodyFile.empty() ? std::filesystem::path() : dir / entry.bodyFile;
        record.body = [path = std::move(path), offset = entry.bodyOffset,
                       size = entry.bodySize](std::uint64_t limit) -> Result<std::string> {
            const std::uint64_t wanted = std::min(limit, size);
            if (wanted == 0) {
                return std::string();
            }
            auto bytes = readFileRange(path, offset, wanted);
            if (bytes && bytes->size() != wanted) {
                return makeError(Error::Code::Unreadable, path.string() + ": body cut short");
            }
            return bytes;
        };
        records.push_back(std::move(record));
    }
    return records;
}

} // namespace sarnika::sources
