#include "cache/sources/ChromiumResponse.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)sarnika::sources::parseChromiumResponseInfo(bytes);
    (void)sarnika::sources::urlFromChromiumKey(bytes);
    return 0;
}
