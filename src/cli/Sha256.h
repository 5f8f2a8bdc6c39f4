#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace sarnika::cli {

// SHA-256 (FIPS 180-4), fed in pieces of any size.
class Sha256 {
public:
    Sha256();
    void update(std::string_view bytes);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string finishHex();

private:
    void compress(const unsigned char* block);

    std::array<std::uint32_t, 8> m_state{};
    std::array<unsigned char, 64> m_buffer{};
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0;
};

std::string sha256Hex(std::string_view bytes);
Result<std::string> sha256OfFile(const std::filesystem::path& file);

} // namespace sarnika::cli
