#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cache/sources/firefox/FirefoxCache.h"

// The input is a whole entry file; it is also parsed as the tail of a longer file, and as the
// tail that the listing would read.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sarnika::sources;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    (void)parseFirefoxEntry(bytes, size);
    (void)parseFirefoxEntry(bytes, size + 4096);
    const std::uint64_t needed =
        firefoxTailLength(bytes.substr(size - std::min<std::size_t>(size, 8)), size);
    if (needed > 0 && needed <= size) {
        (void)parseFirefoxEntry(bytes.substr(size - needed), size);
    }
    (void)urlFromFirefoxKey(bytes);
    return 0;
}
