#include "app/SaveMovies.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace sarnika {
namespace {

namespace fs = std::filesystem;

std::string contentOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Creates the target just before the real copy, as another program saving there would.
class RacingCopier : public FileCopier {
public:
    Status copyExclusive(const std::string& source, const std::string& target) override {
        if (races > 0) {
            --races;
            std::ofstream(target, std::ios::binary) << "theirs";
        }
        return m_local.copyExclusive(source, target);
    }
    Status copyReplacing(const std::string& source, const std::string& target) override {
        return m_local.copyReplacing(source, target);
    }

    int races = 1;

private:
    LocalFileCopier m_local;
};

// Answers a fixed error for one source and copies the others.
class FailingCopier : public FileCopier {
public:
    Status copyExclusive(const std::string& source, const std::string& target) override {
        ++calls;
        if (source == failingSource) {
            return makeError(failure, "disk full while writing " + target);
        }
        return m_local.copyExclusive(source, target);
    }
    Status copyReplacing(const std::string&, const std::string&) override { return {}; }

    std::string failingSource;
    Error::Code failure = Error::Code::WriteFailed;
    int calls = 0;

private:
    LocalFileCopier m_local;
};

class SaveMoviesTest : public ::testing::Test {
protected:
    SaveMoviesTest() {
        fs::create_directory(m_dir.path() / "out");
        m_first = m_dir.write("cache/f_000001", "first movie").string();
        m_second = m_dir.write("cache/f_000002", "second movie").string();
    }

    fs::path out() const { return m_dir.path() / "out"; }
    std::string outFolder() const { return out().string(); }

    testing::TempDir m_dir;
    std::string m_first;
    std::string m_second;
    LocalFileCopier m_copier;
};

TEST(WithTrailingSeparator, AddsOneOnlyWhenMissing) {
    EXPECT_EQ(WithTrailingSeparator("/home/me/movies"), "/home/me/movies/");
    EXPECT_EQ(WithTrailingSeparator("/home/me/movies/"), "/home/me/movies/");
    EXPECT_EQ(WithTrailingSeparator("/"), "/");
    EXPECT_EQ(WithTrailingSeparator(""), "");
}

TEST(SaveAllTexts, QuestionAndFailures) {
    EXPECT_EQ(SaveAllQuestion(3),
              "3 file(s) have been successfully saved.\n\rOpen destination folder?");
    EXPECT_EQ(SaveAllQuestion(12).substr(0, 3), "12 ");

    SaveAllResult result;
    result.saved = 3;
    EXPECT_EQ(SaveAllFailureText(result), "");
    result.failed = 1;
    result.firstFailure = "Cannot read \"/c/x\": No such file or directory";
    EXPECT_EQ(SaveAllFailureText(result),
              "1 file(s) could not be saved.\n\nCannot read \"/c/x\": No such file or directory");
    result.saved = 0;
    result.failed = 2;
    const std::string none = SaveAllFailureText(result);
    EXPECT_EQ(none.rfind("No file was saved.", 0), 0U) << none;
    EXPECT_NE(none.find("2 file(s) could not be saved."), std::string::npos);
}

TEST_F(SaveMoviesTest, SameSuggestedNamesGetNumberedNames) {
    const SaveAllResult result =
        SaveAll(outFolder(), {m_first, m_second}, {"clip.swf", "clip.swf"}, m_copier);
    EXPECT_EQ(result.folder, outFolder() + "/");
    EXPECT_EQ(result.saved, 2);
    EXPECT_EQ(result.failed, 0);
    EXPECT_EQ(namesIn(out()), (std::set<std::string>{"clip.swf.swf", "clip.swf-1.swf"}));
    EXPECT_EQ(contentOf(out() / "clip.swf.swf"), "first movie");
    EXPECT_EQ(contentOf(out() / "clip.swf-1.swf"), "second movie");
    ASSERT_EQ(result.savedMovies.size(), 2U);
    EXPECT_EQ(result.savedMovies[1].cacheFile, m_second);
    EXPECT_EQ(result.savedMovies[1].target, (out() / "clip.swf-1.swf").string());
}

TEST_F(SaveMoviesTest, NeverReplacesFilesAlreadyThere) {
    m_dir.write("out/clip.swf.swf", "old one");
    m_dir.write("out/clip.swf-1.swf", "old two");
    const SaveAllResult result = SaveAll(outFolder() + "/", {m_first}, {"clip.swf"}, m_copier);
    EXPECT_EQ(result.saved, 1);
    EXPECT_EQ(contentOf(out() / "clip.swf.swf"), "old one");
    EXPECT_EQ(contentOf(out() / "clip.swf-1.swf"), "old two");
    EXPECT_EQ(contentOf(out() / "clip.swf-2.swf"), "first movie");
}

TEST_F(SaveMoviesTest, ANameTakenBeforeTheCopyMovesOnToTheNextName) {
    RacingCopier copier;
    const SaveAllResult result = SaveAll(outFolder(), {m_first}, {"clip.swf"}, copier);
    EXPECT_EQ(result.saved, 1);
    EXPECT_EQ(result.failed, 0);
    EXPECT_EQ(contentOf(out() / "clip.swf.swf"), "theirs");
    EXPECT_EQ(contentOf(out() / "clip.swf-1.swf"), "first movie");
    ASSERT_EQ(result.savedMovies.size(), 1U);
    EXPECT_EQ(result.savedMovies[0].target, (out() / "clip.swf-1.swf").string());
}

TEST_F(SaveMoviesTest, CountsFailuresWithTheFirstReason) {
    const std::string gone = (m_dir.path() / "cache" / "f_gone").string();
    const std::string third = m_dir.write("cache/f_000003", "third").string();
    const std::string fourth = m_dir.write("cache/f_000004", "fourth").string();
    const SaveAllResult result = SaveAll(outFolder(), {m_first, gone, third, "", fourth},
                                         {"a.swf", "b.swf", "c.swf", "d.swf", "e.swf"}, m_copier);
    EXPECT_EQ(result.saved, 3);
    EXPECT_EQ(result.failed, 1);
    EXPECT_NE(result.firstFailure.find(gone), std::string::npos) << result.firstFailure;
    EXPECT_NE(result.firstFailure.find("No such file"), std::string::npos) << result.firstFailure;
    EXPECT_EQ(namesIn(out()), (std::set<std::string>{"a.swf.swf", "c.swf.swf", "e.swf.swf"}));
    EXPECT_EQ(SaveAllQuestion(result.saved).substr(0, 2), "3 ");
}

TEST_F(SaveMoviesTest, AFailedCopyIsCountedAndTheRestGoOn) {
    FailingCopier copier;
    copier.failingSource = m_first;
    const SaveAllResult result =
        SaveAll(outFolder(), {m_first, m_second}, {"a.swf", "b.swf"}, copier);
    EXPECT_EQ(result.saved, 1);
    EXPECT_EQ(result.failed, 1);
    EXPECT_EQ(result.firstFailure, "disk full while writing " + outFolder() + "/a.swf.swf");
    EXPECT_EQ(namesIn(out()), (std::set<std::string>{"b.swf.swf"}));
}

TEST_F(SaveMoviesTest, ACopierThatKeepsSayingExistsDoesNotLoop) {
    FailingCopier copier;
    copier.failingSource = m_first;
    copier.failure = Error::Code::Exists;
    const SaveAllResult result = SaveAll(outFolder(), {m_first}, {"a.swf"}, copier);
    EXPECT_EQ(result.saved, 0);
    EXPECT_EQ(result.failed, 1);
    EXPECT_LE(copier.calls, 2);
}

TEST_F(SaveMoviesTest, AFolderOfTheTargetNameFailsTheCopy) {
    fs::create_directory(out() / "clip.swf.swf");
    const SaveAllResult result = SaveAll(outFolder(), {m_first}, {"clip.swf"}, m_copier);
    EXPECT_EQ(result.saved, 0);
    EXPECT_EQ(result.failed, 1);
    EXPECT_NE(result.firstFailure.find("directory"), std::string::npos) << result.firstFailure;
}

TEST_F(SaveMoviesTest, ExclusiveCopyLeavesNothingWhenItFails) {
    const std::string target = (out() / "x.swf").string();
    const Status missing = m_copier.copyExclusive(m_first + "-gone", target);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, Error::Code::NotFound);

