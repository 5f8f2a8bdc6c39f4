#include "platform/windows/WinShell.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace sarnika::winshell {
namespace {

TEST(WinShell, PersonalFolderExistsWithoutTrailingDelimiter) {
    const std::string documents = GetPersonalFolder();
    ASSERT_FALSE(documents.empty());
    EXPECT_NE(documents.back(), '\\');
    EXPECT_TRUE(std::filesystem::is_directory(documents)) << documents;
    // A folder the shell does not know gives the empty string.
    EXPECT_EQ(GetSpecialFolderPath(0xFE), "");
}

TEST(WinShell, TrailingDelimitersGoExceptAtARoot) {
    EXPECT_EQ(withoutTrailingDelimiter("C:\\users\\me\\Documents\\"), "C:\\users\\me\\Documents");
    EXPECT_EQ(withoutTrailingDelimiter("C:\\users\\me\\\\"), "C:\\users\\me");
    EXPECT_EQ(withoutTrailingDelimiter("D:/Movies/"), "D:/Movies");
    EXPECT_EQ(withoutTrailingDelimiter("C:\\"), "C:\\");
    EXPECT_EQ(withoutTrailingDelimiter("\\"), "\\");
    EXPECT_EQ(withoutTrailingDelimiter(""), "");
}

TEST(WinShell, OpenAnswersTrueEvenForAMissingFile) {
    // Wine would show an error box here; the tests run without a display, so nothing waits.
    EXPECT_TRUE(ShellOpen("C:\\no such folder\\no such movie.swf"));
}

} // namespace
} // namespace sarnika::winshell
