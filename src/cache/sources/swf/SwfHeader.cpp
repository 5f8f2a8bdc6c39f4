#include "cache/sources/swf/SwfHeader.h"

#include <algorithm>
#include <array>
#include <climits>
#include <string_view>

#include <zlib.h>

#ifdef SARNIKA_HAVE_LZMA
#include <lzma.h>
#endif

#include "cache/sources/ByteReader.h"
#include "cache/sources/FileAccess.h"

namespace sarnika::sources {
namespace {

constexpr std::size_t kFileHeaderSize = 8;
constexpr std::size_t kLzmaDataOffset = 17;
// A stage rectangle of 5 + 4 * 31 bits, the frame rate and the frame count.
constexpr std::size_t kMaxStageSize = 17 + 4;
// Even the smallest rectangle (no bits per field) takes one byte.
constexpr std::size_t kMinStageSize = 1 + 4;

using StageBytes = std::array<std::uint8_t, kMaxStageSize>;

Error malformed(std::string message) {
    return makeError(Error::Code::Malformed, std::move(message));
}

std::string printable(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            static constexpr std::string_view kHex = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[byte >> 4U];
            out += kHex[byte & 0x0FU];
        }
    }
    return out;
}

// The number of bytes a stage record takes, from its first byte.
std::size_t stageSize(std::uint8_t firstByte) {
    const unsigned bitsPerField = firstByte >> 3U;
    return (5 + 4 * bitsPerField + 7) / 8 + 4;
}

SwfStage parseStage(const StageBytes& bytes) {
    const unsigned bitsPerField = bytes[0] >> 3U;
    std::size_t bit = 5;
    const auto field = [&bytes, &bit, bitsPerField] {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < bitsPerField; ++i, ++bit) {
            value = (value << 1U) | ((bytes[bit / 8] >> (7 - bit % 8)) & 1U);
        }
        // Sign-extend from bitsPerField bits.
        if (bitsPerField > 0 && (value >> (bitsPerField - 1)) != 0) {
            return static_cast<std::int32_t>(static_cast<std::int64_t>(value) -
                                             (std::int64_t{1} << bitsPerField));
        }
        return static_cast<std::int32_t>(value);
    };
    SwfStage stage;
    stage.xMin = field();
    stage.xMax = field();
    stage.yMin = field();
    stage.yMax = field();
    ByteReader rest(std::span<const std::uint8_t>(bytes).subspan(stageSize(bytes[0]) - 4, 4));
    stage.frameRateFixed = rest.u16le().value_or(0);
    stage.frameCount = rest.u16le().value_or(0);
    return stage;
}

struct Decoded {
    StageBytes bytes{};
    std::size_t count = 0;
    std::string failure; // why the stream gave no more, when it failed
};

Decoded copyPlain(std::span<const std::uint8_t> data, std::size_t limit) {
    Decoded out;
    out.count = std::min(limit, data.size());
    std::copy_n(data.begin(), out.count, out.bytes.begin());
    return out;
}

// How many bytes of the stage record to decode in all: its first byte tells the rest.
std::size_t targetOf(const Decoded& decoded, std::size_t limit) {
    return decoded.count == 0 ? std::min<std::size_t>(1, limit)
                              : std::min(limit, stageSize(decoded.bytes[0]));
}

