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
    bool isFolder(const std::string& path) const override { return m_folders.contains(path); }

private:
    std::set<std::string> m_folders;
};

TEST(BrowseSelection, SetterAppendsSeparatorToExistingFoldersOnly) {
    const FakeProbe probe({R"(C:\Docs)", R"(C:\Docs\)", R"(C:\)"});
    BrowseSelection windows(probe, PathRules::windows());
    EXPECT_TRUE(windows.setSelection(R"(C:\Docs)"));
    EXPECT_EQ(windows.selection(), R"(C:\Docs\)");
    EXPECT_TRUE(windows.setSelection(R"(C:\Missing)"));
    EXPECT_EQ(windows.selection(), R"(C:\Missing)");
    EXPECT_TRUE(windows.setSelection(R"(C:\)"));
    EXPECT_EQ(windows.selection(), R"(C:\)");
    // The same text again is no change, even though the stored text got no separator.
    EXPECT_FALSE(windows.setSelection(R"(C:\)"));

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
    EXPECT_EQ(preselectionText(R"(C:\Docs\)", win), R"(C:\Docs)");
    EXPECT_EQ(preselectionText(R"(C:\)", win), R"(C:\)");
    EXPECT_EQ(preselectionText("C:", win), R"(C:\)");
    EXPECT_EQ(preselectionText("C:x", win), "C:x");
    EXPECT_EQ(preselectionText(R"(\)", win), R"(\)");
    EXPECT_EQ(preselectionText(R"(C:\Docs)", win), R"(C:\Docs)");

    const PathRules posix = PathRules::posix();
    EXPECT_EQ(preselectionText("/home/ann/", posix), "/home/ann");
    EXPECT_EQ(preselectionText("/", posix), "/");
    // No drive letters here: "a:" is an ordinary relative name.
    EXPECT_EQ(preselectionText("a:", posix), "a:");
}

TEST(BrowseSelection, ApplySelection) {
    const FakeProbe probe({R"(D:\Movies\)", R"(D:\Movies)", R"(\\nas\share)", R"(\\nas\share\)"});
    BrowseSelection selection(probe, PathRules::windows());
    EXPECT_FALSE(selection.applySelection().show);

    selection.setSelection(R"(D:\Movies)");
    Preselection shown = selection.applySelection();
    EXPECT_TRUE(shown.show);
    EXPECT_EQ(shown.path, R"(D:\Movies)");
    EXPECT_EQ(selection.resolvedFolder(), R"(D:\Movies)");

    // A missing folder is still offered as text; a missing network path is not.
    selection.setSelection(R"(E:\Gone\)");
    shown = selection.applySelection();
    EXPECT_TRUE(shown.show);
    EXPECT_EQ(shown.path, R"(E:\Gone)");
    selection.setSelection(R"(\\nas\gone)");
    EXPECT_FALSE(selection.applySelection().show);
    selection.setSelection(R"(\\nas\share)");
    shown = selection.applySelection();
    EXPECT_TRUE(shown.show);
    EXPECT_EQ(shown.path, R"(\\nas\share)");

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

    const FakeProbe winProbe({R"(C:\)", R"(C:\Data)", R"(\\nas\share)"});
    const BrowseSelection windows(winProbe, PathRules::windows());
    EXPECT_EQ(windows.confirm("C:/Data/", ""), R"(C:\Data)");
    EXPECT_EQ(windows.confirm("..", R"(C:\Data)"), R"(C:\)");
    EXPECT_EQ(windows.confirm(R"(\\nas\share\)", ""), R"(\\nas\share)");
}

TEST(BrowseSelection, FolderForm) {
    const PathRules posix = PathRules::posix();
    EXPECT_EQ(folderForm("/a//b/./c/../", posix), "/a/b");
    EXPECT_EQ(folderForm("/../..", posix), "/");
    EXPECT_EQ(folderForm("a/../../b", posix), "../b");
    const PathRules win = PathRules::windows();
    EXPECT_EQ(folderForm(R"(C:\)", win), R"(C:\)");
    EXPECT_EQ(folderForm(R"(C:\x\..\..)", win), R"(C:\)");
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
