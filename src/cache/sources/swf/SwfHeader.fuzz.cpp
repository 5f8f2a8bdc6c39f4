#include "cache/sources/swf/SwfHeader.h"

#include <cstddef>
#include <cstdint>
#include <span>

// The input is a file's first bytes; its last byte also varies the size claimed for the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const std::uint64_t claimed = size == 0 ? 0 : size + std::uint64_t{bytes.back() % 4U} * 1000U;
    const auto header = sarnika::sources::readSwfHeader(bytes, claimed);
    if (header && header->stage) {
        // Touch every field so that the sanitizers see them.
        volatile double sink = header->stage->width() + header->stage->height() +
                               header->stage->frameRate() + header->stage->frameCount;
        (void)sink;
    }
    return 0;
}
