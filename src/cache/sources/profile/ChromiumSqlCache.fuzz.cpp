#include "cache/sources/profile/ChromiumSqlCache.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cache/sources/ByteReader.h"

// Input: i64 body end, u32 limit, then blobs as (i32 start, i32 end, u16 length, bytes).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sarnika::sources::ByteReader in(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto bodyEnd = in.i64le();
    const auto limit = in.u32le();
    if (!bodyEnd || !limit) {
        return 0;
    }
    sarnika::sources::SqlBodyAssembler body(*bodyEnd, *limit);
    std::string joined;
    bool failed = false;
    while (in.remaining() > 0 && !body.complete()) {
        const auto start = in.i32le();
        const auto end = in.i32le();
        const auto length = in.u16le();
        const auto blob = length ? in.bytes(*length) : std::nullopt;
        if (!blob) {
            break;
        }
        failed = !body.add(*start, *end, *blob) || failed;
        if (!failed) {
            joined += *blob;
        }
    }
    const auto result = body.finish();
    if (result) {
        // A body that assembles is exactly the wanted prefix of the blobs, never more.
        const auto wanted = std::min<std::uint64_t>(static_cast<std::uint64_t>(*bodyEnd), *limit);
        if (failed || result->size() != wanted || joined.compare(0, wanted, *result) != 0) {
            std::abort();
        }
    }
    return 0;
}
