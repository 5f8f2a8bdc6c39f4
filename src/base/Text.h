#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sarnika {

// Lower-cases every byte with the C library's current locale; bytes are taken as unsigned.
std::string lowerCaseLocale(std::string_view text);

// Lower-cases the ASCII capitals A to Z only; every other byte stays as it is.
std::string lowerCaseAscii(std::string_view text);

// Whether the texts are equal when ASCII capitals count as their small letters.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);

// Appends the UTF-8 form of a code point (up to U+10FFFF; the caller checks surrogates).
void appendUtf8(std::string& out, std::uint32_t code);

} // namespace sarnika
