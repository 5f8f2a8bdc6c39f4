#include "cli/TerminalText.h"

#include <algorithm>
#include <cstdint>

#include "cli/Utf8.h"

namespace sarnika::cli {
namespace {

constexpr std::string_view kHex = "0123456789ABCDEF";

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
        const Utf8Character character = c < 0x80 ? Utf8Character{} : decodeUtf8(text.substr(i));
        if (character.length == 0) {
            appendByte(out, c);
            ++i;
            continue;
        }
        if (hidesText(character.codePoint)) {
            appendCodePoint(out, character.codePoint);
        } else {
            out.append(text.substr(i, character.length));
        }
        i += character.length;
    }
    return out;
}

} // namespace sarnika::cli
