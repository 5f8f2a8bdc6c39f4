#include "shell/BrowseSelection.h"

#include <set>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace sarnika {
namespace {

// Folders that exist, written as the probe is asked about them.
class FakeProbe final : public FolderProbe {
public:
    explicit FakeProbe(std::set<std::string> folders) : m_folders(std::move(folders)) {}
    bool isFolder(const std::string& path) const override { return m_folders.count(path) > 0; }

private:
    std::set<std::string> m_folders;
};

TEST(BrowseSelection, SetterAppendsSeparatorToExistingFoldersOnly) {
    const FakeProbe probe({"C:\\Docs", "C:\\Docs\\", "C:\\"});
    BrowseSelection windows(probe, PathRules::windows());
    EXPECT_TRUE(windows.setSelection("C:\\Docs"));
    EXPECT_EQ(windows.selection(), "C:\\Docs\\");
    EXPECT_TRUE(windows.setSelection("C:\\Missing"));
    EXPECT_EQ(windows.selection(), "C:\\Missing");
    EXPECT_TRUE(windows.setSelection("C:\\"));
    EXPECT_EQ(windows.selection(), "C:\\");
    // The same text again is no change, even though the stored text got no separator.
    EXPECT_FALSE(windows.setSelection("C:\\"));

    const FakeProbe posixProbe({"/home/ann"});
    BrowseSelection posix(posixProbe, PathRules::posix());
    posix.setSelection("/home/ann");
    EXPECT_EQ(posix.selection(), "/home/ann/");
    // Comparing with the stored text: the original text differs from it, so it is set again.
    EXPECT_TRUE(posix.setSelection("/home/ann"));
    EXPECT_FALSE(posix.setSelection("/home/ann/"));
}

TEST(BrowseSelection, PreselectionText) {
    const PathRules win = PathRules::windows();
    EXPECT_EQ(preselectionText("C:\\Docs\\", win), "C:\\Docs");
    EXPECT_EQ(preselectionText("C:\\", win), "C:\\");
    EXPECT_EQ(preselectionText("C:", win), "C:\\");
    EXPECT_EQ(preselectionText("C:x", win), "C:x");
    EXPECT_EQ(preselectionText("\\", win), "\\");
    EXPECT_EQ(preselectionText("C:\\Docs", win), "C:\\Docs");

    const PathRules posix = PathRules::posix();
    EXPECT_EQ(preselectionText("/home/ann/", posix), "/home/ann");
    EXPECT_EQ(preselectionText("/", posix), "/");
    // No drive letters here: "a:" is an ordinary relative name.
    EXPECT_EQ(preselectionText("a:", posix), "a:");
}

TEST(BrowseSelection, ApplySelection) {
    const FakeProbe probe({"D:\\Movies\\", "D:\\Movies", "\\\\nas\\share", "\\\\nas\\share\\"});
    BrowseSelection selection(probe, PathRules::windows());
    EXPECT_FALSE(selection.applySelection().show);

    selection.setSelection("D:\\Movies");
    Preselection shown = selection.applySelection();
    EXPECT_TRUE(shown.show);
    EXPECT_EQ(shown.path, "D:\\Movies");
    EXPECT_EQ(selection.resolvedFolder(), "D:\\Movies");

    // A missing folder is still offered as text; a missing network path is not.
    selection.setSelection("E:\\Gone\\");
    shown = selection.applySelection();
    EXPECT_TRUE(shown.show);
    EXPECT_EQ(shown.path, "E:\\Gone");
    selection.setSelection("\\\\nas\\gone");
    EXPECT_FALSE(selection.applySelection().show);
    selection.setSelection("\\\\nas\\share");
    shown = selection.applySelection();
    EXPECT_TRUE(shown.show);
    EXPECT_EQ(shown.path, "\\\\nas\\share");

    // Emptying the selection drops the resolved folder too.
    selection.setSelection("");
    EXPECT_FALSE(selection.resolvedFolder().has_value());
    EXPECT_FALSE(selection.applySelection().show);
}

TEST(BrowseSelection, RunResults) {
    const FakeProbe probe({"/srv/out"});
    BrowseSelection selection(probe, PathRules::posix());
    selection.setSelection("/srv/out");
    EXPECT_TRUE(selection.finishRun(std::string("/srv/out")));
    // Kept as the dialog returned it, without the setter's separator.
    EXPECT_EQ(selection.selection(), "/srv/out");
    EXPECT_EQ(selection.applySelection().path, "/srv/out");

    EXPECT_FALSE(selection.finishRun(std::nullopt));
    EXPECT_EQ(selection.selection(), "");
    EXPECT_FALSE(selection.resolvedFolder().has_value());
    EXPECT_FALSE(selection.applySelection().show);
}

TEST(BrowseSelection, ConfirmTypedNames) {
    const FakeProbe probe({"/srv", "/srv/out", "/srv/new one", "/"});
    const BrowseSelection selection(probe, PathRules::posix());
    EXPECT_EQ(selection.confirm("/srv/out/", ""), "/srv/out");
    EXPECT_EQ(selection.confirm("out", "/srv"), "/srv/out");
    EXPECT_EQ(selection.confirm("new one", "/srv/"), "/srv/new one");
    EXPECT_EQ(selection.confirm("../srv/./out", "/srv"), "/srv/out");
    EXPECT_EQ(selection.confirm("", "/srv"), "/srv");
    EXPECT_EQ(selection.confirm("/", "/srv"), "/");
    EXPECT_EQ(selection.confirm("missing", "/srv"), std::nullopt);
    EXPECT_EQ(selection.confirm("out", ""), std::nullopt);
    EXPECT_EQ(selection.confirm("", ""), std::nullopt);

    const FakeProbe winProbe({"C:\\", "C:\\Data", "\\\\nas\\share"});
    const BrowseSelection windows(winProbe, PathRules::windows());
    EXPECT_EQ(windows.confirm("C:/Data/", ""), "C:\\Data");
    EXPECT_EQ(windows.confirm("..", "C:\\Data"), "C:\\");
    EXPECT_EQ(windows.confirm("\\\\nas\\share\\", ""), "\\\\nas\\share");
}

TEST(BrowseSelection, FolderForm) {
    const PathRules posix = PathRules::posix();
    EXPECT_EQ(folderForm("/a//b/./c/../", posix), "/a/b");
    EXPECT_EQ(folderForm("/../..", posix), "/");
    EXPECT_EQ(folderForm("a/../../b", posix), "../b");
    const PathRules win = PathRules::windows();
    EXPECT_EQ(folderForm("C:\\", win), "C:\\");
    EXPECT_EQ(folderForm("C:\\x\\..\\..", win), "C:\\");
    EXPECT_TRUE(isAbsolutePath("C:/x", win));
    EXPECT_FALSE(isAbsolutePath("C:x", win));
    EXPECT_FALSE(isAbsolutePath("C:/x", posix));
}

TEST(BrowseSelection, LocalProbeAndCentring) {
    const testing::TempDir dir;
    const auto file = dir.write("sub/file.txt", "x");
    const LocalFolderProbe probe;
    EXPECT_TRUE(probe.isFolder(dir.path().string()));
    EXPECT_TRUE(probe.isFolder((dir.path() / "sub").string() + "/"));
    EXPECT_FALSE(probe.isFolder(file.string()));
    EXPECT_FALSE(probe.isFolder((dir.path() / "none").string()));
    EXPECT_FALSE(probe.isFolder(""));

    const DialogOrigin origin = centredOnScreen(1024, 768, 301, 401);
    EXPECT_EQ(origin.x, 361);
    EXPECT_EQ(origin.y, 183);
    // Larger than the screen: truncation toward zero, not down.
    EXPECT_EQ(centredOnScreen(100, 100, 301, 100).x, -100);
}

} // namespace
} // namespace sarnika