Decoded inflateHead(std::span<const std::uint8_t> data, std::size_t limit) {
    Decoded out;
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        out.failure = "zlib could not start";
        return out;
    }
    // zlib's API is not const-correct; it never writes through next_in.
    stream.next_in =
        const_cast<Bytef*>(data.data()); // NOLINT(cppcoreguidelines-pro-type-const-cast)
    stream.avail_in = static_cast<uInt>(std::min<std::size_t>(data.size(), UINT_MAX));
    int result = Z_OK;
    for (std::size_t target = targetOf(out, limit); out.count < target && result == Z_OK;
         target = targetOf(out, limit)) {
        stream.next_out = out.bytes.data() + out.count;
        stream.avail_out = static_cast<uInt>(target - out.count);
        const uInt inBefore = stream.avail_in;
        result = inflate(&stream, Z_SYNC_FLUSH);
        const std::size_t made = target - out.count - stream.avail_out;
        out.count += made;
        if (result == Z_OK && made == 0 && stream.avail_in == inBefore) {
            break;
        }
    }
    if (result == Z_DATA_ERROR || result == Z_NEED_DICT || result == Z_MEM_ERROR) {
        out.failure = std::string("damaged zlib data") +
                      (stream.msg != nullptr ? std::string(" (") + stream.msg + ")" : "");
    }
    inflateEnd(&stream);
    return out;
}

#ifdef SARNIKA_HAVE_LZMA
// ZWS keeps the five LZMA property bytes at 12..16 and raw LZMA data from 17 on.
Decoded lzmaHead(std::span<const std::uint8_t> file, std::size_t limit) {
    Decoded out;
    const std::uint8_t properties = file[12];
    lzma_options_lzma options{};
    if (lzma_lzma_preset(&options, 0)) {
        out.failure = "liblzma could not start";
        return out;
    }
    options.lc = properties % 9U;
    options.lp = properties / 9U % 5U;
    options.pb = properties / 45U;
    // The header lies in the first few bytes, so no match reaches further back than that; a
    // small dictionary keeps a hostile dictionary size from costing memory.
    options.dict_size = LZMA_DICT_SIZE_MIN;
    const std::array<lzma_filter, 2> filters = {lzma_filter{LZMA_FILTER_LZMA1, &options},
                                                lzma_filter{LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&stream, filters.data()) != LZMA_OK) {
        out.failure = "unsupported LZMA properties";
        return out;
    }
    const std::span<const std::uint8_t> data = file.subspan(kLzmaDataOffset);
    stream.next_in = data.data();
    stream.avail_in = data.size();
    for (std::size_t target = targetOf(out, limit); out.count < target;
         target = targetOf(out, limit)) {
        stream.next_out = out.bytes.data() + out.count;
        stream.avail_out = target - out.count;
        const std::size_t inBefore = stream.avail_in;
        const lzma_ret result = lzma_code(&stream, LZMA_RUN);
        const std::size_t made = target - out.count - stream.avail_out;
        out.count += made;
        if (result == LZMA_DATA_ERROR || result == LZMA_OPTIONS_ERROR || result == LZMA_MEM_ERROR) {
            out.failure = "damaged LZMA data";
            break;
        }
        if (result != LZMA_OK || (made == 0 && stream.avail_in == inBefore)) {
            break;
        }
    }
    lzma_end(&stream);
    return out;
}
#endif

std::string lengthWarning(std::uint64_t have, std::uint64_t declared, const char* what) {
    if (have < declared) {
        return "truncated: the file holds " + std::to_string(have) + " of the " +
               std::to_string(declared) + " " + what + " it declares";
    }
    if (have > declared) {
        return std::to_string(have - declared) + " bytes follow the declared end of the " + what;
    }
    return {};
}

// Writers of LZMA movies disagree on what the compressed length counts: most count the data
// after the five LZMA property bytes, others (as Flash's own tools did) count those bytes too.
// Either is a whole movie; only a length beyond both means the data ends early.
std::string lzmaLengthWarning(std::uint64_t fileSize, std::uint64_t declared) {
    constexpr std::uint64_t kPropertyBytes = 5;
    const std::uint64_t data = fileSize - std::min<std::uint64_t>(fileSize, kLzmaDataOffset);
    if (declared == data || declared == data + kPropertyBytes) {
        return {};
    }
    if (declared > data && declared < data + kPropertyBytes) {
        return lengthWarning(data + kPropertyBytes, declared, "compressed bytes");
    }
    return lengthWarning(data, declared, "compressed bytes");
}

} // namespace

