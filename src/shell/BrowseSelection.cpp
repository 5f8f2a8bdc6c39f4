#include "shell/BrowseSelection.h"

#include <cctype>
#include <filesystem>
#include <system_error>
#include <vector>

namespace sarnika {

namespace {

bool hasDrivePrefix(const std::string& path, PathRules rules) {
    return rules.driveLetters && path.size() >= 2 && path[1] == ':' &&
           std::isalpha(static_cast<unsigned char>(path[0])) != 0;
}

bool isNetworkPath(const std::string& path, PathRules rules) {
    return rules.driveLetters && path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
}

} // namespace

PathRules hostPathRules() {
#ifdef _WIN32
    return PathRules::windows();
#else
    return PathRules::posix();
#endif
}

bool LocalFolderProbe::isFolder(const std::string& path) const {
    if (path.empty()) {
        return false;
    }
    std::error_code error;
    return std::filesystem::is_directory(std::filesystem::path(path), error);
}

BrowseSelection::BrowseSelection(const FolderProbe& probe, PathRules rules)
    : m_probe(probe), m_rules(rules) {}

bool BrowseSelection::setSelection(const std::string& text) {
    if (text == m_selection) {
        return false;
    }
    m_selection = text;
    if (!m_selection.empty() && m_selection.back() != m_rules.separator &&
        m_probe.isFolder(m_selection)) {
        m_selection += m_rules.separator;
    } else if (m_selection.empty()) {
        m_resolved.reset();
    }
    return true;
}

Preselection BrowseSelection::applySelection() {
    if (m_selection.empty() && m_resolved) {
        m_selection = *m_resolved;
        return {true, *m_resolved};
    }
    // The platform dialog resolves the text to a shell item; a path that does not exist does
    // not resolve, and then only a network path goes without a preselection.
    const bool resolved = !m_selection.empty() && m_probe.isFolder(m_selection);
    if (resolved) {
        m_resolved = folderForm(m_selection, m_rules);
    }
    if (isNetworkPath(m_selection, m_rules)) {
        if (!resolved) {
            return {};
        }
        return {true, *m_resolved};
    }
    std::string text = preselectionText(m_selection, m_rules);
    const bool show = !text.empty();
    return {show, std::move(text)};
}

bool BrowseSelection::finishRun(const std::optional<std::string>& confirmed) {
    if (confirmed) {
        m_selection = *confirmed;
        m_resolved = *confirmed;
        return true;
    }
    m_selection.clear();
    m_resolved.reset();
    return false;
}

std::optional<std::string> BrowseSelection::confirm(const std::string& typed,
                                                    const std::string& treeFolder) const {
    std::string candidate;
    if (typed.empty()) {
        candidate = treeFolder;
    } else if (isAbsolutePath(typed, m_rules)) {
        candidate = typed;
    } else if (!treeFolder.empty()) {
        candidate = treeFolder;
        candidate += m_rules.separator;
        candidate += typed;
    }
    if (candidate.empty()) {
        return std::nullopt;
    }
    std::string folder = folderForm(candidate, m_rules);
    if (!m_probe.isFolder(folder)) {
        return std::nullopt;
    }
    return folder;
}

std::string preselectionText(const std::string& selection, PathRules rules) {
    if (selection.size() < 4 && hasDrivePrefix(selection, rules)) {
        return selection.size() == 2 ? selection + rules.separator : selection;
    }
    if (selection.size() > 1 && selection.back() == rules.separator) {
        return selection.substr(0, selection.size() - 1);
    }
    return selection;
}

bool isAbsolutePath(const std::string& path, PathRules rules) {
    if (path.empty()) {
        return false;
    }
    const auto isSeparator = [rules](char c) {
        return c == rules.separator || (rules.driveLetters && c == '/');
    };
    if (isSeparator(path[0])) {
        return true;
    }
    return hasDrivePrefix(path, rules) && path.size() >= 3 && isSeparator(path[2]);
}

std::string folderForm(const std::string& path, PathRules rules) {
    std::string text = path;
    if (rules.driveLetters) {
        for (char& c : text) {
            if (c == '/') {
                c = '\\';
            }
        }
    }
    const char sep = rules.separator;
    std::string prefix;
    std::size_t at = 0;
    if (isNetworkPath(text, rules)) {
        prefix = "\\\\";
        at = 2;
    } else if (hasDrivePrefix(text, rules)) {
        prefix = text.substr(0, 2);
        at = 2;
    }
    const bool rooted = at < text.size() && text[at] == sep;
    if (rooted && prefix != "\\\\") {
        prefix += sep;
    }

    std::vector<std::string> names;
    while (at <= text.size()) {
        std::size_t end = text.find(sep, at);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string name = text.substr(at, end - at);
        if (name == "..") {
            if (!names.empty() && names.back() != "..") {
                names.pop_back();
            } else if (!rooted && prefix.empty()) {
                names.push_back(std::move(name));
            }
        } else if (!name.empty() && name != ".") {
            names.push_back(std::move(name));
        }
        at = end + 1;
    }

    std::string result = prefix;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            result += sep;
        }
        result += names[i];
    }
    return result;
}

DialogOrigin centredOnScreen(int screenWidth, int screenHeight, int dialogWidth, int dialogHeight) {
    return {(screenWidth - dialogWidth) / 2, (screenHeight - dialogHeight) / 2};
}

} // namespace sarnika
