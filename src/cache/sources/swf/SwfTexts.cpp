#include "cache/sources/swf/SwfTexts.h"

#include <algorithm>
#include <array>
#include <climits>
#include <optional>
#include <string_view>
#include <unordered_set>

#include <zlib.h>

#ifdef SARNIKA_HAVE_LZMA
#include <lzma.h>
#endif

#include "cache/sources/ByteReader.h"

namespace sarnika::sources {
namespace {

constexpr std::size_t kFileHeaderSize = 8;
constexpr std::size_t kLzmaDataOffset = 17;
constexpr std::size_t kDecodeStep = std::size_t{256} * 1024;
// Sprites hold tags of their own; a sprite inside a sprite is already more than players take.
constexpr int kMaxSpriteDepth = 2;

// Tag codes.
constexpr unsigned kEnd = 0;
constexpr unsigned kDefineButton = 7;
constexpr unsigned kDoAction = 12;
constexpr unsigned kPlaceObject2 = 26;
constexpr unsigned kDefineButton2 = 34;
constexpr unsigned kDefineSprite = 39;
constexpr unsigned kImportAssets = 57;
constexpr unsigned kDoInitAction = 59;
constexpr unsigned kPlaceObject3 = 70;
constexpr unsigned kImportAssets2 = 71;
constexpr unsigned kDoAbcPlain = 72;
constexpr unsigned kDoAbc = 82;

// Action codes.
constexpr std::uint8_t kActionGetUrl = 0x83;
constexpr std::uint8_t kActionConstantPool = 0x88;
constexpr std::uint8_t kActionPush = 0x96;

using Bytes = std::vector<std::uint8_t>;

// Calls `decode(out, room)` while it makes bytes and the limit allows; the output grows step by
// step, so that a length the movie only claims costs nothing.
template<typename Decode>
Bytes decodeInSteps(std::size_t limit, Decode decode) {
    Bytes out;
    while (out.size() < limit) {
        const std::size_t before = out.size();
        const std::size_t room = std::min(kDecodeStep, limit - before);
        out.resize(before + room);
        const std::size_t made = decode(out.data() + before, room);
        out.resize(before + made);
        if (made < room) {
            break;
        }
    }
    return out;
}

Bytes inflateBody(std::span<const std::uint8_t> data, std::size_t limit) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return {};
    }
    // zlib's API is not const-correct; it never writes through next_in.
    stream.next_in =
        const_cast<Bytef*>(data.data()); // NOLINT(cppcoreguidelines-pro-type-const-cast)
    stream.avail_in = static_cast<uInt>(std::min<std::size_t>(data.size(), UINT_MAX));
    bool finished = false;
    Bytes out = decodeInSteps(limit, [&](std::uint8_t* to, std::size_t room) -> std::size_t {
        if (finished) {
            return 0;
        }
        stream.next_out = to;
        stream.avail_out = static_cast<uInt>(room);
        const int result = inflate(&stream, Z_SYNC_FLUSH);
        const std::size_t made = room - stream.avail_out;
        // The end of the stream, damage, or input cut short: what came out is all there is.
        finished = result != Z_OK || (stream.avail_in == 0 && stream.avail_out != 0);
        return made;
    });
    inflateEnd(&stream);
    return out;
}

