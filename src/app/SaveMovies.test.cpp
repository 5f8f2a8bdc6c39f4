#include "app/SaveMovies.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace sarnika {
namespace {

using sarnika::testing::contentOf;

namespace fs = std::filesystem;
using Names = std::set<std::string>;

Names namesIn(const fs::path& folder) {
    Names names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Wraps the real copier: another program may create the target just before the copy, and one
// source may fail with a given error.
class ScriptedCopier : public FileCopier {
public:
    Status copyExclusive(const std::string& source, const std::string& target) override {
        ++calls;
        if (races > 0) {
            --races;
            std::ofstream(target, std::ios::binary) << "theirs";
        }
        if (source == failingSource) {
            return makeError(failure, "disk full while writing " + target);
        }
        return m_local.copyExclusive(source, target);
    }
    Status copyReplacing(const std::string& source, const std::string& target) override {
        return m_local.copyReplacing(source, target);
    }

    int races = 0;
    int calls = 0;
    std::string failingSource;
    Error::Code failure = Error::Code::WriteFailed;

private:
    LocalFileCopier m_local;
};

class SaveMovies : public ::testing::Test {
protected:
    SaveMovies() { fs::create_directory(out); }
    std::string movie(const std::string& name, std::string_view content) const {
        return m_dir.write("cache/" + name, content).string();
    }

    testing::TempDir m_dir;
    const fs::path out = m_dir.path() / "out";
    const std::string first = movie("f_1", "first movie");
    const std::string second = movie("f_2", "second movie");
    ScriptedCopier copier;
};

const char kSeparator = static_cast<char>(std::filesystem::path::preferred_separator);

TEST(SaveMovieTexts, FolderQuestionAndFailures) {
    EXPECT_EQ(WithTrailingSeparator("/home/me"), std::string("/home/me") + kSeparator);
    EXPECT_EQ(WithTrailingSeparator("/"), "/");
    EXPECT_EQ(SaveAllQuestion(3),
              "3 file(s) have been successfully saved.\n\rOpen destination folder?");

    SaveAllResult result;
    result.saved = 3;
    EXPECT_EQ(SaveAllFailureText(result), "");
    result.failed = 1;
    result.firstFailure = "Cannot read \"/c/x\": No such file or directory";
    EXPECT_EQ(SaveAllFailureText(result),
              "1 file(s) could not be saved.\n\n" + result.firstFailure);
    result.saved = 0;
    EXPECT_EQ(SaveAllFailureText(result).rfind("No file was saved.", 0), 0U);
}

TEST_F(SaveMovies, NumbersNamesAndNeverReplaces) {
    m_dir.write("out/clip.swf-1.swf", "old");
    const SaveAllResult result =
        SaveAll(out.string(), {first, second, ""}, {"clip.swf", "clip.swf", "x"}, copier);
    EXPECT_EQ(result.folder, out.string() + kSeparator);
    EXPECT_EQ(result.saved, 2);
    EXPECT_EQ(result.failed, 0);
    EXPECT_EQ(namesIn(out), (Names{"clip.swf.swf", "clip.swf-1.swf", "clip.swf-2.swf"}));
    EXPECT_EQ(contentOf(out / "clip.swf-1.swf"), "old");
    ASSERT_EQ(result.savedMovies.size(), 2U);
    EXPECT_EQ(result.savedMovies[1].cacheFile, second);
    EXPECT_EQ(result.savedMovies[1].target, (out / "clip.swf-2.swf").string());
    EXPECT_EQ(contentOf(result.savedMovies[1].target), "second movie");
}

TEST_F(SaveMovies, ANameTakenJustBeforeTheCopyMovesOn) {
    copier.races = 1;
    const SaveAllResult result = SaveAll(out.string() + "/", {first}, {"clip.swf"}, copier);
    EXPECT_EQ(result.saved, 1);
    EXPECT_EQ(contentOf(out / "clip.swf.swf"), "theirs");
    EXPECT_EQ(contentOf(out / "clip.swf-1.swf"), "first movie");
}

TEST_F(SaveMovies, FailuresAreCountedWithTheFirstReason) {
    const std::string gone = (m_dir.path() / "cache" / "gone").string();
    copier.failingSource = second;
    const SaveAllResult result =
        SaveAll(out.string(), {first, gone, second, movie("f_4", "4"), movie("f_5", "5")},
                {"a", "b", "c", "d", "e"}, copier);
    EXPECT_EQ(result.saved, 3);
    EXPECT_EQ(result.failed, 2);
    EXPECT_NE(result.firstFailure.find(gone + "\": No such file"), std::string::npos)
        << result.firstFailure;
    EXPECT_EQ(namesIn(out), (Names{"a.swf", "d.swf", "e.swf"}));
}

TEST_F(SaveMovies, NoEndlessRetriesAndNoCopyOntoAFolder) {
    copier.failingSource = first;
    copier.failure = Error::Code::Exists;
    fs::create_directory(out / "b.swf");
    const SaveAllResult result = SaveAll(out.string(), {first, second}, {"a", "b"}, copier);
    EXPECT_EQ(result.failed, 2);
    EXPECT_LE(copier.calls, 3);
    EXPECT_EQ(namesIn(out), (Names{"b.swf"}));
}

TEST_F(SaveMovies, ExclusiveCopyLeavesNothingWhenItFails) {
    LocalFileCopier local;
    const std::string target = (out / "x.swf").string();
    EXPECT_EQ(local.copyExclusive(first + "-gone", target).error().code, Error::Code::NotFound);
    // Reading a folder fails only after the target was created.
    EXPECT_FALSE(local.copyExclusive((m_dir.path() / "cache").string(), target).ok());
    EXPECT_TRUE(namesIn(out).empty());
    m_dir.write("out/x.swf", "kept");
    EXPECT_EQ(local.copyExclusive(first, target).error().code, Error::Code::Exists);
    EXPECT_EQ(contentOf(target), "kept");
}

TEST_F(SaveMovies, SaveAsReplacesOnlyWithACompleteCopy) {
    const std::string target = m_dir.write("out/mine.swf", "keep me until done").string();
    EXPECT_FALSE(SaveAs(first + "-gone", target, copier).ok());
    EXPECT_FALSE(SaveAs((m_dir.path() / "cache").string(), target, copier).ok());
    EXPECT_FALSE(SaveAs(first, first, copier).ok());
    EXPECT_EQ(contentOf(target), "keep me until done");
    EXPECT_EQ(contentOf(first), "first movie");

    ASSERT_TRUE(SaveAs(first, target, copier).ok());
    EXPECT_EQ(contentOf(target), "first movie");
    EXPECT_EQ(namesIn(out), (Names{"mine.swf"}));

    const Status noFolder = SaveAs(first, (m_dir.path() / "no" / "x.swf").string(), copier);
    ASSERT_FALSE(noFolder.ok());
    EXPECT_NE(noFolder.error().message.find("No such file or directory"), std::string::npos);
}

} // namespace
} // namespace sarnika
