#include "cli/TerminalText.h"

#include <algorithm>
#include <cstdint>

#include "cli/JsonWriter.h"

namespace sarnika::cli {
namespace {

constexpr std::string_view kHex = "0123456789ABCDEF";

std::uint32_t codePointOf(std::string_view sequence) {
    const auto byte = [&sequence](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(sequence[i]));
    };
    switch (sequence.size()) {
    case 2:
        return ((byte(0) & 0x1FU) << 6U) | (byte(1) & 0x3FU);
    case 3:
        return ((byte(0) & 0x0FU) << 12U) | ((byte(1) & 0x3FU) << 6U) | (byte(2) & 0x3FU);
    case 4:
        return ((byte(0) & 0x07U) << 18U) | ((byte(1) & 0x3FU) << 12U) | ((byte(2) & 0x3FU) << 6U) |
               (byte(3) & 0x3FU);
    default:
        break;
    }
    return byte(0);
}

// C1 controls and the characters that change how the rest of a line is shown.
bool hidesText(std::uint32_t codePoint) {
    return (codePoint >= 0x80 && codePoint <= 0x9F) || codePoint == 0x061C || codePoint == 0x200E ||
           codePoint == 0x200F || (codePoint >= 0x2028 && codePoint <= 0x202E) ||
           (codePoint >= 0x2066 && codePoint <= 0x2069);
}

void appendByte(std::string& out, unsigned char c) {
    switch (c) {
    case '\t':
        out += "\\t";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    default:
        break;
    }
    out += "\\x";
    out += kHex[c >> 4U];
    out += kHex[c & 0x0FU];
}

void appendCodePoint(std::string& out, std::uint32_t codePoint) {
    out += "\\u{";
    std::string digits;
    do {
        digits.insert(digits.begin(), kHex[codePoint & 0x0FU]);
        codePoint >>= 4U;
    } while (codePoint != 0);
    digits.insert(0, 4 - std::min<std::size_t>(4, digits.size()), '0');
    out += digits;
    out += '}';
}

} // namespace

std::string terminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // Controls and bytes that are not UTF-8 have a length of 0 here.
        const std::size_t length = c < 0x80 ? 0 : utf8SequenceLength(text.substr(i));
        if (length == 0) {
            appendByte(out, c);
            ++i;
            continue;
        }
        const std::string_view sequence = text.substr(i, length);
        if (const std::uint32_t codePoint = codePointOf(sequence); hidesText(codePoint)) {
            appendCodePoint(out, codePoint);
        } else {
            out.append(sequence);
        }
        i += length;
    }
    return out;
}

} // namespace sarnika::cli
