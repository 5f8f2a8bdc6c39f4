#include "cache/sources/msiecf/IndexDat.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <set>

#include "cache/sources/ByteReader.h"
#include "cache/sources/FileAccess.h"

namespace sarnika::sources {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kIe5Signature = "Client UrlCache MMF Ver 5.2\0"sv;
constexpr std::string_view kWineSignature = "WINE URLCache Ver 0.2012001\0"sv;
constexpr std::string_view kClientPrefix = "Client UrlCache MMF Ver "sv;
constexpr std::size_t kSignatureSize = 28;

constexpr std::size_t kHeaderSize = 72;
constexpr std::size_t kDirectoryCountOffset = 72;
constexpr std::size_t kDirectoryTableOffset = 76;
constexpr std::size_t kDirectoryEntrySize = 12;
constexpr std::size_t kAllocationBitmapOffset = 0x250;
constexpr std::size_t kMaxDirectories =
    (kAllocationBitmapOffset - kDirectoryTableOffset) / kDirectoryEntrySize;

constexpr std::uint64_t kBlockSize = 128;
constexpr std::size_t kHashHeaderSize = 16;
constexpr std::size_t kHashEntrySize = 8;
// The fixed part of a URL record; its strings follow it.
constexpr std::size_t kUrlFixedSize = 96;

constexpr std::uint32_t kUninitialized1 = 0x0BADF00D;
constexpr std::uint32_t kUninitialized2 = 0xDEADBEEF;
// Deleted, free and redirect entries all carry the lowest flag bit.
constexpr std::uint32_t kHashNotUrl = 0x01;

std::uint32_t u32At(std::string_view bytes, std::size_t offset) {
    ByteReader reader(bytes);
    reader.seek(offset);
    return reader.u32le().value_or(0);
}

std::uint64_t u64At(std::string_view bytes, std::size_t offset) {
    ByteReader reader(bytes);
    reader.seek(offset);
    return reader.u64le().value_or(0);
}

Result<std::vector<std::string>> readCacheDirectories(std::string_view bytes) {
    const std::uint32_t count = u32At(bytes, kDirectoryCountOffset);
    if (count > kMaxDirectories) {
        return makeError(Error::Code::Malformed,
                         "index.dat lists " + std::to_string(count) + " cache directories");
    }
    std::vector<std::string> directories;
    ByteReader reader(bytes);
    reader.seek(kDirectoryTableOffset);
    for (std::uint32_t i = 0; i < count; ++i) {
        reader.skip(4); // number of files in the directory
        const auto name = reader.bytes(8);
        if (!name) {
            return makeError(Error::Code::Malformed, "index.dat ends in its directory table");
        }
        directories.emplace_back(name->substr(0, name->find('\0')));
    }
    return directories;
}

// Offsets of the records the hash tables hold as URLs, sorted and without repeats.
Result<std::vector<std::uint32_t>> urlOffsetsFromHashTables(std::string_view bytes,
                                                            ReadReport& report) {
    std::vector<std::uint32_t> offsets;
    std::set<std::uint32_t> visited;
    std::uint32_t tableOffset = u32At(bytes, 32);
    while (tableOffset != 0) {
        if (!visited.insert(tableOffset).second) {
            report.skip("index.dat hash tables loop back to " + std::to_string(tableOffset));
            break;
        }
        ByteReader table(bytes);
        table.seek(tableOffset);
        const auto signature = table.bytes(4);
        const auto blocks = table.u32le();
        const auto next = table.u32le();
        const std::uint64_t tableSize = blocks.value_or(0) * kBlockSize;
        if (!signature || *signature != "HASH" || tableSize <= kHashHeaderSize ||
            tableOffset + tableSize > bytes.size()) {
            std::string why =
                "index.dat hash table at " + std::to_string(tableOffset) + " is damaged";
            if (visited.size() == 1) {
                return makeError(Error::Code::Malformed, std::move(why));
            }
            report.skip(std::move(why));
            break;
        }
        table.seek(tableOffset + kHashHeaderSize);
        const std::uint64_t entries = (tableSize - kHashHeaderSize) / kHashEntrySize;
        for (std::uint64_t i = 0; i < entries; ++i) {
            const std::uint32_t hash = table.u32le().value_or(0);
            const std::uint32_t record = table.u32le().value_or(0);
            if (hash == record || hash == kUninitialized1 || hash == kUninitialized2 ||
                (hash & kHashNotUrl) != 0) {
                continue;
            }
            offsets.push_back(record);
        }
        tableOffset = *next;
    }
    std::sort(offsets.begin(), offsets.end());
    offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
    return offsets;
}

// A NUL-terminated string at `offset` inside the record; 0 means none.
std::optional<std::string> recordString(std::string_view record, std::uint32_t offset) {
    if (offset == 0) {
        return std::string();
    }
    if (offset < kUrlFixedSize || offset >= record.size()) {
        return std::nullopt;
    }
    ByteReader reader(record);
    reader.seek(offset);
    const auto text = reader.cString();
    if (!text) {
        return std::nullopt;
    }
    return std::string(*text);
}

Result<IndexDatUrl> parseUrlRecord(std::string_view bytes, std::uint32_t offset) {
    const auto damaged = [offset](const char* what) {
        return makeError(Error::Code::Malformed,
                         "index.dat URL record at " + std::to_string(offset) + ": " + what);
    };
    const std::uint64_t blocks = u32At(bytes, offset + 4);
    const std::uint64_t size = blocks * kBlockSize;
    if (blocks == 0 || offset + size > bytes.size()) {
        return damaged("its blocks run past the end of the file");
    }
    const std::string_view record = bytes.substr(offset, size);

    IndexDatUrl url;
    url.offset = offset;
    url.secondaryTime = u64At(record, 8);
    url.primaryTime = u64At(record, 16);
    url.expires = fileTimeFromFat(u32At(record, 24));
    url.size = u64At(record, 32);
    url.exemptDelta = u32At(record, 44);
    url.cacheDirectory = static_cast<std::uint8_t>(record[56]);
    url.lastChecked = fileTimeFromFat(u32At(record, 80));
    url.hits = u32At(record, 84);

    auto location = recordString(record, u32At(record, 52));
    if (!location || location->empty()) {
        return damaged("no location inside the record");
    }
    if (location->size() > kMaxUrlBytes) {
        return damaged("location longer than 2 MiB");
    }
    url.location = std::move(*location);
    auto fileName = recordString(record, u32At(record, 60));
    if (!fileName) {
        return damaged("file name outside the record");
    }
    url.fileName = std::move(*fileName);
    auto extension = recordString(record, u32At(record, 76));
    if (!extension) {
        return damaged("file extension outside the record");
    }
    url.fileExtension = std::move(*extension);

    const std::uint32_t dataOffset = u32At(record, 68);
    const std::uint32_t dataSize = u32At(record, 72);
    if (dataOffset != 0 && dataSize != 0) {
        if (dataOffset < kUrlFixedSize || dataOffset > record.size() ||
            dataSize > record.size() - dataOffset) {
            return damaged("data outside the record");
        }
        url.data = std::string(record.substr(dataOffset, dataSize));
    }
    return url;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// Periodic histories key their records ":YYYYMMDDYYYYMMDD: user@url".
bool isPeriodicHistory(std::string_view location) {
    constexpr std::size_t kDigits = 16;
    if (location.size() < kDigits + 2 || location[0] != ':' || location[kDigits + 1] != ':') {
        return false;
    }
    return std::all_of(location.begin() + 1, location.begin() + 1 + kDigits,
                       [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<RecordKind> kindOf(std::string_view location) {
    static constexpr std::array<std::string_view, 7> kOtherContainers = {
        "iedownload:", "DOMStore:", "PrivacIE:", "ietld:", "feedplat:", "userdata:", "iecompat:"};
    if (startsWithNoCase(location, "Cookie:")) {
        return RecordKind::Cookie;
    }
    if (startsWithNoCase(location, "Visited:")) {
        return RecordKind::History;
    }
    if (isPeriodicHistory(location) || std::any_of(kOtherContainers.begin(), kOtherContainers.end(),
                                                   [location](std::string_view prefix) {
                                                       return startsWithNoCase(location, prefix);
                                                   })) {
        return std::nullopt;
    }
    return RecordKind::Content;
}

// Names from the file become path parts: anything that could leave the cache folder is refused.
bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(R"(/\:)"sv) == std::string_view::npos;
}

// The status line and header lines up to the empty line; IE appends "~U:<user>" lines after it.
std::string headersOf(std::string_view data) {
    data = data.substr(0, data.find('\0'));
    const std::size_t end = data.find("\r\n\r\n");
    if (end != std::string_view::npos) {
        data = data.substr(0, end + 4);
    }
    return std::string(data);
}

} // namespace

FileTime fileTimeFromFat(std::uint32_t dateTime) {
    if (dateTime == 0) {
        return 0;
    }
    const std::uint32_t date = dateTime & 0xFFFFU;
    const std::uint32_t time = dateTime >> 16U;
    const int year = 1980 + static_cast<int>(date >> 9U);
    const int month = static_cast<int>((date >> 5U) & 0x0FU);
    const int day = static_cast<int>(date & 0x1FU);
    const int hour = static_cast<int>(time >> 11U);
    const int minute = static_cast<int>((time >> 5U) & 0x3FU);
    const int second = static_cast<int>(time & 0x1FU) * 2;
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) {
        return 0;
    }
    const std::int64_t first = dayNumber(year, month, 1);
    const std::int64_t nextMonth =
        month == 12 ? dayNumber(year + 1, 1, 1) : dayNumber(year, month + 1, 1);
    if (day > nextMonth - first) {
        return 0;
    }
    const std::int64_t days = first + day - 1 - dayNumber(1601, 1, 1);
    const std::int64_t seconds =
        days * 86'400 + std::int64_t{hour} * 3'600 + std::int64_t{minute} * 60 + second;
    return static_cast<FileTime>(seconds) * kFileTimeTicksPerSecond;
}

Result<IndexDat> parseIndexDat(std::string_view bytes, ReadReport& report) {
    if (bytes.size() < kHeaderSize) {
        return makeError(Error::Code::Malformed, "too short for an index.dat");
    }
    IndexDat index;
    const std::string_view signature = bytes.substr(0, kSignatureSize);
    if (signature == kWineSignature) {
        index.writtenByWine = true;
    } else if (signature != kIe5Signature) {
        if (signature.substr(0, kClientPrefix.size()) == kClientPrefix) {
            const std::string_view version = signature.substr(kClientPrefix.size());
            return makeError(Error::Code::Unsupported,
                             "index.dat version " +
                                 std::string(version.substr(0, version.find('\0'))) +
                                 " is not read");
        }
        return makeError(Error::Code::Malformed, "not an index.dat");
    }

    auto directories = readCacheDirectories(bytes);
    if (!directories) {
        return directories.error();
    }
    index.cacheDirectories = std::move(*directories);

    auto offsets = urlOffsetsFromHashTables(bytes, report);
    if (!offsets) {
        return offsets.error();
    }
    // Records never share blocks: one that starts inside the previous one is refused, or a
    // single huge string could be counted once per record pointing into it.
    std::uint64_t previousEnd = 0;
    for (const std::uint32_t offset : *offsets) {
        if (offset < previousEnd) {
            report.skip("index.dat record at " + std::to_string(offset) +
                        " overlaps the one before it");
            continue;
        }
        if (offset % kBlockSize != 0 || offset >= bytes.size() ||
            bytes.size() - offset < kUrlFixedSize) {
            report.skip("index.dat hash entry points to " + std::to_string(offset) +
                        ", outside the records");
            continue;
        }
        const std::string_view kind = bytes.substr(offset, 4);
        if (kind == "REDR" || kind == "LEAK") {
            continue;
        }
        if (kind != "URL ") {
            report.skip("index.dat hash entry points to " + std::to_string(offset) +
                        ", where no record starts");
            continue;
        }
        auto url = parseUrlRecord(bytes, offset);
        if (!url) {
            report.skip(url.error().message);
            continue;
        }
        previousEnd = offset + std::uint64_t{u32At(bytes, offset + 4)} * kBlockSize;
        if (!report.admit(url->location.size() + url->data.size())) {
            break;
        }
        index.urls.push_back(std::move(*url));
    }
    return index;
}

std::vector<CacheRecord> indexDatRecords(const IndexDat& index, const std::filesystem::path& folder,
                                         std::string_view identityBase) {
    // Mapping: the primary FILETIME is the last access, the secondary one the server's
    // Last-Modified; expiry and last check are FAT local times taken as UTC (see fileTimeFromFat).
    std::vector<CacheRecord> records;
    records.reserve(index.urls.size());
    for (const IndexDatUrl& url : index.urls) {
        const std::optional<RecordKind> kind = kindOf(url.location);
        if (!kind) {
            continue;
        }
        CacheRecord record;
        record.kind = *kind;
        record.url = url.location;
        record.size = url.size;
        record.lastAccess = url.primaryTime;
        record.lastModified = url.secondaryTime;
        record.expires = url.expires;
        record.lastSync = url.lastChecked;
        record.useCount = url.hits;
        record.hitRate = url.hits;
        record.exemptDelta = url.exemptDelta;
        record.fileExtension = url.fileExtension;
        record.identity = std::string(identityBase) + "#" + std::to_string(url.offset);
        if (*kind == RecordKind::Content) {
            record.headers = headersOf(url.data);
            if (url.cacheDirectory < index.cacheDirectories.size() &&
                isPlainName(index.cacheDirectories[url.cacheDirectory]) &&
                isPlainName(url.fileName)) {
                const std::filesystem::path file =
                    folder / index.cacheDirectories[url.cacheDirectory] / url.fileName;
                record.localFile = file.string();
                record.body = [file](std::uint64_t limit) {
                    return readFileRange(file, 0, limit);
                };
            }
        }
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<CacheRecord> readIndexDat(const std::filesystem::path& indexDat, ReadReport& report) {
    auto file = ReadOnlyFile::open(indexDat);
    if (!file) {
        report.skip(file.error().message);
        return {};
    }
    if (file->size() > kIndexDatMaxBytes) {
        report.skip(indexDat.string() + " is too large for an index.dat");
        return {};
    }
    auto index = [&file, &report]() -> Result<IndexDat> {
        // The file's bytes go as soon as the records are parsed.
        auto bytes = file->readAll(file->size());
        if (!bytes) {
            return bytes.error();
        }
        return parseIndexDat(*bytes, report);
    }();
    if (!index) {
        report.skip(indexDat.string() + ": " + index.error().message);
        return {};
    }
    return indexDatRecords(*index, indexDat.parent_path(), fileIdentity(indexDat));
}

} // namespace sarnika::sources
