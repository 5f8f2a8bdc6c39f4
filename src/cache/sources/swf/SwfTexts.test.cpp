#include "cache/sources/swf/SwfTexts.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cache/sources/swf/SwfHeader.h"
#include "support/TempDir.h"

namespace {

using sarnika::sources::swfTexts;
using sarnika::testing::contentOf;
using sarnika::testing::sharedDir;
using sarnika::testing::TempDir;

std::vector<std::string> textsOf(const std::string& movie) {
    return swfTexts(std::span(reinterpret_cast<const std::uint8_t*>(movie.data()), movie.size()));
}

bool holds(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// A movie of our own writer whose first frame loads the given files, as games do.
std::string gameMovie(const TempDir& dir, const std::string& loads, bool compressed) {
    const auto file = dir.path() / (compressed ? "game-cws.swf" : "game-fws.swf");
    const std::string command = std::string("python3 '") + SARNIKA_TOOLS_DIR +
                                "/make_swf_movies.py' '" + file.string() + "' --loads '" + loads +
                                "'" + (compressed ? " --cws" : "") + " >/dev/null";
    // NOLINTNEXTLINE(cert-env33-c): our own tool, quoted paths
    return std::system(command.c_str()) == 0 ? contentOf(file) : std::string();
}

TEST(SwfTexts, namesWhatAnActionScript2MovieLoadsAndSurvivesItsDamage) {
#ifdef _WIN32
    GTEST_SKIP() << "the movie writer runs on the build machine";
#endif
    const TempDir dir;
    const std::string loads = "config.xml,levels/level2.swf,http://cdn.example.com/sounds.xml";
    for (const bool compressed : {false, true}) {
        const std::string movie = gameMovie(dir, loads, compressed);
        ASSERT_FALSE(movie.empty()) << "python3 and tools/make_swf_movies.py are needed";
        const auto texts = textsOf(movie);
        for (const char* named :
             {"config.xml", "levels/level2.swf", "http://cdn.example.com/sounds.xml", "_level2"}) {
            EXPECT_TRUE(holds(texts, named)) << named << (compressed ? " (CWS)" : " (FWS)");
        }
        // Cut anywhere, a movie gives some of the same texts and nothing else.
        for (std::size_t length = 0; length < movie.size(); length += 7) {
            for (const std::string& text : textsOf(movie.substr(0, length))) {
                EXPECT_TRUE(holds(texts, text)) << text << " from " << length << " bytes";
            }
        }
    }
}

TEST(SwfTexts, readsTheStringPoolsOfActionScript3Code) {
    // Every AS3 movie names the player's classes it uses in its string pool; LZMA and zlib.
    for (const char* name : {"loadbytes_zws_v50_as3.swf", "stage3d_fractal_zws_v43_as3.swf",
                             "pixelbender_dithering_cws_v15_as3_jpeg.swf"}) {
        if (std::string(name).find("_zws_") != std::string::npos &&
            !sarnika::sources::swfLzmaAvailable()) {
            continue; // a Windows build without liblzma
        }
        const auto texts = textsOf(contentOf(sharedDir() / "testdata/swf" / name));
        EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                                [](const std::string& text) { return text.starts_with("flash."); }))
            << name << ": " << texts.size() << " texts";
    }
}

// A movie of the given tags after a stage of no size; every tag in the long form.
std::string movieOf(std::initializer_list<std::pair<unsigned, std::string>> tags) {
    std::string movie("FWS\x0a\0\0\0\0\x08\0\0\x0c\x01\0", 14);
    for (const auto& [code, body] : tags) {
        const unsigned head = code << 6U | 0x3fU;
        const auto length = static_cast<std::uint32_t>(body.size());
        movie += {static_cast<char>(head & 0xffU), static_cast<char>(head >> 8U)};
        for (unsigned shift = 0; shift < 32; shift += 8) {
            movie += static_cast<char>(length >> shift & 0xffU);
        }
        movie += body;
    }
    return movie;
}

TEST(SwfTexts, hostileBytesGiveNothingOrWhatIsThere) {
    EXPECT_TRUE(textsOf("").empty());
    EXPECT_TRUE(textsOf("GIF89a, no movie at all").empty());
    EXPECT_TRUE(textsOf("CWS\x0a\xff\xff\xff\xff damaged zlib data").empty());
    EXPECT_TRUE(textsOf("ZWS\x0a\xff\xff\xff\xff\x05\0\0\0\x5d\xff\xff\xff\xff").empty());
    // Constant pools: one that claims more strings than it has, a text with a line break.
    const std::string pool("\x88\x11\0\x05\0config.xml\0a\nb\0", 20);
    EXPECT_EQ(textsOf(movieOf({{12, pool}})), std::vector<std::string>{"config.xml"});
    // A tag that claims 4 GiB gives what the file holds.
    std::string cut = movieOf({{12, pool}});
    cut[cut.size() - pool.size() - 1] = '\x7f';
    EXPECT_EQ(textsOf(cut), std::vector<std::string>{"config.xml"});
    // ActionScript 3 pools that claim a billion entries end with the bytes.
    const std::string flagsAndName("\x01\0\0\0main\0", 9);
    const std::string billion("\xff\xff\xff\xff\x03", 5);
    for (const std::string& abc :
         {std::string("\x10\0\x2e\0", 4) + billion,
          std::string("\x10\0\x2e\0\x01\x01", 6) + billion,
          std::string("\x10\0\x2e\0\x01\x01\x01", 7) + billion + "\x04" + "ab"}) {
        EXPECT_TRUE(textsOf(movieOf({{82, flagsAndName + abc}})).empty());
    }
    // Sprites within sprites within sprites: the texts of the first two levels only.
    std::string nested = movieOf({{12, pool}}).substr(14);
    for (int level = 0; level < 3; ++level) {
        nested = movieOf({{39, std::string(4, '\0') + nested}}).substr(14);
    }
    EXPECT_TRUE(textsOf(movieOf({{39, std::string(4, '\0') + nested}})).empty());
}

} // namespace
