#include "cache/sources/msiecf/IndexDat.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    sarnika::sources::ReadReport report;
    const auto index = sarnika::sources::parseIndexDat(bytes, report);
    if (index) {
        (void)sarnika::sources::indexDatRecords(*index, "/cache", "fuzz");
    }
    return 0;
}
