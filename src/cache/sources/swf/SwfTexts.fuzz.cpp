#include "cache/sources/swf/SwfTexts.h"

#include <cstddef>
#include <cstdint>
#include <span>

// The input is a whole movie file, compressed or not.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t total = 0;
    for (const auto& text : sarnika::sources::swfTexts(std::span(data, size))) {
        total += text.size();
    }
    volatile std::size_t sink = total;
    (void)sink;
    return 0;
}
