#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace sarnika::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // Writes a file of the given content (folders made as needed) and answers its path.
    std::filesystem::path write(const std::string& relative, std::string_view content) const;

private:
    std::filesystem::path m_path;
};

// The bytes of a file; empty when it cannot be read.
std::string contentOf(const std::filesystem::path& file);

// Every file below `folder` with its size, modification time and full content: equal before
// and after a reader ran, nothing was written, added or removed.
using FolderState = std::map<std::string, std::string>;
FolderState folderState(const std::filesystem::path& folder);

// The shared sample folder, from SARNIKA_SHARED or next to the checkout.
std::filesystem::path sharedDir();

} // namespace sarnika::testing
