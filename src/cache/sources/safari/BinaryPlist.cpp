#include "cache/sources/safari/BinaryPlist.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

#include "base/Text.h"
#include "cache/sources/ByteReader.h"

namespace sarnika::sources {

namespace {

constexpr std::string_view kMagic = "bplist00";
constexpr std::size_t kTrailerBytes = 32;

Error malformed(std::string what) {
    return Error{Error::Code::Malformed, "binary property list: " + std::move(what)};
}

// An unsigned big-endian number of 1 to 8 bytes.
std::uint64_t bigEndian(std::string_view bytes) {
    std::uint64_t value = 0;
    for (const char c : bytes) {
        value = (value << 8U) | static_cast<std::uint8_t>(c);
    }
    return value;
}

class Decoder {
public:
    explicit Decoder(std::string_view bytes) : m_bytes(bytes) {}

    Result<PlistValue> decode() {
        if (m_bytes.size() > kPlistMaxBytes) {
            return Error{Error::Code::TooLarge, "binary property list larger than 16 MiB"};
        }
        if (m_bytes.size() < kMagic.size() + 1 + kTrailerBytes || !m_bytes.starts_with(kMagic)) {
            return malformed("no bplist00 header and trailer");
        }
        const std::string_view trailer = m_bytes.substr(m_bytes.size() - kTrailerBytes);
        m_offsetSize = static_cast<std::uint8_t>(trailer[6]);
        m_refSize = static_cast<std::uint8_t>(trailer[7]);
        const std::uint64_t count = bigEndian(trailer.substr(8, 8));
        const std::uint64_t top = bigEndian(trailer.substr(16, 8));
        const std::uint64_t table = bigEndian(trailer.substr(24, 8));
        const std::uint64_t tableEnd = m_bytes.size() - kTrailerBytes;
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8) {
            return malformed("offset or reference size out of 1 to 8");
        }
        if (count == 0 || count > kPlistMaxObjects || top >= count) {
            return malformed("object count " + std::to_string(count) + " or top object " +
                             std::to_string(top) + " out of range");
        }
        if (table < kMagic.size() || table > tableEnd || count * m_offsetSize > tableEnd - table) {
            return malformed("offset table outside the bytes");
        }
        m_count = count;
        m_table = table;
        m_objectsEnd = table;
        m_visiting.assign(count, false);
        return object(top, 0);
    }

private:
    // Where an object starts, from the offset table.
    std::optional<std::size_t> offsetOf(std::uint64_t ref) const {
        const std::uint64_t offset =
            bigEndian(m_bytes.substr(m_table + ref * m_offsetSize, m_offsetSize));
        if (offset < kMagic.size() || offset >= m_objectsEnd) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(offset);
    }

    // The count of a marker's low nibble, or of the integer object after it when that is 0xF.
    std::optional<std::uint64_t> countOf(std::uint8_t marker, ByteReader& in) {
        if ((marker & 0x0FU) != 0x0FU) {
            return marker & 0x0FU;
        }
        const auto intMarker = in.u8();
        if (!intMarker || (*intMarker & 0xF0U) != 0x10U || (*intMarker & 0x0FU) > 3) {
            return std::nullopt;
        }
        const auto bytes = in.bytes(std::size_t{1} << (*intMarker & 0x0FU));
        if (!bytes) {
            return std::nullopt;
        }
        return bigEndian(*bytes);
    }

    Status produce(std::uint64_t textBytes) {
        if (++m_values > kPlistMaxValues) {
            return malformed("more than " + std::to_string(kPlistMaxValues) + " values");
        }
        m_textBytes += textBytes;
        if (m_textBytes > kPlistMaxTextBytes) {
            return malformed("more than 32 MiB of strings and data");
        }
        return {};
    }

