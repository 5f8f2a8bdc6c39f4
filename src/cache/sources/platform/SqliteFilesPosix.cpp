#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include "cache/sources/platform/SqliteFiles.h"

namespace sarnika::sources {
namespace fs = std::filesystem;
namespace {

Error writeError(const fs::path& path, int code) {
    return makeError(Error::Code::WriteFailed,
                     path.string() + ": " +
                         std::error_code(code, std::generic_category()).message());
}

// SQLite opens the database files itself. Opens for reading get O_NOATIME (where the owner
// allows it), so that reading a browser's database leaves even its access time as it was, and
// O_NONBLOCK, so that a fifo swapped in for it cannot block a scan.
int openKeepingAccessTime(const char* path, int flags, int mode) { // NOLINT(*-vararg)
    if ((flags & O_ACCMODE) == O_RDONLY) {
        flags |= O_NONBLOCK;
        const int fd = ::open(path, flags | O_NOATIME, mode); // NOLINT(*-vararg)
        if (fd >= 0 || errno != EPERM) {
            return fd;
        }
    }
    return ::open(path, flags, mode); // NOLINT(*-vararg)
}

} // namespace

Result<PrivateFile> PrivateFile::create(const fs::path& path) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return writeError(path, errno);
    }
    return PrivateFile(fd, path);
}

PrivateFile::PrivateFile(PrivateFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)) {}

PrivateFile& PrivateFile::operator=(PrivateFile&& other) noexcept {
    std::swap(m_fd, other.m_fd);
    std::swap(m_path, other.m_path);
    return *this;
}

PrivateFile::~PrivateFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Status PrivateFile::writeAt(std::uint64_t offset, std::string_view bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::pwrite(m_fd, bytes.data() + done, bytes.size() - done,
                                       static_cast<off_t>(offset + done));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return writeError(m_path, errno);
        }
        done += static_cast<std::size_t>(wrote);
    }
    return {};
}

Status PrivateFile::finish(std::uint64_t size) {
    Status status;
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0) {
        status = writeError(m_path, errno);
    }
    if (::close(std::exchange(m_fd, -1)) != 0 && status) {
        status = makeError(Error::Code::WriteFailed, m_path.string() + ": close failed");
    }
    return status;
}

Result<fs::path> makePrivateFolder(const std::string& pattern) {
    std::string name = pattern;
    if (::mkdtemp(name.data()) == nullptr) {
        return makeError(Error::Code::WriteFailed,
                         name + ": " + std::error_code(errno, std::generic_category()).message());
    }
    return fs::path(name);
}

void openDatabasesKeepingAccessTimes() {
    static const bool installed = [] {
        sqlite3_vfs* vfs = sqlite3_vfs_find("unix");
        return vfs != nullptr && vfs->iVersion >= 3 && vfs->xSetSystemCall != nullptr &&
               vfs->xSetSystemCall(vfs, "open",
                                   reinterpret_cast<sqlite3_syscall_ptr>( // NOLINT
                                       &openKeepingAccessTime)) == SQLITE_OK;
    }();
    static_cast<void>(installed);
}

} // namespace sarnika::sources
