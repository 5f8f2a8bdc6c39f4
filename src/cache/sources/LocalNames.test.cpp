#include "cache/sources/LocalNames.h"

#include <gtest/gtest.h>

namespace sarnika::sources {
namespace {

std::string nameOf(std::string_view url, std::string_view type = "") {
    return fileNameOf(localNameFor(url, type));
}

TEST(LocalNames, ExtensionFromTheTypeThenFromTheUrl) {
    EXPECT_EQ(nameOf("http://h:1/swf/tiny.swf", "application/x-shockwave-flash"), "tiny[1].swf");
    EXPECT_EQ(nameOf("http://h/swf/Intro.SWF"), "Intro[1].swf");
    EXPECT_EQ(nameOf("http://h/swf/clip.swf?a=1#top"), "clip[1].swf");
    EXPECT_EQ(nameOf("http://h/play/movie7", "application/x-shockwave-flash"), "movie7[1].swf");
    EXPECT_EQ(nameOf("http://h/song", "audio/mpeg; charset=binary"), "song[1].mp3");
    // The type wins over the URL where it names a known kind.
    EXPECT_EQ(nameOf("http://h/game.php?id=3", "application/x-shockwave-flash"), "game[1].swf");
    EXPECT_EQ(nameOf("http://h/page.php", "text/html"), "page[1].htm");
    // An unknown type leaves the URL's extension; no extension leaves none.
    EXPECT_EQ(nameOf("http://h/dl.swf", "application/octet-stream"), "dl[1].swf");
    EXPECT_EQ(nameOf("http://h/dl?id=9", "application/octet-stream"), "dl[1]");
    EXPECT_EQ(localNameFor("http://h/dl?id=9", "").extension, "");
}

TEST(LocalNames, NamesAreSafeFileNames) {
    EXPECT_EQ(nameOf("http://h/"), "index[1]");
    EXPECT_EQ(nameOf("http://h"), "index[1]");
    EXPECT_EQ(nameOf("http://h/a/..", "text/html"), "index[1].htm");
    EXPECT_EQ(nameOf("http://h/%2e%2e%2fetc%2fpasswd"), "_etc_passwd[1]");
    EXPECT_EQ(nameOf("http://h/My%20Movie.swf"), "My Movie[1].swf");
    EXPECT_EQ(nameOf("http://h/a%00b%0Ac.swf"), "a_b_c[1].swf");
    EXPECT_EQ(nameOf("http://h/con:x*y?.swf"), "con_x_y[1]");
    EXPECT_EQ(nameOf("http://h/.hidden.swf"), "hidden[1].swf");
    EXPECT_EQ(nameOf("http://h/x.toolongextension"), "x.toolongextension[1]");
    EXPECT_EQ(nameOf("http://h/%zz%4"), "%zz%4[1]");
    const std::string longName(300, 'a');
    EXPECT_EQ(nameOf("http://h/" + longName + ".swf"), std::string(80, 'a') + "[1].swf");
    // A cut never splits a UTF-8 sequence.
    std::string accents;
    for (int i = 0; i < 60; ++i) {
        accents += "\xC3\xA9";
    }
    const std::string stem = localNameFor("http://h/" + accents + ".swf", "").stem;
    EXPECT_EQ(stem.size() % 2, 0U);
    EXPECT_LE(stem.size(), 80U);
}

TEST(LocalNames, SignaturesAndTypes) {
    EXPECT_EQ(extensionOfSignature(std::string("FWS\x0A\x00\x04\x00\x00", 8)), "swf");
    EXPECT_EQ(extensionOfSignature("CWS\x0Axxxx"), "swf");
    EXPECT_EQ(extensionOfSignature("ZWS\x0Dxxxxx"), "swf");
    EXPECT_EQ(extensionOfSignature("FWS"), "");
    EXPECT_EQ(extensionOfSignature("GIF89a.."), "");
    EXPECT_EQ(extensionOfMediaType("APPLICATION/X-SHOCKWAVE-FLASH"), "swf");
    EXPECT_EQ(extensionOfMediaType("application/vnd.adobe.flash-movie"), "swf");
    EXPECT_EQ(extensionOfMediaType("application/octet-stream"), "");
}

} // namespace
} // namespace sarnika::sources
