#include "curation/Sha1.h"

#include <algorithm>
#include <cstring>

namespace sarnika::curation {

namespace {

constexpr std::size_t kBlockBytes = 64;

std::uint32_t rotateLeft(std::uint32_t value, unsigned bits) {
    return (value << bits) | (value >> (32U - bits));
}

} // namespace

Sha1::Sha1() : m_state{0x67452301U, 0xEFCDAB89U, 0x98BADCFEU, 0x10325476U, 0xC3D2E1F0U} {}

void Sha1::update(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t size = bytes.size();
    m_length += size;
    if (m_buffered > 0) {
        const std::size_t take = std::min(size, kBlockBytes - m_buffered);
        std::memcpy(m_buffer.data() + m_buffered, data, take);
        m_buffered += take;
        data += take;
        size -= take;
        if (m_buffered < kBlockBytes) {
            return;
        }
        compress(m_buffer.data());
        m_buffered = 0;
    }
    for (; size >= kBlockBytes; data += kBlockBytes, size -= kBlockBytes) {
        compress(data);
    }
    std::memcpy(m_buffer.data(), data, size);
    m_buffered = size;
}

std::array<unsigned char, 20> Sha1::finish() {
    const std::uint64_t bits = m_length * 8U;
    const unsigned char one = 0x80;
    update(std::string_view(reinterpret_cast<const char*>(&one), 1));
    const unsigned char zero = 0;
    while (m_buffered != kBlockBytes - 8) {
        update(std::string_view(reinterpret_cast<const char*>(&zero), 1));
    }
    std::array<unsigned char, 8> length{};
    for (std::size_t i = 0; i < 8; ++i) {
        length[i] = static_cast<unsigned char>(bits >> (56U - 8U * i));
    }
    update(std::string_view(reinterpret_cast<const char*>(length.data()), length.size()));
    std::array<unsigned char, 20> digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        digest[i] = static_cast<unsigned char>(m_state[i / 4] >> (24U - 8U * (i % 4)));
    }
    return digest;
}

void Sha1::compress(const unsigned char* block) {
    std::array<std::uint32_t, 80> w{};
    for (std::size_t i = 0; i < 16; ++i) {
        w[i] = (std::uint32_t{block[4 * i]} << 24U) | (std::uint32_t{block[4 * i + 1]} << 16U) |
               (std::uint32_t{block[4 * i + 2]} << 8U) | std::uint32_t{block[4 * i + 3]};
    }
    for (std::size_t i = 16; i < w.size(); ++i) {
        w[i] = rotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    }
    std::uint32_t a = m_state[0];
    std::uint32_t b = m_state[1];
    std::uint32_t c = m_state[2];
    std::uint32_t d = m_state[3];
    std::uint32_t e = m_state[4];
    for (std::size_t i = 0; i < w.size(); ++i) {
        std::uint32_t f = 0;
        std::uint32_t k = 0;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999U;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1U;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCU;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6U;
        }
        const std::uint32_t next = rotateLeft(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = rotateLeft(b, 30);
        b = a;
        a = next;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
}

std::string base32(const unsigned char* bytes, std::size_t size) {
    static constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string text;
    text.reserve((size * 8 + 4) / 5);
    std::uint32_t buffer = 0;
    unsigned bits = 0;
    for (std::size_t i = 0; i < size; ++i) {
        buffer = (buffer << 8U) | bytes[i];
        bits += 8;
        while (bits >= 5) {
            bits -= 5;
            text.push_back(kAlphabet[(buffer >> bits) & 0x1FU]);
        }
    }
    if (bits > 0) {
        text.push_back(kAlphabet[(buffer << (5U - bits)) & 0x1FU]);
    }
    return text;
}

std::string warcDigest(Sha1& digest) {
    const auto bytes = digest.finish();
    return "sha1:" + base32(bytes.data(), bytes.size());
}

} // namespace sarnika::curation
