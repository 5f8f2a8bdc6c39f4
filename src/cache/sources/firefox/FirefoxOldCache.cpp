#include "cache/sources/firefox/FirefoxOldCache.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <optional>
#include <system_error>
#include <tuple>

#include "cache/sources/ByteReader.h"
#include "cache/sources/FileAccess.h"
#include "cache/sources/firefox/FirefoxCache.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kMajorVersion = 1;
// From this version (Firefox 3.5) the map has a 276-byte header and grows; before it, a header
// padded to 4 KiB and 32 buckets of 256 records.
constexpr std::uint32_t kGrowingMapVersion = 0x0001000B;
// From this version (Firefox 4) the block files' bitmaps differ in size (16, 4 and 1 KiB);
// before it each is 4 KiB.
constexpr std::uint32_t kGrowingBlockFilesVersion = 0x00010013;
constexpr std::uint64_t kHeaderBytes = 276;
constexpr std::uint64_t kOldHeaderBytes = 4096;
constexpr std::uint32_t kBuckets = 32;
constexpr std::uint32_t kOldRecordsPerBucket = 256;
constexpr std::uint64_t kRecordBytes = 16;
// Firefox grows the map up to a few hundred thousand records; more is damage.
constexpr std::uint32_t kMaxRecords = std::uint32_t{1} << 20U;
constexpr std::uint64_t kEntryHeaderBytes = 36;
constexpr std::uint32_t kMaxBlocksPerRun = 4;
constexpr std::uint32_t kBlockFiles = 3;
// Data larger than four of the largest blocks always has a file of its own.
constexpr std::uint32_t kLargestBlockData = 4 * 4096;

constexpr std::uint32_t kInitialized = 0x80000000U;
constexpr std::uint32_t kSelectorMask = 0x30000000U;
constexpr std::uint32_t kExtraBlocksMask = 0x03000000U;
constexpr std::uint32_t kReservedMask = 0x4C000000U;
constexpr std::uint32_t kBlockNumberMask = 0x00FFFFFFU;
constexpr std::uint32_t kGenerationMask = 0x000000FFU;

// Blocks read at once while looking for metadata records without a map.
constexpr std::uint64_t kScanChunkBlocks = 1024;

Error malformed(std::string message) {
    return makeError(Error::Code::Malformed, std::move(message));
}

std::uint32_t blockSizeOf(std::uint32_t file) {
    return 256U << (2 * (file - 1));
}

std::uint64_t bitmapBytesOf(std::uint32_t version, std::uint32_t file) {
    return version >= kGrowingBlockFilesVersion ? (16384U >> (2 * (file - 1))) : 4096U;
}

// The block file that data of `size` bytes goes to; 0 for a separate file.
std::uint32_t blockFileFor(std::uint32_t version, std::uint32_t size) {
    if (version >= kGrowingBlockFilesVersion) {
        // Firefox takes the larger block where the waste is the same.
        if (size <= 3 * blockSizeOf(1)) {
            return 1;
        }
        if (size <= 3 * blockSizeOf(2)) {
            return 2;
        }
    } else {
        if (size <= 4 * blockSizeOf(1)) {
            return 1;
        }
        if (size <= 4 * blockSizeOf(2)) {
            return 2;
        }
    }
    return size <= kLargestBlockData ? 3 : 0;
}

