#include "cli/TerminalText.h"

#include <gtest/gtest.h>

#include "cli/JsonWriter.h"

namespace sarnika::cli {
namespace {

// What a crafted URL or file name tries on a terminal, and what reaches it instead.
TEST(TerminalText, NeutralisesEverySequenceThatDrivesATerminal) {
    // An OSC title change and a screen clear, both started by ESC (C0).
    EXPECT_EQ(terminalText("a\x1b]0;owned\x07z\x1b[2J"), "a\\x1B]0;owned\\x07z\\x1B[2J");
    // CSI as one C1 byte, raw and as its UTF-8 form U+009B.
    EXPECT_EQ(terminalText("x\x9b"
                           "2Jy"),
              "x\\x9B2Jy");
    EXPECT_EQ(terminalText("x\xc2\x9b"
                           "2Jy"),
              "x\\u{009B}2Jy");
    EXPECT_EQ(terminalText(std::string_view("\t\n\r\0\x7f", 5)), "\\t\\n\\r\\x00\\x7F");
    // Bidirectional overrides and isolates would show "fws.exe" as another name.
    const std::string override = std::string("\xe2\x80") + '\xae'; // U+202E
    EXPECT_EQ(terminalText("evil" + override + "gpj.swf"), "evil\\u{202E}gpj.swf");
    EXPECT_EQ(terminalText("\xe2\x81\xa6x\xe2\x81\xa9\xe2\x80\x8f"),
              "\\u{2066}x\\u{2069}\\u{200F}");
    // Bytes that are not UTF-8, one escape each; the valid character after them stays.
    EXPECT_EQ(terminalText("caf\xe9 \xe2\xc3\xa9"), "caf\\xE9 \\xE2\xc3\xa9");
    // Ordinary text, accents, other scripts and Windows paths are left alone.
    EXPECT_EQ(terminalText("C:\\Cache\\caf\xc3\xa9 \xe6\x97\xa5.swf?a=1&b=%20"),
              "C:\\Cache\\caf\xc3\xa9 \xe6\x97\xa5.swf?a=1&b=%20");
}

TEST(TerminalText, ExactBytesOfAFileNameReadBack) {
    const std::string name = "/c/caf\xe9%41\xc3\xa9\n.swf";
    const std::string text = exactBytesText(name);
    EXPECT_EQ(text, "/c/caf%E9%2541\xc3\xa9%0A.swf");
    // Undoing every %XX gives the very bytes again.
    std::string back;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            back += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            back += text[i];
        }
    }
    EXPECT_EQ(back, name);
}

} // namespace
} // namespace sarnika::cli