    // Reading a folder fails only after the target was created.
    const Status partWay = m_copier.copyExclusive((m_dir.path() / "cache").string(), target);
    ASSERT_FALSE(partWay.ok());
    EXPECT_TRUE(namesIn(out()).empty());

    m_dir.write("out/x.swf", "kept");
    const Status exists = m_copier.copyExclusive(m_first, target);
    ASSERT_FALSE(exists.ok());
    EXPECT_EQ(exists.error().code, Error::Code::Exists);
    EXPECT_EQ(contentOf(target), "kept");
}

TEST_F(SaveMoviesTest, SaveAsReplacesTheChosenFile) {
    const std::string target = m_dir.write("out/mine.swf", "an older and longer file").string();
    ASSERT_TRUE(SaveAs(m_first, target, m_copier).ok());
    EXPECT_EQ(contentOf(target), "first movie");
    EXPECT_EQ(namesIn(out()), (std::set<std::string>{"mine.swf"}));
}

TEST_F(SaveMoviesTest, FailedSaveAsKeepsTheOldFileAndSaysWhy) {
    const std::string target = m_dir.write("out/mine.swf", "keep me").string();
    const Status missingSource = SaveAs(m_first + "-gone", target, m_copier);
    ASSERT_FALSE(missingSource.ok());
    EXPECT_EQ(contentOf(target), "keep me");

    const Status partWay = SaveAs((m_dir.path() / "cache").string(), target, m_copier);
    ASSERT_FALSE(partWay.ok());
    EXPECT_EQ(contentOf(target), "keep me");
    EXPECT_EQ(namesIn(out()), (std::set<std::string>{"mine.swf"}));

    const Status noFolder = SaveAs(m_first, (m_dir.path() / "no" / "x.swf").string(), m_copier);
    ASSERT_FALSE(noFolder.ok());
    EXPECT_NE(noFolder.error().message.find("No such file or directory"), std::string::npos)
        << noFolder.error().message;
}

} // namespace
} // namespace sarnika
