#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace sarnika::curation {

// SHA-1 (FIPS 180-4), fed in pieces of any size. Web archives name their digests in it; it
// serves to check a record, not to stand against an attacker.
class Sha1 {
public:
    Sha1();
    void update(std::string_view bytes);
    // The 20 bytes of the digest; the object is spent afterwards.
    std::array<unsigned char, 20> finish();

private:
    void compress(const unsigned char* block);

    std::array<std::uint32_t, 5> m_state{};
    std::array<unsigned char, 64> m_buffer{};
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0;
};

// Base32 of RFC 4648 (A-Z, 2-7), without padding: a SHA-1 digest gives 32 characters.
std::string base32(const unsigned char* bytes, std::size_t size);

// "sha1:" and the base32 of the digest, as web archives write their digests.
std::string warcDigest(Sha1& digest);

} // namespace sarnika::curation
