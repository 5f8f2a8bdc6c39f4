#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cache/sources/firefox/FirefoxOldCache.h"

// The input is a metadata record as found in a block file or a separate metadata file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sarnika::sources;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto entry = parseFirefoxOldEntry(bytes);
    if (entry) {
        (void)firefoxOldKeyHash(entry->key);
    }
    (void)urlFromFirefoxOldKey(bytes);
    return 0;
}
