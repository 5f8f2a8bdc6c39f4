#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cache/sources/ChromiumResponse.h"
#include "cache/sources/chromium/ChromiumCache.h"

using sarnika::sources::ChromiumSimpleWants;
using sarnika::sources::parseChromiumSimpleEntry;

// The first byte sets how much of the file the first head and tail reads get, as the reader's
// two reads would; the rest is an entry file (or an index-dir/the-real-index).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t split = data[0];
    const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::size_t head = std::min(file.size(), split * 8);
    std::size_t tail = std::min(file.size(), (255 - split) * 16 + 16);
    const auto whole = parseChromiumSimpleEntry(file, file, file.size());
    sarnika::Result<sarnika::sources::ChromiumSimpleEntry> entry =
        sarnika::makeError(sarnika::Error::Code::Malformed, "not parsed");
    // Each round may learn what the next one needs: the record size, the key length, stream 0.
    for (int round = 0; round < 4; ++round) {
        ChromiumSimpleWants wants;
        entry = parseChromiumSimpleEntry(file.substr(0, head), file.substr(file.size() - tail),
                                         file.size(), &wants);
        if (entry || (wants.head <= head && wants.tail <= tail)) {
            break;
        }
        if (wants.head > file.size() || wants.tail > file.size()) {
            __builtin_trap(); // asked for more than the file holds
        }
        head = std::max<std::size_t>(head, wants.head);
        tail = std::max<std::size_t>(tail, wants.tail);
    }
    if (entry.ok() != whole.ok()) {
        __builtin_trap(); // the two reads must find what one whole read finds
    }
    if (entry) {
        if (entry->bodyOffset + entry->bodySize > file.size() || entry->key != whole->key ||
            entry->stream0 != whole->stream0) {
            __builtin_trap();
        }
        (void)sarnika::sources::parseChromiumResponseInfo(entry->stream0);
        (void)sarnika::sources::urlFromChromiumKey(entry->key);
    }
    (void)sarnika::sources::parseChromiumSimpleIndex(file);
    return 0;
}