bool startsWithScheme(std::string_view text) {
    if (text.empty() || std::isalpha(static_cast<unsigned char>(text[0])) == 0) {
        return false;
    }
    for (const char c : text.substr(1)) {
        if (c == ':') {
            return true;
        }
        if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return false;
}

std::uint32_t hexValue(std::string_view text) {
    std::uint32_t value = 0;
    for (const char c : text) {
        const int digit = c <= '9' ? c - '0' : c - 'A' + 10;
        value = (value << 4U) | static_cast<std::uint32_t>(digit);
    }
    return value;
}

bool isUpperHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// A place in the cache: a separate file, or a run of blocks in a block file.
struct Place {
    std::uint32_t file = 0; // 0 separate file, 1 to 3 block file
    std::uint32_t start = 0;
    std::uint32_t count = 0;
    fs::path path;
    std::uint64_t offset = 0;
    std::string identity;
};

struct BlockFile {
    fs::path path;
    std::uint32_t blockSize = 0;
    std::uint64_t dataStart = 0; // after the bitmap
    std::uint64_t maxBlocks = 0;
    std::uint64_t blocks = 0; // present in the file, the last one maybe partly
    std::uint64_t size = 0;
    std::string identity;
    bool present = false;
    std::optional<ReadOnlyFile> file; // open while the cache is listed
};

BodyReader bodyReader(fs::path path, std::string identity, std::uint64_t offset,
                      std::uint64_t size) {
    return [path = std::move(path), identity = std::move(identity), offset,
            size](std::uint64_t limit) -> Result<std::string> {
        auto file = ReadOnlyFile::open(path);
        if (!file) {
            return file.error();
        }
        // Block files are shared by many entries: a changed file may hold others in the place.
        if (file->identity() != identity) {
            return makeError(Error::Code::Unreadable,
                             path.string() + ": changed since it was listed");
        }
        const std::uint64_t wanted = std::min(limit, size);
        auto body = file->read(offset, wanted);
        if (body && body->size() != wanted) {
            return makeError(Error::Code::Unreadable, path.string() + ": body cut short");
        }
        return body;
    };
}

class Reader {
public:
    Reader(fs::path folder, ReadReport& report) : m_folder(std::move(folder)), m_report(report) {}

    std::vector<CacheRecord> read() {
        const std::optional<std::vector<std::array<std::uint32_t, 4>>> mapRecords = readMap();
        for (std::uint32_t file = 1; file <= kBlockFiles; ++file) {
            openBlockFile(file);
        }
        if (mapRecords) {
            for (const auto& record : *mapRecords) {
                if (!m_report.budgetSpent) {
                    readMapRecord(record);
                }
            }
        } else {
            scanWithoutMap();
        }
        return std::move(m_records);
    }

private:
    // The map's records, or nothing when the map is missing, torn or holds only its header.
    std::optional<std::vector<std::array<std::uint32_t, 4>>> readMap() {
        auto map = ReadOnlyFile::open(m_folder / "_CACHE_MAP_");
        if (!map) {
            m_report.skip(map.error().message);
            return std::nullopt;
        }
        auto header = map->read(0, kHeaderBytes);
        if (!header || header->size() != kHeaderBytes) {
            m_report.skip("_CACHE_MAP_: header cut short");
            return std::nullopt;
        }
        ByteReader reader(*header);
        m_version = reader.u32be().value_or(0);
        if (m_version >> 16U != kMajorVersion) {
            m_report.skip("_CACHE_MAP_: version " + std::to_string(m_version >> 16U) + "." +
                          std::to_string(m_version & 0xFFFFU) + " is not known");
            m_version = kGrowingBlockFilesVersion;
            return std::nullopt;
        }
        std::uint64_t recordsAt = kOldHeaderBytes;
        std::uint32_t recordCount = kBuckets * kOldRecordsPerBucket;
        std::array<std::uint32_t, kBuckets> usage{};
        usage.fill(kOldRecordsPerBucket);
        (void)reader.skip(8); // data size, entry count
        if (reader.u32be().value_or(1) != 0) {
            // A map that was not closed: Firefox throws such a cache away, as its records may
            // point at blocks taken since. The entries are looked for in the files.
            return std::nullopt;
        }
        if (m_version >= kGrowingMapVersion) {
            recordCount = reader.u32be().value_or(0);
            (void)reader.skip(std::size_t{kBuckets} * 4); // eviction ranks
            for (std::uint32_t& used : usage) {
                used = reader.u32be().value_or(0);
            }
            recordsAt = kHeaderBytes;
        }
        if (recordCount == 0 || recordCount % kBuckets != 0 || recordCount > kMaxRecords ||
            map->size() < recordsAt + std::uint64_t{recordCount} * kRecordBytes) {
            return std::nullopt; // a torn map: the entries are looked for in the files
        }
        auto bytes = map->read(recordsAt, std::uint64_t{recordCount} * kRecordBytes);
        if (!bytes || bytes->size() != std::uint64_t{recordCount} * kRecordBytes) {
            return std::nullopt;
        }
        std::vector<std::array<std::uint32_t, 4>> records;
        const std::uint32_t perBucket = recordCount / kBuckets;
        ByteReader recordReader(*bytes);
        for (std::uint32_t bucket = 0; bucket < kBuckets; ++bucket) {
            const std::uint32_t used = std::min(usage.at(bucket), perBucket);
            for (std::uint32_t i = 0; i < perBucket; ++i) {
                std::array<std::uint32_t, 4> record{};
                for (std::uint32_t& word : record) {
                    word = recordReader.u32be().value_or(0);
                }
                if (i < used && record[0] != 0) {
                    records.push_back(record);
                }
            }
        }
        return records;
    }

    void openBlockFile(std::uint32_t index) {
        BlockFile& block = m_blockFiles.at(index - 1);
        block.path = m_folder / ("_CACHE_00" + std::to_string(index) + "_");
        block.blockSize = blockSizeOf(index);
        block.dataStart = bitmapBytesOf(m_version, index);
        block.maxBlocks = block.dataStart * 8;
        auto file = ReadOnlyFile::open(block.path);
        if (!file) {
            return; // a young cache may lack a block file; entries that need it are skipped
        }
        block.present = true;
        block.identity = file->identity();
        block.size = file->size();
        block.file = std::move(*file);
        if (file->size() > block.dataStart) {
            block.blocks =
                std::min(block.maxBlocks,
                         (file->size() - block.dataStart + block.blockSize - 1) / block.blockSize);
        }
    }

    // Where a location word of a map record points.
    std::optional<Place> placeOf(std::uint32_t location, std::uint32_t hash, char kind,
                                 std::string& why) {
        if ((location & kInitialized) == 0 || (location & kReservedMask) != 0) {
            why = "map record with a damaged location";
            return std::nullopt;
        }
        Place place;
        place.file = (location & kSelectorMask) >> 28U;
        if (place.file == 0) {
            const std::uint32_t generation = location & kGenerationMask;
            auto path = separateFile(hash, kind, generation);
            if (!path) {
                why = "separate file of " + hexName(hash) + " missing";
                return std::nullopt;
            }
            place.path = *path;
            return place;
        }
        const BlockFile& block = m_blockFiles.at(place.file - 1);
        place.start = location & kBlockNumberMask;
        place.count = ((location & kExtraBlocksMask) >> 24U) + 1;
        // Firefox grows a block file only as far as it writes: a run may end past its end.
        if (!block.present || place.start >= block.blocks) {
            why = "blocks past the end of " + block.path.filename().string();
            return std::nullopt;
        }
        place.path = block.path;
        place.offset = block.dataStart + std::uint64_t{place.start} * block.blockSize;
        place.identity = block.identity;
        return place;
    }

    static std::string hexName(std::uint32_t hash) {
        static constexpr std::string_view kDigits = "0123456789ABCDEF";
        std::string name(8, '0');
        for (std::size_t i = 0; i < 8; ++i) {
            name[7 - i] = kDigits[(hash >> (4 * i)) & 0xFU];
        }
        return name;
    }

    // The separate file of an entry: in <h>/<hh>/ folders (Firefox 3.5 and later) or beside
    // the map (before).
    std::optional<fs::path> separateFile(std::uint32_t hash, char kind, std::uint32_t generation) {
        const std::string hex = hexName(hash);
        const std::string generationHex = hexName(generation).substr(6);
        const fs::path nested =
            m_folder / hex.substr(0, 1) / hex.substr(1, 2) / (hex.substr(3) + kind + generationHex);
        const fs::path flat = m_folder / (hex + kind + generationHex);
        std::error_code error;
        for (const fs::path& path : {nested, flat}) {
            if (fs::is_regular_file(fs::symlink_status(path, error))) {
                return path;
            }
        }
        return std::nullopt;
    }

    void readMapRecord(const std::array<std::uint32_t, 4>& record) {
        const auto [hash, rank, dataLocation, metaLocation] = record;
        std::string why;
        auto metaPlace = placeOf(metaLocation, hash, 'm', why);
        if (!metaPlace) {
            m_report.skip(hexName(hash) + ": " + why);
            return;
        }
        auto meta = readPlace(*metaPlace);
        if (!meta) {
            m_report.skip(hexName(hash) + ": " + meta.error().message);
            return;
        }
        auto entry = parseFirefoxOldEntry(*meta);
        if (!entry) {
            m_report.skip(hexName(hash) + ": " + entry.error().message);
            return;
        }
        // A stale record may point at blocks that another entry took since.
        if (m_version >= kGrowingBlockFilesVersion && firefoxOldKeyHash(entry->key) != hash) {
            m_report.skip(hexName(hash) + ": the key there belongs to another record");
            return;
        }
        std::optional<Place> dataPlace;
        if (entry->dataSize > 0) {
            dataPlace = placeOf(dataLocation, hash, 'd', why);
            if (!dataPlace) {
                m_report.skip(hexName(hash) + ": " + why);
                return;
            }
            if (dataPlace->file != 0) {
                const BlockFile& block = m_blockFiles.at(dataPlace->file - 1);
                if (entry->dataSize > std::uint64_t{dataPlace->count} * block.blockSize ||
                    dataPlace->offset + entry->dataSize > block.size) {
                    m_report.skip(hexName(hash) + ": data beyond its blocks");
                    return;
                }
            }
        }
        add(std::move(*entry), *metaPlace, dataPlace);
    }

    // The bytes of a metadata place: its blocks, or its separate file.
    Result<std::string> readPlace(Place& place) {
        if (place.file != 0) {
            const BlockFile& block = m_blockFiles.at(place.file - 1);
            return block.file->read(place.offset, std::uint64_t{place.count} * block.blockSize);
        }
        auto file = ReadOnlyFile::open(place.path);
        if (!file) {
            return file.error();
        }
        place.identity = file->identity();
        return file->read(
            0, std::min(file->size(), kEntryHeaderBytes + kFirefoxOldMaxMetadata + kMaxUrlBytes));
    }

    // Completes a separate data place: the file must hold the whole body.
    bool completeSeparate(Place& place, std::uint32_t dataSize) {
        auto file = ReadOnlyFile::open(place.path);
        if (!file || file->size() < dataSize) {
            return false;
        }
        place.identity = file->identity();
        return true;
    }

    // `admitted`: the entry's text was counted against the source's budget when it was found.
    void add(FirefoxOldEntry entry, const Place& metaPlace, std::optional<Place> dataPlace,
             bool admitted = false) {
        if (dataPlace && dataPlace->file == 0 && dataPlace->identity.empty() &&
            !completeSeparate(*dataPlace, entry.dataSize)) {
            m_report.skip(dataPlace->path.string() + ": data file shorter than its entry");
            return;
        }
        if (!admitted && !m_report.admit(entry.key.size() + entry.headers.size())) {
            return;
        }
        CacheRecord record;
        record.kind = RecordKind::Content;
        record.url = std::move(entry.url);
        record.headers = std::move(entry.headers);
        record.size = entry.dataSize;
        const auto fileTime = [](std::uint32_t seconds) {
            return seconds == 0 || seconds == 0xFFFFFFFFU ? FileTime{0}
                                                          : fileTimeFromUnixSeconds(seconds);
        };
        record.lastAccess = fileTime(entry.lastFetched);
        record.lastSync = record.lastAccess;
        record.expires = fileTime(entry.expiration);
        record.useCount = entry.fetchCount;
        record.identity = metaPlace.identity + "#" + std::to_string(metaPlace.offset);
        if (entry.dataSize == 0) {
            record.body = [](std::uint64_t) -> Result<std::string> {
                return std::string();
            };
        } else if (dataPlace) {
            record.identity += "|" + dataPlace->identity + "#" + std::to_string(dataPlace->offset);
            record.body =
                bodyReader(dataPlace->path, dataPlace->identity, dataPlace->offset, entry.dataSize);
        }
        m_records.push_back(std::move(record));
    }

    // ---- Without a map --------------------------------------------------------------------

    struct Found {
        FirefoxOldEntry entry;
        Place meta;
        std::optional<Place> data;
    };

    struct BlockUse {
        std::vector<bool> claimed;
        // Per block: the index of its last non-zero byte, -1 for an all-zero block.
        std::vector<std::int16_t> lastNonZero;
    };

    void scanWithoutMap() {
        std::vector<Found> found;
        std::array<BlockUse, kBlockFiles> uses;
        for (std::uint32_t file = 1; file <= kBlockFiles; ++file) {
            scanBlockFile(file, found, uses.at(file - 1));
        }
        std::map<std::uint32_t, std::vector<fs::path>> dataFiles;
        scanSeparateFiles(found, dataFiles);

        std::vector<std::size_t> inBlocks;
        for (std::size_t i = 0; i < found.size(); ++i) {
            Found& item = found[i];
            if (item.entry.dataSize == 0) {
                continue;
            }
            const auto files = dataFiles.find(firefoxOldKeyHash(item.entry.key));
            if (files != dataFiles.end()) {
                for (const fs::path& path : files->second) {
                    Place place;
                    place.path = path;
                    if (completeSeparate(place, item.entry.dataSize)) {
                        item.data = std::move(place);
                        break;
                    }
                }
            }
            if (!item.data && blockFileFor(m_version, item.entry.dataSize) != 0) {
                inBlocks.push_back(i);
            }
        }
        placeBlockData(found, inBlocks, uses);
        for (Found& item : found) {
            add(std::move(item.entry), item.meta, std::move(item.data), true);
        }
    }

    void scanBlockFile(std::uint32_t index, std::vector<Found>& found, BlockUse& use) {
        const BlockFile& block = m_blockFiles.at(index - 1);
        if (!block.present || block.blocks == 0) {
            return;
        }
        const ReadOnlyFile& file = *block.file;
        const std::uint64_t size = block.blockSize;
        use.claimed.assign(block.blocks, false);
        use.lastNonZero.assign(block.blocks, -1);
        std::uint64_t next = 0;
        for (std::uint64_t chunk = 0; chunk < block.blocks; chunk += kScanChunkBlocks) {
            const std::uint64_t end = std::min(block.blocks, chunk + kScanChunkBlocks);
            const std::uint64_t readEnd = std::min(block.blocks, end + kMaxBlocksPerRun - 1);
            auto bytes = file.read(block.dataStart + chunk * size, (readEnd - chunk) * size);
            if (!bytes) {
                m_report.skip(bytes.error().message);
                return;
            }
            const std::string_view view(*bytes);
            for (std::uint64_t k = chunk; k < end; ++k) {
                const std::uint64_t at = (k - chunk) * size;
                if (at >= view.size()) {
                    break;
                }
                const std::string_view blockBytes = view.substr(at, size);
                const auto last = blockBytes.find_last_not_of('\0');
                use.lastNonZero[k] = last == std::string_view::npos
                                         ? std::int16_t{-1}
                                         : static_cast<std::int16_t>(last);
                if (k < next || blockBytes.size() < 4 ||
                    blockBytes.substr(0, 2) != std::string_view("\0\1", 2)) {
                    continue;
                }
                auto entry = parseFirefoxOldEntry(view.substr(at, kMaxBlocksPerRun * size));
                if (!entry || entry->recordSize > kMaxBlocksPerRun * size) {
                    continue;
                }
                Place place;
                place.file = index;
                place.start = static_cast<std::uint32_t>(k);
                place.count = static_cast<std::uint32_t>((entry->recordSize + size - 1) / size);
                place.path = block.path;
                place.offset = block.dataStart + k * size;
                place.identity = block.identity;
                for (std::uint64_t j = k; j < k + place.count && j < block.blocks; ++j) {
                    use.claimed[j] = true;
                }
                next = k + place.count;
                if (m_report.admit(entry->key.size() + entry->headers.size())) {
                    found.push_back({std::move(*entry), std::move(place), std::nullopt});
                }
            }
        }
    }

    // Metadata files (<h>/<hh>/<hhhhh>m<gg>, or <8 hex>m<gg> beside the map) are read;
    // data files are filed by the hash in their names.
    void scanSeparateFiles(std::vector<Found>& found,
                           std::map<std::uint32_t, std::vector<fs::path>>& dataFiles) {
        std::vector<std::pair<fs::path, std::uint32_t>> metaFiles;
        const auto consider = [&](const fs::path& path, std::string_view hash, char kind) {
            if (kind == 'd') {
                dataFiles[hexValue(hash)].push_back(path);
            } else if (kind == 'm') {
                metaFiles.emplace_back(path, hexValue(hash));
            }
        };
        for (const auto& [path, name] : listFolder(m_folder)) {
            if (name.size() == 11 && isUpperHex(name.substr(0, 8)) && isUpperHex(name.substr(9))) {
                consider(path, name.substr(0, 8), name[8]);
            }
        }
        for (const auto& [outer, outerName] : listFolder(m_folder, true)) {
            if (outerName.size() != 1 || !isUpperHex(outerName)) {
                continue;
            }
            for (const auto& [inner, innerName] : listFolder(outer, true)) {
                if (innerName.size() != 2 || !isUpperHex(innerName)) {
                    continue;
                }
                for (const auto& [path, name] : listFolder(inner)) {
                    if (name.size() == 8 && isUpperHex(name.substr(0, 5)) &&
                        isUpperHex(name.substr(6))) {
                        consider(path, outerName + innerName + name.substr(0, 5), name[5]);
                    }
                }
            }
        }
        std::sort(metaFiles.begin(), metaFiles.end());
        for (auto& [hash, paths] : dataFiles) {
            std::sort(paths.begin(), paths.end());
        }
        for (auto& [path, hash] : metaFiles) {
            Place place;
            place.path = path;
            auto bytes = readPlace(place);
            if (!bytes) {
                m_report.skip(bytes.error().message);
                continue;
            }
            auto entry = parseFirefoxOldEntry(*bytes);
            if (!entry) {
                m_report.skip(path.filename().string() + ": " + entry.error().message);
                continue;
            }
            if (m_report.admit(entry->key.size() + entry->headers.size())) {
                found.push_back({std::move(*entry), std::move(place), std::nullopt});
            }
        }
    }

    // Regular files (or, with `folders`, folders) of a folder, links left out.
    std::vector<std::pair<fs::path, std::string>> listFolder(const fs::path& folder,
                                                             bool folders = false) {
        std::vector<std::pair<fs::path, std::string>> out;
        std::error_code error;
        fs::directory_iterator it(folder, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) {
            std::error_code typeError;
            const fs::file_status status = it->symlink_status(typeError);
            if (typeError) {
                continue;
            }
            if (folders ? fs::is_directory(status) : fs::is_regular_file(status)) {
                out.emplace_back(it->path(), it->path().filename().string());
            }
        }
        if (error && folder != m_folder) {
            m_report.skip(folder.string() + ": " + error.message());
        }
        return out;
    }

    // Without a map nothing says which blocks hold an entry's data. Firefox grows a block file
    // as it writes, so the bytes after data in its last block are zero: a run of data ends in a
    // block whose last non-zero byte comes before the block's end (or one followed by metadata
    // or the file's end), behind up to three full blocks that follow metadata, another such
    // end or the file's start. Entries of one run length are taken in the order of their data's
    // length in the last block: the runs ending before that length that no shorter entry took
    // are theirs. Where runs and entries do not pair up one to one, the entries get no body.
    void placeBlockData(std::vector<Found>& found, const std::vector<std::size_t>& waiting,
                        std::array<BlockUse, kBlockFiles>& uses) {
        for (std::uint32_t index = 1; index <= kBlockFiles; ++index) {
            const BlockFile& block = m_blockFiles.at(index - 1);
            BlockUse& use = uses.at(index - 1);
            const auto full = static_cast<std::int16_t>(block.blockSize - 1);
            const std::size_t blocks = use.claimed.size();
            // Waiting entries of this file: run length, bytes in the last block, entry.
            std::vector<std::tuple<std::uint32_t, std::uint32_t, std::size_t>> entries;
            bool exactFills = false;
            for (const std::size_t i : waiting) {
                const std::uint32_t size = found[i].entry.dataSize;
                if (blockFileFor(m_version, size) == index) {
                    const std::uint32_t count = (size + block.blockSize - 1) / block.blockSize;
                    entries.emplace_back(count, size - (count - 1) * block.blockSize, i);
                    exactFills = exactFills || size % block.blockSize == 0;
                }
            }
            std::sort(entries.begin(), entries.end());
            // Ends of runs by run length: the end block's last non-zero byte, and the block. Data
            // that fills its last block leaves no mark where it ends: where such entries wait,
            // an end behind full blocks may close a run of any length up to theirs.
            std::array<std::vector<std::pair<std::int16_t, std::size_t>>, kMaxBlocksPerRun> ends;
            for (std::size_t end = 0; end < blocks; ++end) {
                if (use.claimed[end] || use.lastNonZero[end] < 0 ||
                    (use.lastNonZero[end] == full && end + 1 < blocks && !use.claimed[end + 1])) {
                    continue;
                }
                std::size_t count = 1;
                const auto fullBefore = [&](std::size_t back) {
                    return end >= back && !use.claimed[end - back] &&
                           use.lastNonZero[end - back] == full;
                };
                while (count < kMaxBlocksPerRun && fullBefore(count)) {
                    ++count;
                }
                for (std::size_t length = exactFills ? 1 : count; length <= count; ++length) {
                    if (length < count || !fullBefore(count)) {
                        ends.at(length - 1).emplace_back(use.lastNonZero[end], end);
                    }
                }
            }
            for (auto& runs : ends) {
                std::sort(runs.begin(), runs.end());
            }
            std::vector<std::pair<std::int16_t, std::size_t>> open;
            std::size_t taken = 0;
            for (std::size_t group = 0; group < entries.size();) {
                const auto [count, inLast, first] = entries[group];
                std::size_t groupEnd = group;
                while (groupEnd < entries.size() && std::get<0>(entries[groupEnd]) == count &&
                       std::get<1>(entries[groupEnd]) == inLast) {
                    ++groupEnd;
                }
                if (group == 0 || std::get<0>(entries[group - 1]) != count) {
                    open.clear();
                    taken = 0;
                }
                const auto& runs = ends.at(count - 1);
                while (taken < runs.size() && runs[taken].first < static_cast<int>(inLast)) {
                    open.push_back(runs[taken++]);
                }
                // Runs that an entry of another length took are out.
                std::erase_if(open, [&use, length = count](const auto& run) {
                    for (std::size_t j = 0; j < length; ++j) {
                        if (use.claimed[run.second - j]) {
                            return true;
                        }
                    }
                    return false;
                });
                // Data that ends in non-zero bytes is the usual case and decides first.
                std::vector<std::pair<std::int16_t, std::size_t>> exact;
                for (const auto& run : open) {
                    if (run.first == static_cast<int>(inLast) - 1) {
                        exact.push_back(run);
                    }
                }
                const std::size_t members = groupEnd - group;
                const std::vector<std::pair<std::int16_t, std::size_t>> chosen =
                    exact.size() == members ? exact : open;
                if (chosen.size() == members) {
                    for (const auto& run : chosen) {
                        std::erase(open, run);
                        for (std::size_t j = 0; j < count; ++j) {
                            use.claimed[run.second - j] = true;
                        }
                    }
                    if (members == 1) {
                        const std::size_t start = chosen[0].second + 1 - count;
                        Place place;
                        place.file = index;
                        place.start = static_cast<std::uint32_t>(start);
                        place.count = count;
                        place.path = block.path;
                        place.offset = block.dataStart + start * block.blockSize;
                        place.identity = block.identity;
                        found[first].data = std::move(place);
                    }
                }
                group = groupEnd;
            }
        }
    }

    fs::path m_folder;
    ReadReport& m_report;
    std::uint32_t m_version = kGrowingBlockFilesVersion;
    std::array<BlockFile, kBlockFiles> m_blockFiles;
    std::vector<CacheRecord> m_records;
};

} // namespace

