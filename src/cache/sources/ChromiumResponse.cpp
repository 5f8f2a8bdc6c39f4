#include "cache/sources/ChromiumResponse.h"

#include <cctype>

#include "cache/sources/ByteReader.h"

namespace sarnika::sources {
namespace {

constexpr std::uint32_t kHasExtraFlags = 1U << 31U;
constexpr std::uint32_t kTruncated = 1U << 12U;
constexpr std::uint32_t kHasOriginalResponseTime = 1U << 2U;

// base::Pickle: a 4-byte payload size, then items padded to 4 bytes.
class PickleReader {
public:
    explicit PickleReader(ByteReader payload) : m_reader(payload) {}

    std::optional<std::int32_t> i32() { return m_reader.i32le(); }
    std::optional<std::int64_t> i64() { return m_reader.i64le(); }
    std::optional<std::string_view> string() {
        const auto length = m_reader.i32le();
        if (!length || *length < 0) {
            return std::nullopt;
        }
        auto bytes = m_reader.bytes(static_cast<std::size_t>(*length));
        const std::size_t padding = (4 - static_cast<std::size_t>(*length) % 4) % 4;
        if (bytes && padding > 0) {
            // The last item may end without its padding.
            m_reader.skip(std::min(padding, m_reader.remaining()));
        }
        return bytes;
    }

private:
    ByteReader m_reader;
};

std::string headersFromRaw(std::string_view raw) {
    std::string headers;
    std::size_t start = 0;
    while (start < raw.size()) {
        std::size_t end = raw.find('\0', start);
        if (end == std::string_view::npos) {
            end = raw.size();
        }
        if (end > start) {
            headers.append(raw.substr(start, end - start));
            headers += "\r\n";
        }
        start = end + 1;
    }
    if (!headers.empty()) {
        headers += "\r\n";
    }
    return headers;
}

} // namespace

Result<ChromiumResponseInfo> parseChromiumResponseInfo(std::string_view stream0) {
    ByteReader outer(stream0);
    const auto payloadSize = outer.u32le();
    if (!payloadSize || *payloadSize > outer.remaining()) {
        return makeError(Error::Code::Malformed, "response info: bad pickle size");
    }
    const auto payload = outer.bytes(*payloadSize);
    PickleReader pickle{ByteReader(*payload)};
    const auto flags = pickle.i32();
    if (!flags) {
        return makeError(Error::Code::Malformed, "response info: no flags");
    }
    const auto flagBits = static_cast<std::uint32_t>(*flags);
    std::uint32_t extraFlags = 0;
    if ((flagBits & kHasExtraFlags) != 0) {
        const auto extra = pickle.i32();
        if (!extra) {
            return makeError(Error::Code::Malformed, "response info: no extra flags");
        }
        extraFlags = static_cast<std::uint32_t>(*extra);
    }
    const auto requestTime = pickle.i64();
    const auto responseTime = pickle.i64();
    if (!requestTime || !responseTime) {
        return makeError(Error::Code::Malformed, "response info: no times");
    }
    if ((extraFlags & kHasOriginalResponseTime) != 0 && !pickle.i64()) {
        return makeError(Error::Code::Malformed, "response info: no original response time");
    }
    const auto raw = pickle.string();
    if (!raw) {
        return makeError(Error::Code::Malformed, "response info: headers run past the data");
    }
    ChromiumResponseInfo info;
    info.headers = headersFromRaw(*raw);
    info.requestTime = fileTimeFromWindowsMicros(*requestTime);
    info.responseTime = fileTimeFromWindowsMicros(*responseTime);
    info.truncated = (flagBits & kTruncated) != 0;
    return info;
}

std::string urlFromChromiumKey(std::string_view key) {
    if (const std::size_t space = key.rfind(' '); space != std::string_view::npos) {
        return std::string(key.substr(space + 1));
    }
    // "<digits>/" or "<digits>/<digits>/" before a URL scheme.
    std::size_t position = 0;
    for (int part = 0; part < 2; ++part) {
        std::size_t digits = position;
        while (digits < key.size() && std::isdigit(static_cast<unsigned char>(key[digits]))) {
            ++digits;
        }
        if (digits == position || digits >= key.size() || key[digits] != '/') {
            break;
        }
        const std::size_t next = digits + 1;
        if (next < key.size() && std::isalpha(static_cast<unsigned char>(key[next]))) {
            const std::size_t colon = key.find(':', next);
            const bool scheme =
                colon != std::string_view::npos &&
                key.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                      "0123456789+.-",
                                      next) == colon;
            if (scheme) {
                return std::string(key.substr(next));
            }
        }
        position = next;
    }
    return std::string(key);
}

} // namespace sarnika::sources
