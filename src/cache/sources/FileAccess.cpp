#include "cache/sources/FileAccess.h"

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sarnika::sources {
namespace {

Error systemError(const char* path, int code) {
    return makeError(code == ENOENT ? Error::Code::NotFound : Error::Code::Unreadable,
                     std::string(path) + ": " +
                         std::error_code(code, std::generic_category()).message());
}

std::string identityOf(const char* path, const struct stat& info) {
    const auto ns = static_cast<long long>(info.st_mtim.tv_sec) * 1'000'000'000LL +
                    static_cast<long long>(info.st_mtim.tv_nsec);
    return std::string(path) + "|" + std::to_string(info.st_size) + "|" + std::to_string(ns);
}

} // namespace

Result<ReadOnlyFile> ReadOnlyFile::open(const std::filesystem::path& path) {
    return open(path.c_str());
}

Result<ReadOnlyFile> ReadOnlyFile::open(const char* path) {
    // O_NOATIME keeps even the access time of the browser's file as it was, where allowed.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOATIME | O_NOCTTY);
    if (fd < 0 && errno == EPERM) {
        fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    }
    if (fd < 0) {
        return systemError(path, errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int code = errno;
        ::close(fd);
        return code != 0 ? systemError(path, code)
                         : makeError(Error::Code::Unreadable, std::string(path) + ": not a file");
    }
    return ReadOnlyFile(fd, static_cast<std::uint64_t>(info.st_size), identityOf(path, info));
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_size(other.m_size),
      m_identity(std::move(other.m_identity)) {}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
        m_size = other.m_size;
        m_identity = std::move(other.m_identity);
    }
    return *this;
}

ReadOnlyFile::~ReadOnlyFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Result<std::string> ReadOnlyFile::read(std::uint64_t offset, std::uint64_t length) const {
    if (offset >= m_size) {
        return std::string();
    }
    // Never allocate beyond what the file holds, whatever a damaged length field says.
    const std::uint64_t wanted = std::min(length, m_size - offset);
    std::string bytes(static_cast<std::size_t>(wanted), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(m_fd, bytes.data() + done, bytes.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return makeError(Error::Code::Unreadable,
                             std::error_code(errno, std::generic_category()).message());
        }
        if (got == 0) {
            break; // the file shrank while we read it
        }
        done += static_cast<std::size_t>(got);
    }
    bytes.resize(done);
    return bytes;
}

std::string fileIdentity(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return path.string() + "|missing";
    }
    return identityOf(path.c_str(), info);
}

} // namespace sarnika::sources
