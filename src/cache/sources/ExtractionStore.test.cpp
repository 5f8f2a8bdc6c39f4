#include "cache/sources/ExtractionStore.h"

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

using sarnika::testing::contentOf;

namespace fs = std::filesystem;
using testing::TempDir;

TEST(ExtractionStore, KeysAreStableAndDistinct) {
    EXPECT_EQ(ExtractionStore::keyOf("a"), ExtractionStore::keyOf("a"));
    EXPECT_NE(ExtractionStore::keyOf("a"), ExtractionStore::keyOf("b"));
    EXPECT_EQ(ExtractionStore::keyOf("").size(), 16U);
    EXPECT_EQ(ExtractionStore::keyOf(""), "cbf29ce484222325");
}

TEST(ExtractionStore, WritesWholeFilesAndNeverReplacesOne) {
    TempDir dir;
    const ExtractionStore store(dir.path() / "x");
    const fs::path folder = store.folderFor("0123456789abcdef", "fedcba9876543210");
    ASSERT_TRUE(store.write(folder, "movie[1].swf", "FWS first"));
    EXPECT_EQ(contentOf(folder / "movie[1].swf"), "FWS first");
    ASSERT_TRUE(store.write(folder, "movie[1].swf", "second"));
    EXPECT_EQ(contentOf(folder / "movie[1].swf"), "FWS first");
    // No partial files stay behind.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(ExtractionStore, WriteFailureIsReported) {
    TempDir dir;
    dir.write("blocker", "a file where a folder should be");
    const ExtractionStore store(dir.path() / "blocker");
    const Status written =
        store.write(store.folderFor("0123456789abcdef", "0123456789abcdef"), "m[1].swf", "x");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().code, Error::Code::WriteFailed);
}

TEST(ExtractionStore, PruneRemovesOnlyUnkeptFoldersOfOurNaming) {
    TempDir dir;
    const ExtractionStore store(dir.path());
    const std::string source = ExtractionStore::keyOf("/cache");
    const std::string kept = ExtractionStore::keyOf("kept");
    const std::string gone = ExtractionStore::keyOf("gone");
    ASSERT_TRUE(store.write(store.folderFor(source, kept), "a[1].swf", "a"));
    ASSERT_TRUE(store.write(store.folderFor(source, gone), "b[1].swf", "b"));
    dir.write(source + "/not-ours/file", "x");
    store.prune(source, {kept});
    EXPECT_TRUE(fs::exists(store.folderFor(source, kept) / "a[1].swf"));
    EXPECT_FALSE(fs::exists(store.folderFor(source, gone)));
    EXPECT_TRUE(fs::exists(dir.path() / source / "not-ours" / "file"));

    const std::string other = ExtractionStore::keyOf("/other");
    ASSERT_TRUE(store.write(store.folderFor(other, kept), "c[1].swf", "c"));
    store.pruneSources({source});
    EXPECT_TRUE(fs::exists(dir.path() / source));
    EXPECT_FALSE(fs::exists(dir.path() / other));
    // A missing root is not an error.
    ExtractionStore(dir.path() / "missing").pruneSources({});
}

} // namespace
} // namespace sarnika::sources
