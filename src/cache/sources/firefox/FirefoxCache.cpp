#include "cache/sources/firefox/FirefoxCache.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "cache/sources/ByteReader.h"
#include "cache/sources/FileAccess.h"

namespace sarnika::sources {
namespace {

constexpr std::uint64_t kChunkSize = std::uint64_t{256} * 1024;
constexpr std::uint32_t kEncryptedFlag = 0x80000000U;
constexpr std::uint32_t kNoExpiration = 0xFFFFFFFFU;
constexpr std::uint32_t kNewestVersion = 4;
// Trailers of two words carry the metadata version first; anything above this is not a version.
constexpr std::uint32_t kHighestVersionWord = 16;
// One read of this much from the end covers the metadata of nearly every entry; HTTPS entries
// carry several KiB of certificates in theirs.
constexpr std::uint64_t kFirstRead = std::uint64_t{16} * 1024;

std::uint32_t wordBefore(std::string_view bytes, std::size_t end) {
    ByteReader reader(bytes.substr(end - 4, 4));
    return reader.u32be().value_or(0);
}

Error malformed(std::string message) {
    return makeError(Error::Code::Malformed, std::move(message));
}

// `value` ends with one CR LF per header line; the record wants the empty line after them too.
std::string headerBlock(std::string_view value) {
    if (value.empty()) {
        return {};
    }
    std::string block(value);
    if (block.size() < 2 || block.compare(block.size() - 2, 2, "\r\n") != 0) {
        block += "\r\n";
    }
    if (block.size() < 4 || block.compare(block.size() - 4, 4, "\r\n\r\n") != 0) {
        block += "\r\n";
    }
    return block;
}

// Parses the metadata in [metaStart, metaEnd) of the file; `tail` starts at `tailStart`.
// A non-zero `versionWord` is the version the trailer announced.
Result<FirefoxEntryInfo> parseMetadata(std::string_view tail, std::uint64_t tailStart,
                                       std::uint64_t metaStart, std::uint64_t metaEnd,
                                       std::uint32_t versionWord) {
    if (metaStart < tailStart) {
        return malformed("metadata begins before the bytes read");
    }
    if (metaEnd - metaStart > kFirefoxMaxMetadata) {
        return malformed("metadata of " + std::to_string(metaEnd - metaStart) + " bytes");
    }
    ByteReader reader(tail.substr(static_cast<std::size_t>(metaStart - tailStart),
                                  static_cast<std::size_t>(metaEnd - metaStart)));
    const std::uint64_t chunks = (metaStart + kChunkSize - 1) / kChunkSize;
    if (!reader.u32be() || !reader.skip(static_cast<std::size_t>(chunks * 2))) {
        return malformed("chunk hashes run past the metadata");
    }
    FirefoxEntryInfo info;
    info.bodySize = metaStart;
    const auto version = reader.u32be();
    if (!version) {
        return malformed("metadata header cut short");
    }
    info.version = *version;
    if (info.version == 0 || info.version > kNewestVersion) {
        return makeError(Error::Code::Unsupported,
                         "metadata version " + std::to_string(info.version));
    }
    if (versionWord != 0 && versionWord != info.version) {
        return malformed("trailer version " + std::to_string(versionWord) +
                         " differs from metadata version " + std::to_string(info.version));
    }
    const auto fetchCount = reader.u32be();
    const auto lastFetched = reader.u32be();
    const auto lastModified = reader.u32be();
    (void)reader.u32be(); // frecency
    const auto expiration = reader.u32be();
    const auto keySize = reader.u32be();
    // Version 1 headers lack the flags word.
    const auto flags = info.version >= 2 ? reader.u32be() : std::optional<std::uint32_t>(0);
    if (!fetchCount || !lastFetched || !lastModified || !expiration || !keySize || !flags) {
        return malformed("metadata header cut short");
    }
    info.fetchCount = *fetchCount;
    info.lastFetched = *lastFetched;
    info.lastModified = *lastModified;
    info.expiration = *expiration;
    info.flags = *flags;
    const auto key = reader.bytes(*keySize);
    const auto terminator = reader.u8();
    if (!key || !terminator) {
        return malformed("key runs past the metadata");
    }
    if (*terminator != 0) {
        return malformed("key is not NUL-terminated");
    }
    if (key->size() > kMaxUrlBytes) {
        return malformed("key longer than 2 MiB");
    }
    info.key = std::string(*key);
    info.url = urlFromFirefoxKey(info.key);
    info.headers = responseHeadOf(reader);
    return info;
}

FileTime fileTimeOfSeconds(std::uint32_t seconds) {
    return seconds == 0 ? 0 : fileTimeFromUnixSeconds(seconds);
}

// Reads the last `length` bytes of the file into `bytes`, failing when fewer arrive (the file
// changed).
Status readTail(const ReadOnlyFile& file, std::uint64_t length, std::string& bytes) {
    if (Status read = file.readInto(file.size() - length, length, bytes); !read) {
        return read;
    }
    if (bytes.size() != length) {
        return makeError(Error::Code::Unreadable, "file changed while being read");
    }
    return {};
}

// Reads the entry's metadata through `tail`, a buffer that serves entry after entry.
Result<FirefoxEntryInfo> readEntryInfo(const ReadOnlyFile& file, std::string& tail) {
    const std::uint64_t size = file.size();
    if (size == 0) {
        return malformed("empty file");
    }
    if (Status read = readTail(file, std::min(size, kFirstRead), tail); !read) {
        return read.error();
    }
    const std::string_view last =
        std::string_view(tail).substr(tail.size() - std::min<std::size_t>(tail.size(), 8));
    const std::uint64_t needed = firefoxTailLength(last, size);
    if (needed > tail.size()) {
        if (Status read = readTail(file, needed, tail); !read) {
            return read.error();
        }
    }
    return parseFirefoxEntry(tail, size);
}

BodyReader bodyReader(std::string path, std::uint64_t fileSize, std::uint64_t bodySize) {
    return [path = std::move(path), fileSize,
            bodySize](std::uint64_t limit) -> Result<std::string> {
        auto file = ReadOnlyFile::open(path.c_str());
        if (!file) {
            return file.error();
        }
        // The body's length comes from the listing; a rewritten entry has another layout.
        if (file->size() != fileSize) {
            return makeError(Error::Code::Unreadable, path + ": entry changed since it was listed");
        }
        const std::uint64_t wanted = std::min(limit, bodySize);
        auto body = file->read(0, wanted);
        if (body && body->size() != wanted) {
            return makeError(Error::Code::Unreadable, path + ": body cut short");
        }
        return body;
    };
}

} // namespace

std::string responseHeadOf(ByteReader& elements) {
    // Elements are name/value pairs of C strings; a damaged pair ends them, the earlier stay.
    while (elements.remaining() > 0) {
        const auto name = elements.cString();
        const auto value = elements.cString();
        if (!name || !value) {
            break;
        }
        if (*name == "response-head") {
            return headerBlock(*value);
        }
    }
    return {};
}

std::uint64_t firefoxTailLength(std::string_view lastBytes, std::uint64_t fileSize) {
    if (lastBytes.size() < 4 || fileSize < 4) {
        return 0;
    }
    std::uint64_t span = 0;
    const auto consider = [&span, fileSize](std::uint64_t offset, std::uint64_t trailer) {
        if (offset <= fileSize - trailer && fileSize - offset <= kFirefoxMaxMetadata) {
            span = std::max(span, fileSize - offset);
        }
    };
    const std::uint32_t last = wordBefore(lastBytes, lastBytes.size());
    if (lastBytes.size() >= 8 && fileSize >= 8) {
        const std::uint32_t versionWord = wordBefore(lastBytes, lastBytes.size() - 4);
        if (versionWord >= kNewestVersion && versionWord <= kHighestVersionWord) {
            consider(last & ~kEncryptedFlag, 8);
        }
    }
    consider(last, 4);
    return span;
}

Result<FirefoxEntryInfo> parseFirefoxEntry(std::string_view tail, std::uint64_t fileSize) {
    if (tail.size() > fileSize) {
        return malformed("more bytes than the file holds");
    }
    if (tail.size() < 4) {
        return malformed("too short for a cache entry");
    }
    const std::uint64_t tailStart = fileSize - tail.size();
    const std::uint32_t last = wordBefore(tail, tail.size());

    // Version 4 ends with [version][offset | encrypted flag]; earlier versions with the offset.
    std::optional<Error> twoWordError;
    if (tail.size() >= 8) {
        const std::uint32_t versionWord = wordBefore(tail, tail.size() - 4);
        if (versionWord >= kNewestVersion && versionWord <= kHighestVersionWord) {
            const std::uint64_t offset = last & ~kEncryptedFlag;
            if ((last & kEncryptedFlag) != 0) {
                twoWordError = makeError(Error::Code::Unsupported, "encrypted entry");
            } else if (offset > fileSize - 8) {
                twoWordError = malformed("metadata offset " + std::to_string(offset) +
                                         " past the end of the file");
            } else {
                auto info = parseMetadata(tail, tailStart, offset, fileSize - 8, versionWord);
                if (info) {
                    return info;
                }
                twoWordError = info.error();
            }
        }
    }
    if (last > fileSize - 4) {
        if (twoWordError) {
            return *twoWordError;
        }
        return malformed("metadata offset " + std::to_string(last) + " past the end of the file");
    }
    auto info = parseMetadata(tail, tailStart, last, fileSize - 4, 0);
    if (!info && twoWordError) {
        return *twoWordError;
    }
    return info;
}

std::string urlFromFirefoxKey(std::string_view key) {
    std::size_t at = 0;
    while (at < key.size()) {
        if (key[at] == ':') {
            return std::string(key.substr(at + 1));
        }
        // A tag is a letter and a value ended by a comma; a doubled comma belongs to the value.
        std::size_t end = at + 1;
        while (end < key.size()) {
            if (key[end] == ',') {
                if (end + 1 < key.size() && key[end + 1] == ',') {
                    end += 2;
                    continue;
                }
                break;
            }
            ++end;
        }
        if (end >= key.size()) {
            break;
        }
        at = end + 1;
    }
    return std::string(key);
}

// Times: lastSync and lastAccess are the last fetch (cache2 keeps no separate response time),
// expires is the entry's expiration, lastModified stays 0 because the metadata's modification
// time is the entry's own; useCount is the fetch count.
std::vector<CacheRecord> readFirefoxCache2(const std::filesystem::path& cache2Dir,
                                           ReadReport& report) {
    std::vector<CacheRecord> records;
    readFirefoxCache2(cache2Dir, report, [&records](CacheRecord& record) {
        records.push_back(std::move(record));
        return true;
    });
    return records;
}

void readFirefoxCache2(const std::filesystem::path& cache2Dir, ReadReport& report,
                       const RecordSink& sink, SourcePart part) {
    const std::filesystem::path entriesDir = cache2Dir / "entries";
    auto folder = ReadOnlyFolder::open(entriesDir);
    auto listed =
        folder ? folder->regularFiles() : Result<std::vector<std::string>>(folder.error());
    if (!listed) {
        // Told once for the whole cache, by its first part.
        if (part.index == 0) {
            report.skip(listed.error().message);
        }
        return;
    }
    // Names sort as plain strings: comparing paths part by part costs as much as the reading.
    std::vector<std::string>& names = *listed;
    std::sort(names.begin(), names.end());

    const std::string prefix = entriesDir.string() + "/";
    std::string tail;
    for (std::size_t at = part.begin(names.size()); at < part.end(names.size()); ++at) {
        const std::string& name = names[at];
        auto file = folder->openFile(name);
        if (!file) {
            report.skip(file.error().message);
            continue;
        }
        auto info = readEntryInfo(*file, tail);
        if (!info) {
            report.skip(name + ": " + info.error().message);
            continue;
        }
        if (!report.admit(info->key.size() + info->headers.size())) {
            break;
        }
        CacheRecord record;
        record.kind = RecordKind::Content;
        record.url = std::move(info->url);
        record.headers = std::move(info->headers);
        record.size = info->bodySize;
        record.lastAccess = fileTimeOfSeconds(info->lastFetched);
        record.lastSync = record.lastAccess;
        record.expires =
            info->expiration == kNoExpiration ? 0 : fileTimeOfSeconds(info->expiration);
        record.useCount = info->fetchCount;
        record.identity = file->identity();
        record.body = bodyReader(prefix + name, file->size(), info->bodySize);
        if (!sink(record)) {
            return;
        }
    }
}

} // namespace sarnika::sources