const char* swfCompressionName(SwfCompression compression) {
    switch (compression) {
    case SwfCompression::Zlib:
        return "zlib";
    case SwfCompression::Lzma:
        return "lzma";
    case SwfCompression::None:
        break;
    }
    return "none";
}

bool swfLzmaAvailable() {
#ifdef SARNIKA_HAVE_LZMA
    return true;
#else
    return false;
#endif
}

Result<SwfHeader> readSwfHeader(std::span<const std::uint8_t> bytes, std::uint64_t fileSize) {
    bytes = bytes.first(std::min(bytes.size(), kSwfHeaderReadLimit));
    ByteReader reader(bytes);
    const auto signature = reader.bytes(3);
    const auto version = reader.u8();
    const auto declaredLength = reader.u32le();
    if (!signature || !version || !declaredLength) {
        return malformed("too short for a Flash movie (" + std::to_string(bytes.size()) +
                         " bytes)");
    }
    SwfHeader header;
    header.signature = std::string(*signature);
    if (header.signature == "FWS") {
        header.compression = SwfCompression::None;
    } else if (header.signature == "CWS") {
        header.compression = SwfCompression::Zlib;
    } else if (header.signature == "ZWS") {
        header.compression = SwfCompression::Lzma;
    } else {
        return malformed("not a Flash movie (signature \"" + printable(*signature) + "\")");
    }
    header.version = *version;
    header.declaredLength = *declaredLength;
    if (header.version == 0) {
        return malformed("Flash movie version 0 does not exist");
    }
    // Checked before anything is decompressed: the declared length includes the file header
    // and the stage record that follows it.
    if (header.declaredLength < kFileHeaderSize + kMinStageSize) {
        return malformed("declared length " + std::to_string(header.declaredLength) +
                         " is too short for the movie's own header");
    }
    const std::size_t limit =
        std::min<std::size_t>(kMaxStageSize, header.declaredLength - kFileHeaderSize);

    Decoded decoded;
    switch (header.compression) {
    case SwfCompression::None:
        decoded = copyPlain(bytes.subspan(kFileHeaderSize), limit);
        header.warning = lengthWarning(fileSize, header.declaredLength, "bytes");
        break;
    case SwfCompression::Zlib:
        decoded = inflateHead(bytes.subspan(kFileHeaderSize), limit);
        break;
    case SwfCompression::Lzma: {
        const auto compressedLength = reader.u32le();
        if (!compressedLength || bytes.size() < kLzmaDataOffset) {
            return malformed("too short for an LZMA Flash movie (" + std::to_string(bytes.size()) +
                             " bytes)");
        }
        header.warning = lzmaLengthWarning(fileSize, *compressedLength);
#ifdef SARNIKA_HAVE_LZMA
        decoded = lzmaHead(bytes, limit);
        break;
#else
        return header;
#endif
    }
    }

    const std::size_t needed = decoded.count > 0 ? stageSize(decoded.bytes[0]) : kMinStageSize;
    if (decoded.count < needed) {
        if (!decoded.failure.empty()) {
            return malformed(decoded.failure + " before the end of the movie header");
        }
        if (needed > header.declaredLength - kFileHeaderSize) {
            return malformed("declared length " + std::to_string(header.declaredLength) +
                             " ends inside the movie header");
        }
        return malformed(bytes.size() < fileSize ? "no movie header in the first " +
                                                       std::to_string(bytes.size()) + " bytes"
                                                 : "the file ends inside the movie header");
    }
    header.stage = parseStage(decoded.bytes);
    return header;
}

Result<SwfHeader> readSwfHeaderFile(const std::filesystem::path& path, Links links) {
    auto file = ReadOnlyFile::open(path, links);
    if (!file) {
        return file.error();
    }
    auto bytes = file->read(0, kSwfHeaderReadLimit);
    if (!bytes) {
        return bytes.error();
    }
    const std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(bytes->data()),
                                             bytes->size());
    return readSwfHeader(view, file->size());
}

} // namespace sarnika::sources
