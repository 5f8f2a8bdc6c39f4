#include "curation/SiteAssets.h"

#include <gtest/gtest.h>

namespace {

using sarnika::curation::linkedUrls;
using sarnika::curation::resolveUrl;
using sarnika::curation::SiteAssets;

TEST(SiteAssets, resolvesReferencesAsBrowsersDo) {
    const char* base = "http://Games.Example.com/flash/quest/game.swf?v=2#top";
    const std::pair<const char*, const char*> cases[] = {
        {"config.xml", "http://games.example.com/flash/quest/config.xml"},
        {"levels/level2.swf?lang=en#x",
         "http://games.example.com/flash/quest/levels/level2.swf?lang=en"},
        {"../shared/./sounds.mp3", "http://games.example.com/flash/shared/sounds.mp3"},
        {"../../../../up.xml", "http://games.example.com/up.xml"},
        {"/root.xml", "http://games.example.com/root.xml"},
        {"//CDN.example.net/a.swf", "http://cdn.example.net/a.swf"},
        {"HTTPS://cdn.example.net/b/../c.flv", "https://cdn.example.net/c.flv"},
        {"?id=3", "http://games.example.com/flash/quest/game.swf?id=3"},
        {"levels/", "http://games.example.com/flash/quest/levels/"},
        {"javascript:play()", ""},
        {"mailto:someone@example.com", ""},
        {"#frame", ""},
        {"", ""},
    };
    for (const auto& [reference, expected] : cases) {
        EXPECT_EQ(resolveUrl(base, reference), expected) << reference;
    }
    EXPECT_EQ(resolveUrl("file:///home/movie.swf", "a.xml"), "");
    EXPECT_EQ(resolveUrl("http://example.com", "a.xml"), "http://example.com/a.xml");
}

TEST(SiteAssets, takesTheLinksOfAMovieAndTheFilesOfItsHosts) {
    const std::vector<std::string> texts = {"config.xml",
                                            "levels/level2.swf",
                                            "http://cdn.example.net/music?track=1",
                                            "_level1",
                                            "flash.display.MovieClip",
                                            "onRelease",
                                            "Score: ",
                                            "a b.xml",
                                            "asfunction:go",
                                            "data.php?id=3"};
    EXPECT_EQ(linkedUrls("http://example.com/g/game.swf", texts),
              (std::vector<std::string>{
                  "http://example.com/g/config.xml", "http://example.com/g/levels/level2.swf",
                  "http://cdn.example.net/music?track=1", "http://example.com/g/data.php?id=3"}));

    SiteAssets assets;
    EXPECT_TRUE(assets.empty());
    assets.addHost("WWW.Games.example.com");
    for (const std::string& url : linkedUrls("http://example.com/g/game.swf", texts)) {
        assets.addUrl(url);
    }
    EXPECT_TRUE(assets.takes("http://www.games.example.com/any/file.png"));
    EXPECT_TRUE(assets.takes("http://EXAMPLE.com/g/config.xml#part"));
    // Games add cache-busting queries at run time; a named query must match as it stands.
    EXPECT_TRUE(assets.takes("http://example.com/g/levels/level2.swf?nocache=1796"));
    EXPECT_TRUE(assets.takes("http://example.com/g/data.php?id=3"));
    EXPECT_FALSE(assets.takes("http://example.com/g/data.php?id=4"));
    EXPECT_FALSE(assets.takes("http://example.com/g/other.xml"));
    EXPECT_FALSE(assets.takes("http://cdn.example.net/music?track=2"));
    EXPECT_FALSE(assets.takes("not a url"));
}

} // namespace
