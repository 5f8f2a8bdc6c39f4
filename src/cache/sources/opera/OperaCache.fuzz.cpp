#include "cache/sources/opera/OperaCache.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// The input is parsed as a whole index, and as the start of a file of packed bodies.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sarnika::sources;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ReadReport report;
    const auto index = parseOperaIndex(bytes, report);
    if (index) {
        for (const OperaIndexEntry& entry : index->entries) {
            (void)operaHeaders(entry, entry.size);
        }
    }
    (void)parseOperaPackTable(bytes.substr(0, kOperaPackTableMaxBytes), size);
    return 0;
}