#ifdef SARNIKA_HAVE_LZMA
// ZWS keeps the compressed length at 8..11, the five LZMA property bytes at 12..16 (the last
// four the dictionary size) and raw LZMA data from 17 on.
Bytes lzmaBody(std::span<const std::uint8_t> file, std::size_t limit) {
    if (file.size() <= kLzmaDataOffset) {
        return {};
    }
    ByteReader reader(file.subspan(12, 5));
    const std::uint8_t properties = reader.u8().value_or(0);
    const std::uint32_t dictionary = reader.u32le().value_or(0);
    lzma_options_lzma options{};
    if (lzma_lzma_preset(&options, 0)) {
        return {};
    }
    options.lc = properties % 9U;
    options.lp = properties / 9U % 5U;
    options.pb = properties / 45U;
    // No match reaches further back than the output's length: a hostile dictionary size costs
    // no more memory than the movie may take.
    options.dict_size = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(
        dictionary, LZMA_DICT_SIZE_MIN, std::max<std::uint64_t>(limit, LZMA_DICT_SIZE_MIN)));
    const std::array<lzma_filter, 2> filters = {lzma_filter{LZMA_FILTER_LZMA1, &options},
                                                lzma_filter{LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&stream, filters.data()) != LZMA_OK) {
        return {};
    }
    const std::span<const std::uint8_t> data = file.subspan(kLzmaDataOffset);
    stream.next_in = data.data();
    stream.avail_in = data.size();
    bool finished = false;
    Bytes out = decodeInSteps(limit, [&](std::uint8_t* to, std::size_t room) -> std::size_t {
        if (finished) {
            return 0;
        }
        stream.next_out = to;
        stream.avail_out = room;
        const lzma_ret result = lzma_code(&stream, LZMA_RUN);
        const std::size_t made = room - stream.avail_out;
        finished = result != LZMA_OK || (stream.avail_in == 0 && stream.avail_out != 0);
        return made;
    });
    lzma_end(&stream);
    return out;
}
#endif

// The movie after its 8-byte file header, uncompressed.
Bytes movieBody(std::span<const std::uint8_t> movie, std::size_t limit) {
    if (movie.size() < kFileHeaderSize || movie[1] != 'W' || movie[2] != 'S') {
        return {};
    }
    const auto body = movie.subspan(kFileHeaderSize);
    switch (movie[0]) {
    case 'F':
        return {body.begin(),
                body.begin() + static_cast<std::ptrdiff_t>(std::min(body.size(), limit))};
    case 'C':
        return inflateBody(body, limit);
#ifdef SARNIKA_HAVE_LZMA
    case 'Z':
        return lzmaBody(movie, limit);
#endif
    default:
        return {};
    }
}

class TextCollector {
public:
    void add(std::string_view text) {
        if (text.empty() || std::any_of(text.begin(), text.end(), [](char c) {
                const auto byte = static_cast<unsigned char>(c);
                return byte < 0x20 || byte == 0x7f;
            })) {
            return;
        }
        if (m_seen.emplace(text).second) {
            m_texts.emplace_back(text);
        }
    }

    // Every zero-terminated run of printable bytes: the texts of action lists whose place in
    // a tag would take the whole tag's grammar to find.
    void addTerminatedRuns(std::string_view bytes) {
        std::size_t start = 0;
        for (std::size_t zero = bytes.find('\0'); zero != std::string_view::npos;
             zero = bytes.find('\0', start)) {
            std::size_t first = zero;
            while (first > start && static_cast<unsigned char>(bytes[first - 1]) >= 0x20 &&
                   bytes[first - 1] != 0x7f) {
                --first;
            }
            add(bytes.substr(first, zero - first));
            start = zero + 1;
        }
    }

    void addActions(std::string_view bytes) {
        ByteReader reader(bytes);
        while (reader.remaining() > 0) {
            const std::uint8_t code = reader.u8().value_or(0);
            if (code == 0) {
                return;
            }
            if (code < 0x80) {
                continue;
            }
            const auto length = reader.u16le();
            const auto payload = length ? reader.bytes(*length) : std::nullopt;
            if (!payload) {
                return;
            }
            ByteReader record(*payload);
            if (code == kActionConstantPool) {
                const std::uint16_t count = record.u16le().value_or(0);
                for (std::uint16_t i = 0; i < count && record.ok(); ++i) {
                    addTerminated(record);
                }
            } else if (code == kActionPush) {
                addPushed(record);
            } else if (code == kActionGetUrl) {
                addTerminated(record);
                addTerminated(record);
            }
        }
    }

