#include "cache/sources/decode/ContentDecoding.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cache/sources/HttpHeaders.h"

// The first byte picks the encoding, the rest is the body; the headers parser gets the lot.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static constexpr std::array<std::string_view, 7> kEncodings = {
        "gzip", "deflate", "br", "identity", "deflate, gzip", "br, x-gzip", "gzip, compress"};
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!bytes.empty()) {
        const std::string_view encoding =
            kEncodings[static_cast<std::uint8_t>(bytes[0]) % kEncodings.size()];
        (void)sarnika::sources::decodeContent(bytes.substr(1), encoding, 1U << 20U);
    }
    (void)sarnika::sources::headerValue(bytes, "content-encoding");
    return 0;
}
