#pragma once

#include <optional>
#include <string>

namespace sarnika {

// How paths are written: the separator and whether drive letters ("C:") exist.
struct PathRules {
    char separator = '/';
    bool driveLetters = false;

    static PathRules windows() { return {'\\', true}; }
    static PathRules posix() { return {'/', false}; }
};

// The rules of the platform the program was built for.
PathRules hostPathRules();

// Answers whether a path names an existing folder.
class FolderProbe {
public:
    virtual ~FolderProbe() = default;
    virtual bool isFolder(const std::string& path) const = 0;
};

// The local file system through std::filesystem; a drive root such as "C:\" counts when the
// drive is there. Never throws.
class LocalFolderProbe final : public FolderProbe {
public:
    bool isFolder(const std::string& path) const override;
};

// What the open dialog is to show for the current selection.
struct Preselection {
    bool show = false;
    std::string path;
};

// The folder dialog's selection: the text the caller set or the last run confirmed, and the
// folder it resolved to (the shell's item of the platform dialog), which network paths need.
class BrowseSelection {
public:
    explicit BrowseSelection(const FolderProbe& probe, PathRules rules = hostPathRules());

    const std::string& selection() const { return m_selection; }
    const std::optional<std::string>& resolvedFolder() const { return m_resolved; }

    // An existing folder written without a trailing separator gets one; setting the current
    // text again changes nothing. Answers whether the selection changed.
    bool setSelection(const std::string& text);

    // What to preselect when the dialog opens (or the selection changes while it is open).
    Preselection applySelection();

    // The end of a run: the confirmed folder is kept as the dialog gave it; a cancel clears
    // the selection. Answers Execute's result.
    bool finishRun(const std::optional<std::string>& confirmed);

    // The folder that OK confirms for the text of the edit box: a relative name is taken
    // inside the folder selected in the tree, an empty text means that folder. Nothing when it
    // is not an existing folder, which keeps the dialog open.
    std::optional<std::string> confirm(const std::string& typed,
                                       const std::string& treeFolder) const;

private:
    const FolderProbe& m_probe;
    PathRules m_rules;
    std::string m_selection;
    std::optional<std::string> m_resolved;
};

// The form in which the dialog shows a selection: a trailing separator is dropped except on
// roots ("\", "C:\"), and a bare drive ("C:") gets one.
std::string preselectionText(const std::string& selection, PathRules rules);

// Whether a path starts at a root: "/x" on POSIX; "C:\x", "\x" or "\\server\x" on Windows.
bool isAbsolutePath(const std::string& path, PathRules rules);

// The path written as the platform returns a folder: one separator between names, "." and
// ".." resolved, no trailing separator except on a root. Windows also accepts '/'.
std::string folderForm(const std::string& path, PathRules rules);

// Where a dialog of the given size goes to sit in the middle of the screen.
struct DialogOrigin {
    int x = 0;
    int y = 0;
};
DialogOrigin centredOnScreen(int screenWidth, int screenHeight, int dialogWidth, int dialogHeight);

} // namespace sarnika