    // The string pool of an ActionScript 3 block: after the integer, unsigned and double pools.
    void addAbcStrings(std::string_view bytes) {
        ByteReader reader(bytes);
        reader.skip(4); // minor and major version
        for (int pool = 0; pool < 2; ++pool) {
            const std::uint32_t count = u30(reader);
            for (std::uint32_t i = 1; i < count && reader.ok(); ++i) {
                u30(reader);
            }
        }
        const std::uint32_t doubles = u30(reader);
        if (doubles > 1) {
            reader.skip(std::size_t{doubles - 1} * 8);
        }
        const std::uint32_t strings = u30(reader);
        for (std::uint32_t i = 1; i < strings && reader.ok(); ++i) {
            if (const auto text = reader.bytes(u30(reader))) {
                add(*text);
            }
        }
    }

    void addTags(ByteReader& reader, int depth) {
        while (reader.remaining() >= 2) {
            const std::uint16_t head = reader.u16le().value_or(0);
            const unsigned code = head >> 6U;
            std::size_t length = head & 0x3fU;
            if (length == 0x3f) {
                length = reader.u32le().value_or(0);
            }
            // A movie cut short still gives the texts of its last tag's first part.
            const auto body = reader.bytes(std::min(length, reader.remaining())).value_or("");
            addTag(code, body, depth);
            if (code == kEnd) {
                return;
            }
        }
    }

    std::vector<std::string> take() { return std::move(m_texts); }

private:
    void addTerminated(ByteReader& reader) {
        if (const auto text = reader.cString()) {
            add(*text);
        }
    }

    void addPushed(ByteReader& reader) {
        while (reader.remaining() > 0) {
            switch (reader.u8().value_or(0xff)) {
            case 0: // string
                addTerminated(reader);
                break;
            case 2: // null
            case 3: // undefined
                break;
            case 4: // register
            case 5: // boolean
            case 8: // constant, 8-bit index
                reader.skip(1);
                break;
            case 9: // constant, 16-bit index
                reader.skip(2);
                break;
            case 1: // float
            case 7: // integer
                reader.skip(4);
                break;
            case 6: // double
                reader.skip(8);
                break;
            default:
                return;
            }
        }
    }

    static std::uint32_t u30(ByteReader& reader) {
        std::uint32_t value = 0;
        for (unsigned shift = 0; shift < 35; shift += 7) {
            const auto byte = reader.u8();
            if (!byte) {
                return 0;
            }
            value |= static_cast<std::uint32_t>(*byte & 0x7fU) << shift;
            if ((*byte & 0x80U) == 0) {
                break;
            }
        }
        return value;
    }

    void addTag(unsigned code, std::string_view body, int depth) {
        ByteReader reader(body);
        switch (code) {
        case kDoAction:
            addActions(body);
            break;
        case kDoInitAction:
            addActions(body.substr(std::min<std::size_t>(2, body.size())));
            break;
        case kDefineSprite:
            if (depth < kMaxSpriteDepth && reader.skip(4)) {
                addTags(reader, depth + 1);
            }
            break;
        case kDefineButton:
        case kDefineButton2:
        case kPlaceObject2:
        case kPlaceObject3:
            addTerminatedRuns(body);
            break;
        case kImportAssets:
        case kImportAssets2:
            addTerminated(reader);
            break;
        case kDoAbc:
            reader.skip(4);
            reader.cString();
            if (reader.ok()) {
                addAbcStrings(body.substr(reader.position()));
            }
            break;
        case kDoAbcPlain:
            addAbcStrings(body);
            break;
        default:
            break;
        }
    }

    std::vector<std::string> m_texts;
    std::unordered_set<std::string> m_seen;
};

} // namespace

std::vector<std::string> swfTexts(std::span<const std::uint8_t> movie) {
    const Bytes body = movieBody(movie, kSwfTextsLimit);
    if (body.empty()) {
        return {};
    }
    // The stage rectangle takes 5 bits for its field width, then four fields of that width;
    // the frame rate and count follow.
    const std::size_t rectBits = 5 + 4 * static_cast<std::size_t>(body[0] >> 3U);
    ByteReader reader(body);
    if (!reader.skip((rectBits + 7) / 8 + 4)) {
        return {};
    }
    TextCollector texts;
    texts.addTags(reader, 0);
    return texts.take();
}

} // namespace sarnika::sources
