#include "cli/MovieOutput.h"

#include <gtest/gtest.h>

namespace sarnika::cli {
namespace {

TEST(MovieOutput, ListLinesAndJson) {
    MovieRow row;
    row.displayName = "a\tb.swf";
    row.host = "h";
    row.url = "http://h/a\tb.swf";
    row.localFile = "/c/a[1].swf";
    row.suggestedName = "a\tb.swf";
    EXPECT_EQ(listLine(row), "a\\tb.swf\t-\th\thttp://h/a\\tb.swf\t/c/a[1].swf");
    row.size = 12;
    EXPECT_EQ(jsonOf(row), R"({"name":"a\tb.swf","size":12,"host":"h","url":"http://h/a\tb.swf",)"
                           R"("localFile":"/c/a[1].swf","localFileBytes":"/c/a[1].swf",)"
                           R"("suggestedName":"a\tb.swf",)"
                           R"("sniffed":false,"source":null,"swf":null})");

    // The movie's header, with and without the stage fields, and one that cannot be read.
    sources::SwfHeader header;
    header.signature = "CWS";
    header.compression = sources::SwfCompression::Zlib;
    header.version = 9;
    header.declaredLength = 4000;
    header.warning = "truncated";
    EXPECT_EQ(jsonOf(Result<sources::SwfHeader>(header)),
              R"({"signature":"CWS","compression":"zlib","version":9,"declaredLength":4000,)"
              R"("width":null,"height":null,"frameRate":null,"frameCount":null,)"
              R"("warning":"truncated"})");
    header.stage = sources::SwfStage{-20, 11001, 0, 8000, 0x0C80, 30};
    header.warning.clear();
    row.swf = header;
    EXPECT_NE(jsonOf(row).find(R"("swf":{"signature":"CWS","compression":"zlib","version":9,)"
                               R"("declaredLength":4000,"width":551.05,"height":400,)"
                               R"("frameRate":12.5,"frameCount":30,"warning":null}})"),
              std::string::npos)
        << jsonOf(row);
    EXPECT_EQ(jsonOf(Result<sources::SwfHeader>(makeError(Error::Code::Malformed, "bad \"x\""))),
              R"({"error":"bad \"x\""})");
}

TEST(MovieOutput, EntryLinesShowDashesAndJsonNullsForWhatIsMissing) {
    EntryRow row;
    row.group = "cookie";
    row.url = "Cookie:u@h\x1B/";
    EXPECT_EQ(listLine(row), "cookie\t-\tCookie:u@h\\x1B/\t0\t-\t-");
    EXPECT_EQ(jsonOf(row), R"({"group":"cookie","category":null,"url":"Cookie:u@h\u001b/",)"
                           R"("size":0,"localFile":null,"localFileBytes":null,"source":null})");
    row.source = sources::SourceDescription{"Firefox", "", "/p/cookies.sqlite", "ann"};
    EXPECT_EQ(listLine(row).substr(listLine(row).rfind('\t') + 1),
              "Firefox of ann: /p/cookies.sqlite");
}

} // namespace
} // namespace sarnika::cli
