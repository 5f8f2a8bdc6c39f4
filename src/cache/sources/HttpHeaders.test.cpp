#include "cache/sources/HttpHeaders.h"

#include <gtest/gtest.h>

namespace sarnika::sources {
namespace {

TEST(HttpHeaders, ParsesTheThreeDateForms) {
    // 1994-11-06 08:49:37 UTC is 784111777 Unix seconds.
    const FileTime expected = fileTimeFromUnixSeconds(784111777);
    EXPECT_EQ(parseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), expected);
    EXPECT_EQ(parseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), expected);
    EXPECT_EQ(parseHttpDate("Sun Nov  6 08:49:37 1994"), expected);
    EXPECT_EQ(parseHttpDate("sun, 06 nov 1994 08:49:37 gmt"), expected);
    for (const char* bad : {"", "0", "-1", "yesterday", "Sun, 32 Nov 1994 08:49:37 GMT",
                            "Sun, 06 Nov 1994 25:49:37 GMT", "Sun, 06 Foo 1994 08:49:37 GMT",
                            "Sun, 06 Nov 1994 08:4937 GMT", "Thu, 01 Jan 1500 00:00:00 GMT"}) {
        EXPECT_FALSE(parseHttpDate(bad)) << bad;
    }
}

TEST(HttpHeaders, MediaTypeWithoutParameters) {
    EXPECT_EQ(mediaTypeOf("Text/HTML; charset=UTF-8"), "text/html");
    EXPECT_EQ(mediaTypeOf("  application/x-shockwave-flash"), "application/x-shockwave-flash");
    EXPECT_EQ(mediaTypeOf(""), "");
}

TEST(HttpHeaders, HeaderValues) {
    const std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n"
                                "content-encoding:  gzip \r\nContent-Encoding: br\r\n"
                                "X-Long: first\r\n\tsecond\r\n\r\nAfter-End: no\r\n";
    EXPECT_EQ(headerValue(headers, "Content-Encoding"), "gzip");
    EXPECT_EQ(headerValue(headers, "CONTENT-TYPE"), "application/x-shockwave-flash");
    EXPECT_EQ(headerValue(headers, "x-long"), "first \tsecond");
    EXPECT_EQ(headerValue(headers, "Content-Length"), "");
    EXPECT_EQ(headerValue(headers, "After-End"), "");
    EXPECT_EQ(headerValue(headers, "HTTP/1.1 200 OK"), "");
    EXPECT_EQ(headerValue("Content-Type: text/html\n", "content-type"), "text/html");
    // Several in one pass read as each alone: the first of a name, folded lines joined.
    EXPECT_EQ(
        headerValues(headers, {"x-long", "Content-Encoding", "After-End", "content-type"}),
        (std::vector<std::string>{"first \tsecond", "gzip", "", "application/x-shockwave-flash"}));
}

} // namespace
} // namespace sarnika::sources