Result<FirefoxOldEntry> parseFirefoxOldEntry(std::string_view bytes) {
    ByteReader reader(bytes);
    FirefoxOldEntry entry;
    const auto version = reader.u32be();
    (void)reader.u32be(); // the record's own location, not always kept
    const auto fetchCount = reader.u32be();
    const auto lastFetched = reader.u32be();
    const auto lastModified = reader.u32be();
    const auto expiration = reader.u32be();
    const auto dataSize = reader.u32be();
    const auto keySize = reader.u32be();
    const auto metaSize = reader.u32be();
    if (!metaSize) {
        return malformed("entry header cut short");
    }
    entry.version = *version;
    if (entry.version >> 16U != kMajorVersion) {
        return makeError(Error::Code::Unsupported,
                         "entry version " + std::to_string(entry.version >> 16U));
    }
    if (*keySize == 0 || *keySize - 1 > kMaxUrlBytes) {
        return malformed("key of " + std::to_string(*keySize) + " bytes");
    }
    if (*metaSize > kFirefoxOldMaxMetadata) {
        return malformed("metadata of " + std::to_string(*metaSize) + " bytes");
    }
    const auto key = reader.bytes(*keySize);
    const auto meta = reader.bytes(*metaSize);
    if (!key || !meta) {
        return malformed("entry runs past its bytes");
    }
    if (key->find('\0') != key->size() - 1) {
        return malformed("key is not NUL-terminated");
    }
    entry.fetchCount = *fetchCount;
    entry.lastFetched = *lastFetched;
    entry.lastModified = *lastModified;
    entry.expiration = *expiration;
    entry.dataSize = *dataSize;
    entry.recordSize = reader.position();
    entry.key = std::string(key->substr(0, key->size() - 1));
    entry.url = urlFromFirefoxOldKey(entry.key);
    ByteReader elements(*meta);
    entry.headers = responseHeadOf(elements);
    return entry;
}

