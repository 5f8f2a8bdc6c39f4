#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace sarnika::testing {

TempDir::TempDir() {
    std::random_device random;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = base / ("sarnika-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = std::move(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::filesystem::path TempDir::write(const std::string& relative, std::string_view content) const {
    const std::filesystem::path file = m_path / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return file;
}

std::string contentOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

FolderState folderState(const std::filesystem::path& folder) {
    FolderState state;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        std::string summary = entry.is_regular_file() ? "file " : "other ";
        if (entry.is_regular_file()) {
            summary += std::to_string(entry.file_size()) + " " +
                       std::to_string(entry.last_write_time().time_since_epoch().count()) + " " +
                       contentOf(entry.path());
        }
        state[entry.path().string()] = std::move(summary);
    }
    return state;
}

std::filesystem::path sharedDir() {
    if (const char* env = std::getenv("SARNIKA_SHARED"); env != nullptr && *env != '\0') {
        return env;
    }
    return std::filesystem::path(SARNIKA_SOURCE_DIR) / ".." / "shared";
}

} // namespace sarnika::testing
