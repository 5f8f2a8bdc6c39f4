#include "cli/Utf8.h"

namespace sarnika::cli {

Utf8Character decodeUtf8(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const auto byte = [&text](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(text[i]));
    };
    const std::uint32_t lead = byte(0);
    std::size_t length = 0;
    std::uint32_t low = 0x80;
    std::uint32_t high = 0xBF;
    std::uint32_t codePoint = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1FU;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
        codePoint = lead & 0x0FU;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
        codePoint = lead & 0x07U;
    } else {
        return {};
    }
    // The second byte's range is what rules out overlong forms, surrogates and U+110000 up.
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return {};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return {};
        }
        codePoint = (codePoint << 6U) | (byte(i) & 0x3FU);
    }
    return {length, codePoint};
}

} // namespace sarnika::cli
