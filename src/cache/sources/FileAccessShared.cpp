// What the read-only file access offers on every platform, over the platform's ReadOnlyFile.
#include <utility>

#include "cache/sources/FileAccess.h"

namespace sarnika::sources {

Result<std::string> readFileRange(const std::filesystem::path& path, std::uint64_t offset,
                                  std::uint64_t length) {
    auto file = ReadOnlyFile::open(path);
    if (!file) {
        return file.error();
    }
    return file->read(offset, length);
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_size(other.m_size), m_allocated(other.m_allocated),
      m_identity(std::move(other.m_identity)) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            closeDescriptor(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
        m_size = other.m_size;
        m_allocated = other.m_allocated;
        m_identity = std::move(other.m_identity);
    }
    return *this;
}

ReadOnlyFile::~ReadOnlyFile() {
    if (m_fd >= 0) {
        closeDescriptor(m_fd);
    }
}

ReadOnlyFolder::ReadOnlyFolder(ReadOnlyFolder&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)),
      m_keepsAccessTimes(other.m_keepsAccessTimes) {}

ReadOnlyFolder& ReadOnlyFolder::operator=(ReadOnlyFolder&& other) noexcept {
    // The other one closes what this one held.
    std::swap(m_fd, other.m_fd);
    std::swap(m_path, other.m_path);
    std::swap(m_keepsAccessTimes, other.m_keepsAccessTimes);
    return *this;
}

} // namespace sarnika::sources
