#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace sarnika::sources {

// Bounds-checked reads from bytes that may be hostile. Every read either succeeds whole or
// sets the reader into a failed state in which all later reads fail too.
class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
    explicit ByteReader(std::string_view bytes)
        : m_bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) {}

    std::size_t size() const { return m_bytes.size(); }
    std::size_t position() const { return m_position; }
    std::size_t remaining() const { return m_failed ? 0 : m_bytes.size() - m_position; }
    bool ok() const { return !m_failed; }

    bool seek(std::size_t position) {
        if (m_failed || position > m_bytes.size()) {
            m_failed = true;
            return false;
        }
        m_position = position;
        return true;
    }
    bool skip(std::size_t count) {
        return count <= remaining() ? seek(m_position + count) : fail();
    }

    std::optional<std::uint8_t> u8() { return read<std::uint8_t>(false); }
    std::optional<std::uint16_t> u16le() { return read<std::uint16_t>(false); }
    std::optional<std::uint32_t> u32le() { return read<std::uint32_t>(false); }
    std::optional<std::uint64_t> u64le() { return read<std::uint64_t>(false); }
    std::optional<std::int32_t> i32le() { return signedOf<std::int32_t>(u32le()); }
    std::optional<std::int64_t> i64le() { return signedOf<std::int64_t>(u64le()); }
    std::optional<std::uint16_t> u16be() { return read<std::uint16_t>(true); }
    std::optional<std::uint32_t> u32be() { return read<std::uint32_t>(true); }

    // The next `count` bytes, or nothing when fewer remain.
    std::optional<std::string_view> bytes(std::size_t count) {
        if (count > remaining()) {
            fail();
            return std::nullopt;
        }
        const std::string_view view(reinterpret_cast<const char*>(m_bytes.data()) + m_position,
                                    count);
        m_position += count;
        return view;
    }

    // Bytes up to (not including) the next zero byte, which is consumed.
    std::optional<std::string_view> cString() {
        if (m_failed) {
            return std::nullopt;
        }
        const auto* start = m_bytes.data() + m_position;
        const void* zero = std::memchr(start, 0, m_bytes.size() - m_position);
        if (zero == nullptr) {
            fail();
            return std::nullopt;
        }
        const auto length =
            static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - start);
        const std::string_view view(reinterpret_cast<const char*>(start), length);
        m_position += length + 1;
        return view;
    }

private:
    bool fail() {
        m_failed = true;
        return false;
    }

    template<typename T>
    std::optional<T> read(bool bigEndian) {
        if (sizeof(T) > remaining()) {
            fail();
            return std::nullopt;
        }
        T value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            const std::size_t index = bigEndian ? i : sizeof(T) - 1 - i;
            value = static_cast<T>((value << 8U) | m_bytes[m_position + index]);
        }
        m_position += sizeof(T);
        return value;
    }

    template<typename S, typename U>
    static std::optional<S> signedOf(std::optional<U> value) {
        if (!value) {
            return std::nullopt;
        }
        S result = 0;
        std::memcpy(&result, &*value, sizeof result);
        return result;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_position = 0;
    bool m_failed = false;
};

} // namespace sarnika::sources
