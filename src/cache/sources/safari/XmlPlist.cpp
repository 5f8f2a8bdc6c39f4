#include "cache/sources/safari/XmlPlist.h"

#include <array>
#include <charconv>
#include <cstdint>

#include "base/DateTime.h"
#include "base/Text.h"

namespace sarnika::sources {

namespace {

Error malformed(std::string what) {
    return Error{Error::Code::Malformed, "XML property list: " + std::move(what)};
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// "2009-05-26T21:43:57Z" as seconds since 2001-01-01 UTC.
std::optional<double> appleSecondsOf(std::string_view text) {
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    int fields[6] = {};
    const std::size_t starts[6] = {0, 5, 8, 11, 14, 17};
    for (std::size_t i = 0; i < 6; ++i) {
        const std::size_t length = i == 0 ? 4 : 2;
        const char* first = text.data() + starts[i];
        const auto [end, error] = std::from_chars(first, first + length, fields[i]);
        if (error != std::errc() || end != first + length) {
            return std::nullopt;
        }
    }
    if (fields[1] < 1 || fields[1] > 12 || fields[2] < 1 || fields[2] > 31 || fields[3] > 23 ||
        fields[4] > 59 || fields[5] > 60) {
        return std::nullopt;
    }
    const std::int64_t days = dayNumber(fields[0], fields[1], fields[2]) - dayNumber(2001, 1, 1);
    return static_cast<double>(days * 86'400 + std::int64_t{fields[3]} * 3'600 +
                               std::int64_t{fields[4]} * 60 + fields[5]);
}

class XmlDecoder {
public:
    explicit XmlDecoder(std::string_view text) : m_text(text) {}

    Result<PlistValue> decode() {
        if (m_text.size() > kPlistMaxBytes) {
            return Error{Error::Code::TooLarge, "XML property list larger than 16 MiB"};
        }
        SARNIKA_TRY(skipMarkup());
        SARNIKA_TRY_ASSIGN(open, tag());
        if (open.name != "plist" || open.closing) {
            return malformed("no <plist> element");
        }
        SARNIKA_TRY_ASSIGN(value, element(0));
        SARNIKA_TRY(expectClosing("plist"));
        return value;
    }

private:
    struct Tag {
        std::string_view name;
        bool closing = false;
        bool empty = false; // <name/>
    };

    bool at(std::string_view s) const { return m_text.substr(m_pos).starts_with(s); }

    // Skips blanks, comments, processing instructions and the document type.
    Status skipMarkup() {
        for (;;) {
            while (m_pos < m_text.size() && isBlank(m_text[m_pos])) {
                ++m_pos;
            }
            std::string_view end;
            if (at("<?")) {
                end = "?>";
            } else if (at("<!--")) {
                end = "-->";
            } else if (at("<!DOCTYPE")) {
                end = m_text.substr(m_pos, m_text.find('>', m_pos) - m_pos).find('[') !=
                              std::string_view::npos
                          ? "]>"
                          : ">";
            } else {
                return {};
            }
            const std::size_t found = m_text.find(end, m_pos + 2);
            if (found == std::string_view::npos) {
                return malformed("markup left open");
            }
            m_pos = found + end.size();
        }
    }

    Result<Tag> tag() {
        if (!at("<")) {
            return malformed("an element expected at byte " + std::to_string(m_pos));
        }
        Tag t;
        ++m_pos;
        if (at("/")) {
            t.closing = true;
            ++m_pos;
        }
        const std::size_t start = m_pos;
        while (m_pos < m_text.size() && ((m_text[m_pos] >= 'a' && m_text[m_pos] <= 'z') ||
                                         (m_text[m_pos] >= 'A' && m_text[m_pos] <= 'Z'))) {
            ++m_pos;
        }
        t.name = m_text.substr(start, m_pos - start);
        // Attributes (plist's version) are skipped, quoted values whole.
        char quote = 0;
        for (; m_pos < m_text.size(); ++m_pos) {
            const char c = m_text[m_pos];
            if (quote != 0) {
                quote = c == quote ? '\0' : quote;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                t.empty = m_text[m_pos - 1] == '/';
                ++m_pos;
                return t;
            }
        }
        return malformed("element <" + std::string(t.name) + "> left open");
    }

    Status expectClosing(std::string_view name) {
        SARNIKA_TRY(skipMarkup());
        SARNIKA_TRY_ASSIGN(close, tag());
        if (!close.closing || close.name != name) {
            return malformed("</" + std::string(name) + "> expected");
        }
        return {};
    }

    // Character data up to the element's end tag, references and CDATA sections resolved.
    Result<std::string> text(const Tag& open) {
        std::string out;
        if (open.empty) {
            return out;
        }
        while (m_pos < m_text.size()) {
            if (at("<![CDATA[")) {
                const std::size_t end = m_text.find("]]>", m_pos);
                if (end == std::string_view::npos) {
                    return malformed("CDATA section left open");
                }
                out.append(m_text.substr(m_pos + 9, end - m_pos - 9));
                m_pos = end + 3;
            } else if (at("<!--")) {
                const std::size_t end = m_text.find("-->", m_pos);
                if (end == std::string_view::npos) {
                    return malformed("comment left open");
                }
                m_pos = end + 3;
            } else if (m_text[m_pos] == '<') {
                break;
            } else if (m_text[m_pos] == '&') {
                SARNIKA_TRY(reference(out));
            } else {
                out += m_text[m_pos++];
            }
        }
        SARNIKA_TRY(expectClosing(open.name));
        return out;
    }

    Status reference(std::string& out) {
        const std::size_t end = m_text.find(';', m_pos);
        if (end == std::string_view::npos || end - m_pos > 12) {
            return malformed("bad character reference at byte " + std::to_string(m_pos));
        }
        const std::string_view name = m_text.substr(m_pos + 1, end - m_pos - 1);
        m_pos = end + 1;
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
        for (const auto& [entity, c] : kNamed) {
            if (name == entity) {
                out += c;
                return {};
            }
        }
        if (!name.starts_with('#')) {
            return malformed("unknown entity &" + std::string(name) + ";");
        }
        std::uint32_t code = 0;
        const bool hex = name.starts_with("#x") || name.starts_with("#X");
        const std::string_view digits = name.substr(hex ? 2 : 1);
        const auto [last, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
        if (digits.empty() || error != std::errc() || last != digits.data() + digits.size() ||
            code == 0 || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            return malformed("bad character reference &" + std::string(name) + ";");
        }
        appendUtf8(out, code);
        return {};
    }

    Result<PlistValue> element(int depth) {
        if (++m_values > kPlistMaxValues) {
            return malformed("more than " + std::to_string(kPlistMaxValues) + " values");
        }
        SARNIKA_TRY(skipMarkup());
        SARNIKA_TRY_ASSIGN(open, tag());
        if (open.closing) {
            return malformed("a value expected, </" + std::string(open.name) + "> found");
        }
        PlistValue value;
        const std::string_view name = open.name;
        if (name == "dict" || name == "array") {
            if (depth >= kPlistMaxDepth) {
                return malformed("nested deeper than " + std::to_string(kPlistMaxDepth));
            }
            value.type = name == "dict" ? PlistValue::Type::Dict : PlistValue::Type::Array;
            while (!open.empty) {
                SARNIKA_TRY(skipMarkup());
                if (at("</")) {
                    SARNIKA_TRY(expectClosing(name));
                    break;
                }
                if (value.type == PlistValue::Type::Dict) {
                    SARNIKA_TRY_ASSIGN(key, tag());
                    if (key.closing || key.name != "key") {
                        return malformed("<key> expected in <dict>");
                    }
                    SARNIKA_TRY_ASSIGN(keyText, text(key));
                    value.keys.push_back(std::move(keyText));
                }
                SARNIKA_TRY_ASSIGN(item, element(depth + 1));
                value.items.push_back(std::move(item));
            }
            return value;
        }
        if (name == "true" || name == "false") {
            value.type = PlistValue::Type::Boolean;
            value.boolean = name == "true";
            if (!open.empty) {
                SARNIKA_TRY(expectClosing(name));
            }
            return value;
        }
        SARNIKA_TRY_ASSIGN(content, text(open));
        if (name == "string") {
            value.type = PlistValue::Type::String;
            value.text = std::move(content);
        } else if (name == "data") {
            auto bytes = base64Decode(content);
            if (!bytes) {
                return malformed("<data> that is no base64");
            }
            value.type = PlistValue::Type::Data;
            value.text = std::move(*bytes);
        } else if (name == "integer") {
            const bool negative = content.starts_with('-');
            const std::string_view digits = std::string_view(content).substr(negative ? 1 : 0);
            std::uint64_t magnitude = 0;
            const auto [last, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
            if (digits.empty() || error != std::errc() || last != digits.data() + digits.size() ||
                magnitude > (negative ? std::uint64_t{1} << 63U : (std::uint64_t{1} << 63U) - 1)) {
                return malformed("bad <integer> " + content.substr(0, 40));
            }
            value.type = PlistValue::Type::Integer;
            value.integer = negative ? static_cast<std::int64_t>(0 - magnitude)
                                     : static_cast<std::int64_t>(magnitude);
        } else if (name == "real") {
            const auto [last, error] =
                std::from_chars(content.data(), content.data() + content.size(), value.real);
            if (content.empty() || error != std::errc() ||
                last != content.data() + content.size()) {
                return malformed("bad <real> " + content.substr(0, 40));
            }
            value.type = PlistValue::Type::Real;
        } else if (name == "date") {
            const auto seconds = appleSecondsOf(content);
            if (!seconds) {
                return malformed("bad <date> " + content.substr(0, 40));
            }
            value.type = PlistValue::Type::Date;
            value.real = *seconds;
        } else {
            return malformed("unknown element <" + std::string(name) + ">");
        }
        return value;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    std::uint64_t m_values = 0;
};

} // namespace

Result<PlistValue> parseXmlPlist(std::string_view bytes) {
    return XmlDecoder(bytes).decode();
}

Result<PlistValue> parsePropertyList(std::string_view bytes) {
    if (bytes.starts_with("bplist")) {
        return parseBinaryPlist(bytes);
    }
    return parseXmlPlist(bytes);
}

std::optional<std::string> base64Decode(std::string_view text) {
    // Digit values; 64 for '=', 65 for blanks, 66 for anything else.
    static constexpr auto kDigits = [] {
        std::array<std::uint8_t, 256> digits{};
        digits.fill(66);
        constexpr std::string_view alphabet =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (std::size_t i = 0; i < alphabet.size(); ++i) {
            digits[static_cast<std::uint8_t>(alphabet[i])] = static_cast<std::uint8_t>(i);
        }
        digits['='] = 64;
        for (const char blank : {' ', '\t', '\r', '\n'}) {
            digits[static_cast<std::uint8_t>(blank)] = 65;
        }
        return digits;
    }();
    std::string out;
    out.reserve(text.size() / 4 * 3);
    std::uint32_t bits = 0;
    unsigned held = 0;
    bool padded = false;
    for (const char c : text) {
        const std::uint8_t digit = kDigits[static_cast<std::uint8_t>(c)];
        if (digit >= 64) {
            if (digit == 66) {
                return std::nullopt;
            }
            padded = padded || digit == 64;
            continue;
        }
        if (padded) {
            return std::nullopt;
        }
        bits = ((bits << 6U) | digit) & 0xFFFFFFU;
        held += 6;
        if (held >= 8) {
            held -= 8;
            out += static_cast<char>((bits >> held) & 0xFFU);
        }
    }
    return out;
}

} // namespace sarnika::sources