    Result<PlistValue> object(std::uint64_t ref, int depth) {
        if (ref >= m_count) {
            return malformed("reference " + std::to_string(ref) + " to a missing object");
        }
        const auto offset = offsetOf(ref);
        if (!offset) {
            return malformed("object " + std::to_string(ref) + " lies outside the objects");
        }
        ByteReader in(m_bytes.substr(0, m_objectsEnd));
        in.seek(*offset);
        const std::uint8_t marker = *in.u8();
        const std::uint8_t low = marker & 0x0FU;
        PlistValue value;
        switch (marker >> 4U) {
        case 0x0:
            if (marker == 0x08 || marker == 0x09) {
                value.type = PlistValue::Type::Boolean;
                value.boolean = marker == 0x09;
            } else if (marker != 0x00 && marker != 0x0F) {
                return malformed("unknown marker " + std::to_string(marker));
            }
            break;
        case 0x1: {
            if (low > 4) {
                return malformed("integer of 2^" + std::to_string(low) + " bytes");
            }
            const auto bytes = in.bytes(std::size_t{1} << low);
            if (!bytes) {
                return malformed("integer cut short");
            }
            std::string_view digits = *bytes;
            if (low == 4) {
                if (bigEndian(digits.substr(0, 8)) != 0) {
                    return malformed("integer beyond 64 bits");
                }
                digits = digits.substr(8);
            }
            value.type = PlistValue::Type::Integer;
            value.integer = static_cast<std::int64_t>(bigEndian(digits));
            break;
        }
        case 0x2:
        case 0x3: {
            const bool date = (marker >> 4U) == 0x3;
            if ((date && marker != 0x33) || (!date && low != 2 && low != 3)) {
                return malformed("unknown marker " + std::to_string(marker));
            }
            const auto bytes = in.bytes(std::size_t{1} << low);
            if (!bytes) {
                return malformed("number cut short");
            }
            const std::uint64_t bits = bigEndian(*bytes);
            value.type = date ? PlistValue::Type::Date : PlistValue::Type::Real;
            value.real =
                low == 2
                    ? static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits)))
                    : std::bit_cast<double>(bits);
            break;
        }
        case 0x4:
        case 0x5:
        case 0x6: {
            const auto count = countOf(marker, in);
            const bool wide = (marker >> 4U) == 0x6;
            if (!count || *count > in.remaining() / (wide ? 2 : 1)) {
                return malformed("string or data of object " + std::to_string(ref) +
                                 " runs past the objects");
            }
            const std::string_view bytes =
                *in.bytes(static_cast<std::size_t>(*count) * (wide ? 2 : 1));
            value.type = (marker >> 4U) == 0x4 ? PlistValue::Type::Data : PlistValue::Type::String;
            value.text = wide ? utf8FromUtf16be(bytes) : std::string(bytes);
            break;
        }
        case 0x8: {
            const auto bytes = low > 7 ? std::nullopt : in.bytes(std::size_t{low} + 1);
            if (!bytes) {
                return malformed("identifier cut short");
            }
            value.type = PlistValue::Type::Uid;
            value.integer = static_cast<std::int64_t>(bigEndian(*bytes));
            break;
        }
        case 0xA:
        case 0xC:
        case 0xD: {
            SARNIKA_TRY(container(marker, ref, in, depth, value));
            break;
        }
        default:
            return malformed("unknown marker " + std::to_string(marker));
        }
        SARNIKA_TRY(produce(value.text.size()));
        return value;
    }

    Status container(std::uint8_t marker, std::uint64_t ref, ByteReader& in, int depth,
                     PlistValue& value) {
        if (depth >= kPlistMaxDepth) {
            return malformed("nested deeper than " + std::to_string(kPlistMaxDepth));
        }
        if (m_visiting[ref]) {
            return malformed("object " + std::to_string(ref) + " contains itself");
        }
        const bool dict = (marker >> 4U) == 0xD;
        const auto count = countOf(marker, in);
        const std::uint64_t refs = count.value_or(0) * (dict ? 2 : 1);
        if (!count || *count > kPlistMaxObjects || refs * m_refSize > in.remaining()) {
            return malformed("references of object " + std::to_string(ref) +
                             " run past the objects");
        }
        std::vector<std::uint64_t> children(refs);
        for (std::uint64_t& child : children) {
            child = bigEndian(*in.bytes(m_refSize));
        }
        m_visiting[ref] = true;
        value.type = dict ? PlistValue::Type::Dict : PlistValue::Type::Array;
        const std::uint64_t items = *count;
        value.items.reserve(items);
        for (std::uint64_t i = 0; i < items; ++i) {
            if (dict) {
                auto key = object(children[i], depth + 1);
                if (!key) {
                    return key.error();
                }
                if (!key->is(PlistValue::Type::String)) {
                    return malformed("dictionary key of object " + std::to_string(ref) +
                                     " is no string");
                }
                value.keys.push_back(std::move(key->text));
            }
            auto item = object(children[dict ? items + i : i], depth + 1);
            if (!item) {
                return item.error();
            }
            value.items.push_back(std::move(*item));
        }
        m_visiting[ref] = false;
        return {};
    }

    std::string_view m_bytes;
    std::uint8_t m_offsetSize = 0;
    std::uint8_t m_refSize = 0;
    std::uint64_t m_count = 0;
    std::size_t m_table = 0;
    std::size_t m_objectsEnd = 0;
    std::vector<bool> m_visiting;
    std::uint64_t m_values = 0;
    std::uint64_t m_textBytes = 0;
};

} // namespace

const PlistValue* PlistValue::find(std::string_view key) const {
    if (type != Type::Dict) {
        return nullptr;
    }
    const auto it = std::find(keys.begin(), keys.end(), key);
    return it == keys.end() ? nullptr : &items[static_cast<std::size_t>(it - keys.begin())];
}

Result<PlistValue> parseBinaryPlist(std::string_view bytes) {
    return Decoder(bytes).decode();
}

std::string utf8FromUtf16be(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto unit = [bytes](std::size_t i) {
        return static_cast<std::uint32_t>((static_cast<std::uint8_t>(bytes[2 * i]) << 8U) |
                                          static_cast<std::uint8_t>(bytes[2 * i + 1]));
    };
    const std::size_t units = bytes.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) < 0xE000) {
            appendUtf8(out, 0x10000 + ((code - 0xD800) << 10U) + (unit(i + 1) - 0xDC00));
            ++i;
        } else if (code >= 0xD800 && code < 0xE000) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, code);
        }
    }
    return out;
}

} // namespace sarnika::sources
