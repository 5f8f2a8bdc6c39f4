#include "cli/JsonWriter.h"

#include <gtest/gtest.h>

namespace sarnika::cli {
namespace {

TEST(JsonWriter, EscapesWhatJsonForbidsRaw) {
    EXPECT_EQ(jsonString(""), R"("")");
    EXPECT_EQ(jsonString(R"(a"b\c/d)"), R"("a\"b\\c/d")");
    EXPECT_EQ(jsonString("\b\f\n\r\t"), R"("\b\f\n\r\t")");
    EXPECT_EQ(jsonString(std::string_view("\x00\x01\x1f\x7f", 4)), R"("\u0000\u0001\u001f\u007f")");
}

TEST(JsonWriter, KeepsValidUtf8AndReplacesEveryBadByte) {
    EXPECT_EQ(jsonString("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\x9e"),
              "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\x9e\"");
    // Latin-1 byte, lone continuation byte, truncated sequence at the end.
    EXPECT_EQ(jsonString("caf\xe9"), R"("caf\ufffd")");
    EXPECT_EQ(jsonString("\x80x"), R"("\ufffdx")");
    EXPECT_EQ(jsonString("a\xe2\x82"), R"("a\ufffd\ufffd")");
    // Overlong forms, a UTF-16 surrogate, beyond U+10FFFF, and bytes never used.
    EXPECT_EQ(jsonString("\xc0\xaf"), R"("\ufffd\ufffd")");
    EXPECT_EQ(jsonString("\xe0\x80\xaf"), R"("\ufffd\ufffd\ufffd")");
    EXPECT_EQ(jsonString("\xed\xa0\x80"), R"("\ufffd\ufffd\ufffd")");
    EXPECT_EQ(jsonString("\xf4\x90\x80\x80"), R"("\ufffd\ufffd\ufffd\ufffd")");
    EXPECT_EQ(jsonString("\xfe\xff"), R"("\ufffd\ufffd")");
    // A bad byte does not swallow the valid character after it.
    EXPECT_EQ(jsonString("\xe2\xc3\xa9"), "\"\\ufffd\xc3\xa9\"");
}

TEST(JsonWriter, ObjectsKeepTheOrderOfTheirMembers) {
    EXPECT_EQ(JsonObject().text(), "{}");
    const std::string text = JsonObject()
                                 .add("s", "x\"y")
                                 .add("n", std::int64_t{-5})
                                 .add("b", false)
                                 .addOrNull("none", std::optional<std::string>())
                                 .addOrNull("size", std::optional<std::uint64_t>(7))
                                 .addRaw("o", JsonObject().add("k", "v").text())
                                 .text();
    EXPECT_EQ(text, R"({"s":"x\"y","n":-5,"b":false,"none":null,"size":7,"o":{"k":"v"}})");
}

} // namespace
} // namespace sarnika::cli
