#include "shell/BrowseSelection.h"

#include <set>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace sarnika {
namespace {

// Folders that exist, written exactly as the probe is asked about them.
class FakeProbe final : public FolderProbe {
public:
    explicit FakeProbe(std::set<std::string> folders) : m_folders(std::move(folders)) {}
    bool isFolder(const std::string& path) const override { return m_folders.contains(path); }

private:
    std::set<std::string> m_folders;
};

TEST(BrowseSelection, SetterAppendsSeparatorToExistingFoldersOnly) {
    const FakeProbe probe({R"(C:\Docs)", R"(C:\)", "/home/ann"});
    BrowseSelection windows(probe, PathRules::windows());
    EXPECT_TRUE(windows.setSelection(R"(C:\Docs)"));
    EXPECT_EQ(windows.selection(), R"(C:\Docs\)");
    windows.setSelection(R"(C:\Missing)");
    EXPECT_EQ(windows.selection(), R"(C:\Missing)");
    windows.setSelection(R"(C:\)");
    EXPECT_EQ(windows.selection(), R"(C:\)");
    EXPECT_FALSE(windows.setSelection(R"(C:\)"));

    BrowseSelection posix(probe, PathRules::posix());
    posix.setSelection("/home/ann");
    EXPECT_EQ(posix.selection(), "/home/ann/");
    // Compared with the stored text, so the text as first given is a change.
    EXPECT_TRUE(posix.setSelection("/home/ann"));
    EXPECT_FALSE(posix.setSelection("/home/ann/"));
}

TEST(BrowseSelection, PreselectionText) {
    const PathRules win = PathRules::windows();
    EXPECT_EQ(preselectionText(R"(C:\Docs\)", win), R"(C:\Docs)");
    EXPECT_EQ(preselectionText(R"(C:\)", win), R"(C:\)");
    EXPECT_EQ(preselectionText("C:", win), R"(C:\)");
    EXPECT_EQ(preselectionText("C:x", win), "C:x");
    EXPECT_EQ(preselectionText(R"(\)", win), R"(\)");
    const PathRules posix = PathRules::posix();
    EXPECT_EQ(preselectionText("/home/ann/", posix), "/home/ann");
    EXPECT_EQ(preselectionText("/", posix), "/");
    EXPECT_EQ(preselectionText("a:", posix), "a:");
}

TEST(BrowseSelection, ApplySelectionAndRuns) {
    const FakeProbe probe({R"(D:\Movies\)", R"(\\nas\share\)"});
    BrowseSelection selection(probe, PathRules::windows());
    EXPECT_FALSE(selection.applySelection().show);
    selection.setSelection(R"(D:\Movies\)");
    Preselection shown = selection.applySelection();
    EXPECT_TRUE(shown.show);
    EXPECT_EQ(shown.path, R"(D:\Movies)");
    EXPECT_EQ(selection.resolvedFolder(), R"(D:\Movies)");

    // A missing folder is still offered as text; a missing network path is not.
    selection.setSelection(R"(E:\Gone\)");
    EXPECT_EQ(selection.applySelection().path, R"(E:\Gone)");
    selection.setSelection(R"(\\nas\gone)");
    EXPECT_FALSE(selection.applySelection().show);
    selection.setSelection(R"(\\nas\share\)");
    EXPECT_EQ(selection.applySelection().path, R"(\\nas\share)");

    // A confirmed run keeps the folder as given; a cancelled one clears everything.
    EXPECT_TRUE(selection.finishRun(std::string(R"(D:\Movies)")));
    EXPECT_EQ(selection.selection(), R"(D:\Movies)");
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

    const FakeProbe winProbe({R"(C:\)", R"(C:\Data)", R"(\\nas\share)"});
    const BrowseSelection windows(winProbe, PathRules::windows());
    EXPECT_EQ(windows.confirm("C:/Data/", ""), R"(C:\Data)");
    EXPECT_EQ(windows.confirm("..", R"(C:\Data)"), R"(C:\)");
    EXPECT_EQ(windows.confirm(R"(\\nas\share\)", ""), R"(\\nas\share)");
}

TEST(BrowseSelection, PathForms) {
    EXPECT_EQ(folderForm("/a//b/./c/../", PathRules::posix()), "/a/b");
    EXPECT_EQ(folderForm("/../..", PathRules::posix()), "/");
    EXPECT_EQ(folderForm("a/../../b", PathRules::posix()), "../b");
    EXPECT_EQ(folderForm(R"(C:\x\..\..)", PathRules::windows()), R"(C:\)");
    EXPECT_TRUE(isAbsolutePath("C:/x", PathRules::windows()));
    EXPECT_FALSE(isAbsolutePath("C:x", PathRules::windows()));
    EXPECT_FALSE(isAbsolutePath("C:/x", PathRules::posix()));
}

TEST(BrowseSelection, LocalProbeAndCentring) {
    const testing::TempDir dir;
    const auto file = dir.write("sub/file.txt", "x");
    const LocalFolderProbe probe;
    EXPECT_TRUE(probe.isFolder((dir.path() / "sub").string() + "/"));
    EXPECT_FALSE(probe.isFolder(file.string()));
    EXPECT_FALSE(probe.isFolder((dir.path() / "none").string()));
    EXPECT_FALSE(probe.isFolder(""));

    EXPECT_EQ(centredOnScreen(1024, 768, 301, 401).x, 361);
    EXPECT_EQ(centredOnScreen(1024, 768, 301, 401).y, 183);
    // Larger than the screen: truncated toward zero.
    EXPECT_EQ(centredOnScreen(100, 100, 301, 100).x, -100);
}

} // namespace
} // namespace sarnika