std::string urlFromFirefoxOldKey(std::string_view key) {
    const std::size_t colon = key.find(':');
    if (colon == std::string_view::npos) {
        return std::string(key);
    }
    const std::string_view rest = key.substr(colon + 1);
    if (!startsWithScheme(rest)) {
        for (std::size_t at = rest.find("uri="); at != std::string_view::npos;
             at = rest.find("uri=", at + 1)) {
            if (at == 0 || rest[at - 1] == '&') {
                return std::string(rest.substr(at + 4));
            }
        }
    }
    return std::string(rest);
}

// Bob Jenkins' lookup2 hash with an initial value of 0, bytes taken little-end first.
std::uint32_t firefoxOldKeyHash(std::string_view key) {
    const auto mix = [](std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
        a -= b + c;
        a ^= c >> 13U;
        b -= c + a;
        b ^= a << 8U;
        c -= a + b;
        c ^= b >> 13U;
        a -= b + c;
        a ^= c >> 12U;
        b -= c + a;
        b ^= a << 16U;
        c -= a + b;
        c ^= b >> 5U;
        a -= b + c;
        a ^= c >> 3U;
        b -= c + a;
        b ^= a << 10U;
        c -= a + b;
        c ^= b >> 15U;
    };
    const auto byte = [&key](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(key[at]));
    };
    const auto word = [&byte](std::size_t at) {
        return byte(at) | (byte(at + 1) << 8U) | (byte(at + 2) << 16U) | (byte(at + 3) << 24U);
    };
    std::uint32_t a = 0x9E3779B9U;
    std::uint32_t b = a;
    std::uint32_t c = 0;
    std::size_t at = 0;
    for (; key.size() - at >= 12; at += 12) {
        a += word(at);
        b += word(at + 4);
        c += word(at + 8);
        mix(a, b, c);
    }
    c += static_cast<std::uint32_t>(key.size());
    // The last bytes: the first four go to a, the next four to b, the rest to c above its
    // lowest byte, which holds the length.
    for (std::size_t i = 0; at + i < key.size(); ++i) {
        const std::uint32_t value = byte(at + i);
        if (i < 4) {
            a += value << (8U * i);
        } else if (i < 8) {
            b += value << (8U * (i - 4));
        } else {
            c += value << (8U * (i - 7));
        }
    }
    mix(a, b, c);
    return c;
}

bool looksLikeFirefoxOldCache(const std::filesystem::path& folder) {
    std::error_code error;
    return fs::is_regular_file(fs::symlink_status(folder / "_CACHE_MAP_", error)) &&
           fs::is_regular_file(fs::symlink_status(folder / "_CACHE_001_", error));
}

std::vector<CacheRecord> readFirefoxOldCache(const std::filesystem::path& folder,
                                             ReadReport& report) {
    return Reader(folder, report).read();
}

} // namespace sarnika::sources
