#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sarnika::cli {

// One character read from the start of UTF-8 text.
struct Utf8Character {
    std::size_t length = 0; // 0 when the text does not start with a well-formed sequence
    std::uint32_t codePoint = 0;
};

// The well-formed multi-byte UTF-8 sequence at the start of `text` and its code point. Overlong
// forms, surrogates and code points above U+10FFFF give length 0, and so does an ASCII byte:
// callers take those apart.
Utf8Character decodeUtf8(std::string_view text);

} // namespace sarnika::cli
