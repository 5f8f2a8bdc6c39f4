#include "win32/MovieFacts.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace {

using sarnika::testing::sharedDir;
using sarnika::testing::TempDir;
using sarnika::win32::movieFacts;

TEST(MovieFacts, TellWhatTheHeaderHoldsOrWhyThereIsNone) {
    const auto swf = sharedDir() / "testdata" / "swf";
    EXPECT_EQ(movieFacts((swf / "zlib_cws.swf").string()),
              "zlib_cws.swf\r\nFile size: 7,174 bytes\r\nFlash movie: CWS (zlib), version 32\r\n"
              "Stage: 400 x 400 pixels\r\nFrame rate: 60 per second\r\nFrames: 1\r\n");
    const TempDir dir;
    const auto page = dir.write("page.swf", "<html>not a movie</html>");
    EXPECT_EQ(movieFacts(page.string())
                  .rfind("page.swf\r\nFile size: 24 bytes\r\nNot a readable "
                         "Flash movie: ",
                         0),
              0U)
        << movieFacts(page.string());
    EXPECT_EQ(movieFacts((dir.path() / "gone.swf").string()),
              "gone.swf\r\nThe cached file cannot be read.");
}

} // namespace
