#include "cache/sources/ChromiumResponse.h"

#include <gtest/gtest.h>

namespace sarnika::sources {
namespace {

void putU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((value >> (8U * static_cast<unsigned>(i))) & 0xFFU);
    }
}

void putI64(std::string& out, std::int64_t value) {
    const auto bits = static_cast<std::uint64_t>(value);
    putU32(out, static_cast<std::uint32_t>(bits & 0xFFFFFFFFU));
    putU32(out, static_cast<std::uint32_t>(bits >> 32U));
}

std::string pickle(std::uint32_t flags, std::uint32_t extra, std::string_view raw,
                   bool originalTime) {
    std::string payload;
    putU32(payload, flags);
    if ((flags & 0x80000000U) != 0) {
        putU32(payload, extra);
    }
    putI64(payload, 13161017332037692LL);
    putI64(payload, 13161017333000000LL);
    if (originalTime) {
        putI64(payload, 13161017334000000LL);
    }
    putU32(payload, static_cast<std::uint32_t>(raw.size()));
    payload += raw;
    payload.append((4 - raw.size() % 4) % 4, '\0');
    std::string out;
    putU32(out, static_cast<std::uint32_t>(payload.size()));
    return out + payload;
}

TEST(ChromiumResponse, ParsesHeadersAndTimes) {
    using namespace std::string_view_literals;
    const std::string_view raw = "HTTP/1.1 200 OK\0Content-Type: application/x-shockwave-flash\0"
                                 "Content-Length: 1024\0\0"sv;
    for (const bool withExtra : {false, true}) {
        const std::uint32_t flags = withExtra ? 0x80041003U : 0x00000003U;
        const auto info = parseChromiumResponseInfo(pickle(flags, 4, raw, withExtra));
        ASSERT_TRUE(info) << info.error().message;
        EXPECT_EQ(info->headers,
                  "HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n"
                  "Content-Length: 1024\r\n\r\n");
        EXPECT_EQ(info->requestTime, 131610173320376920ULL);
        EXPECT_EQ(info->responseTime, 131610173330000000ULL);
        EXPECT_EQ(info->truncated, withExtra);
    }
}

TEST(ChromiumResponse, RejectsLengthsPastTheData) {
    std::string good = pickle(3, 0, "HTTP/1.1 200 OK", false);
    for (std::size_t cut = 0; cut + 4 < good.size(); ++cut) {
        EXPECT_FALSE(parseChromiumResponseInfo(good.substr(0, cut))) << cut;
    }
    std::string hugeHeader = good;
    hugeHeader[4 + 4 + 16] = '\xFF'; // header length 0x...FF
    hugeHeader[4 + 4 + 16 + 3] = '\x7F';
    EXPECT_FALSE(parseChromiumResponseInfo(hugeHeader));
    std::string negative = good;
    negative[4 + 4 + 16 + 3] = '\x80';
    EXPECT_FALSE(parseChromiumResponseInfo(negative));
}

TEST(ChromiumResponse, UrlsOfKeys) {
    EXPECT_EQ(urlFromChromiumKey("1/0/_dk_http://127.0.0.1 http://127.0.0.1 "
                                 "http://localhost:18473/swf/cross.swf"),
              "http://localhost:18473/swf/cross.swf");
    EXPECT_EQ(urlFromChromiumKey("_dk_s_https://a.com https://a.com https://b.com/x.swf?y=1"),
              "https://b.com/x.swf?y=1");
    EXPECT_EQ(urlFromChromiumKey("0/https://a.com/movie.swf"), "https://a.com/movie.swf");
    EXPECT_EQ(urlFromChromiumKey("12/3/http://a.com/"), "http://a.com/");
    EXPECT_EQ(urlFromChromiumKey("http://a.com/1/2/"), "http://a.com/1/2/");
    EXPECT_EQ(urlFromChromiumKey("0/1/"), "0/1/");
    EXPECT_EQ(urlFromChromiumKey(""), "");
}

} // namespace
} // namespace sarnika::sources
