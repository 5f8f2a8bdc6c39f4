#include "base/Text.h"

#include <algorithm>
#include <cctype>

namespace sarnika {

std::string lowerCaseLocale(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        // std::tolower is undefined for negative values other than EOF.
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return result;
}

std::string lowerCaseAscii(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6U));
        out += static_cast<char>(0x80 | (code & 0x3FU));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12U));
        out += static_cast<char>(0x80 | ((code >> 6U) & 0x3FU));
        out += static_cast<char>(0x80 | (code & 0x3FU));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18U));
        out += static_cast<char>(0x80 | ((code >> 12U) & 0x3FU));
        out += static_cast<char>(0x80 | ((code >> 6U) & 0x3FU));
        out += static_cast<char>(0x80 | (code & 0x3FU));
    }
}

} // namespace sarnika
