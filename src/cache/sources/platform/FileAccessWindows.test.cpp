// Read-only access on Windows: what a running browser must still be able to do to its files
// while we read them, and what we must still be able to read. Runs under Wine in the
// cross-build.
#include <fstream>

#include <windows.h>

#include <gtest/gtest.h>

#include "cache/sources/FileAccess.h"
#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

TEST(WindowsReadOnlyFile, ReadsRangesAndNeverPastTheEnd) {
    const TempDir dir;
    const fs::path file = dir.write("Cache_Data/data_1", "0123456789");
    auto opened = ReadOnlyFile::open(file);
    ASSERT_TRUE(opened) << opened.error().message;
    EXPECT_EQ(opened->size(), 10U);
    EXPECT_EQ(opened->read(2, 3).value(), "234");
    EXPECT_EQ(opened->read(8, 1'000'000'000).value(), "89");
    EXPECT_EQ(opened->read(10, 5).value(), "");
    EXPECT_EQ(opened->readAll(100).value(), "0123456789");
    EXPECT_EQ(readFileRange(file, 5, 2).value(), "56");
    // The narrow form of the path opens the same file.
    EXPECT_EQ(ReadOnlyFile::open(file.string().c_str())->read(0, 4).value(), "0123");

    const auto missing = ReadOnlyFile::open(dir.path() / "gone");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, Error::Code::NotFound);
    const auto folder = ReadOnlyFile::open(dir.path() / "Cache_Data");
    ASSERT_FALSE(folder);
    EXPECT_EQ(folder.error().code, Error::Code::Unreadable);
}

// What a crafted cache or a wrong --cache may name instead of a file: refused at once.
TEST(WindowsReadOnlyFile, RefusesDevicesAndPipes) {
    const auto device = ReadOnlyFile::open(fs::path("NUL"));
    ASSERT_FALSE(device);
    EXPECT_NE(device.error().message.find("refused"), std::string::npos) << device.error().message;
    const wchar_t* name = L"\\\\.\\pipe\\sarnika-file-access-test";
    const HANDLE pipe =
        CreateNamedPipeW(name, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    const auto opened = ReadOnlyFile::open(fs::path(name));
    CloseHandle(pipe);
    ASSERT_FALSE(opened);
    EXPECT_NE(opened.error().message.find("refused"), std::string::npos) << opened.error().message;
}

TEST(WindowsReadOnlyFile, TheBrowserKeepsWritingRenamingAndDeleting) {
    const TempDir dir;
    const fs::path file = dir.write("f_000001", "body");
    // The browser holds the file open for writing; we can still read it.
    const HANDLE writer =
        CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    auto opened = ReadOnlyFile::open(file);
    ASSERT_TRUE(opened) << opened.error().message;
    CloseHandle(writer);

    // While we hold it, the browser can rename it and delete it, and our reads still work.
    const fs::path renamed = dir.path() / "f_000002";
    std::error_code error;
    fs::rename(file, renamed, error);
    EXPECT_FALSE(error) << error.message();
    EXPECT_TRUE(fs::remove(renamed, error)) << error.message();
    EXPECT_EQ(opened->read(0, 4).value(), "body");
}

TEST(WindowsReadOnlyFile, IdentityFollowsTheFilesContent) {
    const TempDir dir;
    const fs::path file = dir.write("entry", "one");
    const std::string first = fileIdentity(file);
    EXPECT_EQ(ReadOnlyFile::open(file)->identity(), first);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "three";
    }
    EXPECT_NE(fileIdentity(file), first);
    EXPECT_EQ(fileIdentity(dir.path() / "none"), (dir.path() / "none").string() + "|missing");
}

} // namespace
} // namespace sarnika::sources
