#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "base/Result.h"
#include "cache/sources/FileAccess.h"

namespace sarnika::sources {

enum class SwfCompression { None, Zlib, Lzma };

// "none", "zlib" or "lzma".
const char* swfCompressionName(SwfCompression compression);

// The stage and timing fields that follow the 8-byte file header, inside the compressed part.
struct SwfStage {
    // The stage rectangle in twips (1/20 pixel).
    std::int32_t xMin = 0;
    std::int32_t xMax = 0;
    std::int32_t yMin = 0;
    std::int32_t yMax = 0;
    // Frames per second as 8.8 fixed point.
    std::uint16_t frameRateFixed = 0;
    std::uint16_t frameCount = 0;

    double width() const { return (static_cast<double>(xMax) - xMin) / 20.0; }
    double height() const { return (static_cast<double>(yMax) - yMin) / 20.0; }
    double frameRate() const { return frameRateFixed / 256.0; }
};

// What the first bytes of a Flash movie tell about it.
struct SwfHeader {
    std::string signature; // "FWS", "CWS" or "ZWS"
    SwfCompression compression = SwfCompression::None;
    std::uint8_t version = 0;
    // The length of the whole movie once uncompressed, the 8-byte file header included.
    std::uint32_t declaredLength = 0;
    // Empty only for an LZMA movie in a build without liblzma.
    std::optional<SwfStage> stage;
    // Damage that leaves the header readable (a truncated download, bytes after the end),
    // for people; empty when the lengths agree with the file.
    std::string warning;
};

// How much of a file readSwfHeader looks at, at most.
inline constexpr std::size_t kSwfHeaderReadLimit = std::size_t{64} * 1024;

// Whether this build can read the stage fields of LZMA movies.
bool swfLzmaAvailable();

// Reads the header from a file's first bytes (up to kSwfHeaderReadLimit of them); `fileSize` is
// the size of the whole file. Only the bytes the header needs are decompressed, into a buffer of
// fixed size, so hostile length fields cost nothing. Fails with Malformed when the bytes are no
// Flash movie or its header cannot be read.
Result<SwfHeader> readSwfHeader(std::span<const std::uint8_t> bytes, std::uint64_t fileSize);

// The same for a file, opened read-only: a cache's file (no link), or one the user named.
Result<SwfHeader> readSwfHeaderFile(const std::filesystem::path& path, Links links = Links::Refuse);

} // namespace sarnika::sources
