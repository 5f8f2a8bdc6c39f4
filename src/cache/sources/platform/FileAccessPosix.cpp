#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cache/sources/FileAccess.h"

namespace sarnika::sources {
namespace {

Error systemError(const char* path, int code) {
    return makeError(code == ENOENT ? Error::Code::NotFound : Error::Code::Unreadable,
                     std::string(path) + ": " +
                         std::error_code(code, std::generic_category()).message());
}

Error notAFile(const char* path, mode_t mode) {
    const char* what = S_ISLNK(mode)                    ? "a symbolic link"
                       : S_ISDIR(mode)                  ? "a folder"
                       : S_ISFIFO(mode)                 ? "a fifo"
                       : S_ISSOCK(mode)                 ? "a socket"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                        : "not a regular file";
    return makeError(Error::Code::Unreadable,
                     std::string(path) + ": refused, " + what + " is not read in a cache");
}

// `folder` and `name` are the parts of a path, joined here; `name` may be empty.
std::string identityOf(std::string_view folder, std::string_view name, const struct stat& info) {
    const auto ns = static_cast<long long>(info.st_mtim.tv_sec) * 1'000'000'000LL +
                    static_cast<long long>(info.st_mtim.tv_nsec);
    std::string identity;
    identity.reserve(folder.size() + name.size() + 48);
    identity.append(folder);
    if (!name.empty()) {
        identity.append("/").append(name);
    }
    identity.append("|").append(std::to_string(info.st_size));
    identity.append("|").append(std::to_string(ns));
    return identity;
}

constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

} // namespace

Result<ReadOnlyFile> ReadOnlyFile::open(const std::filesystem::path& path, Links links) {
    return open(path.c_str(), links);
}

Result<ReadOnlyFile> ReadOnlyFile::open(const char* path, Links links) {
    // Looked at before opening: opening a device may do something by itself, and a fifo
    // would wait for a writer.
    struct stat before {};
    const int looked = links == Links::Follow ? ::stat(path, &before) : ::lstat(path, &before);
    if (looked != 0) {
        return systemError(path, errno);
    }
    if (!S_ISREG(before.st_mode)) {
        return notAFile(path, before.st_mode);
    }
    // O_NONBLOCK and O_NOFOLLOW still hold should the name be swapped in between; O_NOATIME
    // keeps even the access time of the browser's file as it was, where allowed.
    const int flags = kReadFlags | (links == Links::Follow ? 0 : O_NOFOLLOW);
    int fd = ::open(path, flags | O_NOATIME);
    if (fd < 0 && errno == EPERM) {
        fd = ::open(path, flags);
    }
    if (fd < 0) {
        return errno == ELOOP ? notAFile(path, S_IFLNK) : systemError(path, errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        return systemError(path, code);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return notAFile(path, info.st_mode);
    }
    const auto allocated = static_cast<std::uint64_t>(info.st_blocks) * 512U;
    return ReadOnlyFile(fd, static_cast<std::uint64_t>(info.st_size), allocated,
                        identityOf(path, {}, info));
}

void ReadOnlyFile::closeDescriptor(int fd) {
    ::close(fd);
}

Result<std::string> ReadOnlyFile::read(std::uint64_t offset, std::uint64_t length) const {
    std::string bytes;
    if (Status done = readInto(offset, length, bytes); !done) {
        return done.error();
    }
    return bytes;
}

Status ReadOnlyFile::readInto(std::uint64_t offset, std::uint64_t length,
                              std::string& bytes) const {
    bytes.clear();
    if (offset >= m_size) {
        return {};
    }
    // Never allocate beyond what the file holds, whatever a damaged length field says.
    const std::uint64_t wanted = std::min(length, m_size - offset);
    bytes.resize(static_cast<std::size_t>(wanted));
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
    return {};
}

std::uint64_t ReadOnlyFile::dataFrom(std::uint64_t offset) const {
    if (offset >= m_size) {
        return m_size;
    }
    const off_t found = ::lseek(m_fd, static_cast<off_t>(offset), SEEK_DATA);
    if (found < 0) {
        // ENXIO: only a hole follows; anything else: the file system cannot tell.
        return errno == ENXIO ? m_size : offset;
    }
    return std::min(static_cast<std::uint64_t>(found), m_size);
}

std::uint64_t ReadOnlyFile::holeFrom(std::uint64_t offset) const {
    if (offset >= m_size) {
        return m_size;
    }
    const off_t found = ::lseek(m_fd, static_cast<off_t>(offset), SEEK_HOLE);
    return found < 0 ? m_size : std::min(static_cast<std::uint64_t>(found), m_size);
}

std::string fileIdentity(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return path.string() + "|missing";
    }
    return identityOf(path.c_str(), {}, info);
}

Result<ReadOnlyFolder> ReadOnlyFolder::open(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return systemError(path.c_str(), errno);
    }
    return ReadOnlyFolder(fd, path);
}

ReadOnlyFolder::~ReadOnlyFolder() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Result<std::vector<std::string>>
ReadOnlyFolder::regularFiles(const std::function<bool(std::string_view name)>& wanted,
                             std::vector<Error>* refused) const {
    std::vector<std::string> names;
    // The listing reads through a descriptor of its own, leaving ours at its place.
    const int copy = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = copy < 0 ? nullptr : ::fdopendir(copy);
    if (listing == nullptr) {
        const int code = errno;
        if (copy >= 0) {
            ::close(copy);
        }
        return systemError(m_path.c_str(), code);
    }
    errno = 0;
    while (const dirent* item = ::readdir(listing)) { // NOLINT(concurrency-mt-unsafe)
        const std::string_view name(item->d_name);
        if (name == "." || name == ".." || (wanted && !wanted(name))) {
            continue;
        }
        mode_t kind = DTTOIF(item->d_type);
        if (item->d_type == DT_UNKNOWN) {
            struct stat info {};
            kind =
                ::fstatat(m_fd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 ? info.st_mode : 0;
        }
        if (S_ISREG(kind)) {
            names.emplace_back(name);
        } else if (refused != nullptr && kind != 0) {
            refused->push_back(notAFile((m_path.native() + "/" + item->d_name).c_str(), kind));
        }
        errno = 0;
    }
    const int code = errno;
    ::closedir(listing);
    if (code != 0) {
        return systemError(m_path.c_str(), code);
    }
    return names;
}

Result<ReadOnlyFile> ReadOnlyFolder::openFile(const std::string& name) const {
    // The full path is made only for the identity and for errors: this runs once per entry.
    const auto pathOf = [&] {
        return m_path.native() + "/" + name;
    };
    if (name.empty() || name.find('/') != std::string::npos) {
        return makeError(Error::Code::NotFound, pathOf() + ": not a name in the folder");
    }
    // The listing said "regular file": O_NOFOLLOW and the check below still hold should the
    // name be swapped for a link or anything else in between. Files of another user refuse
    // O_NOATIME; once one has, the folder's others are opened without it straight away.
    int fd = -1;
    if (m_keepsAccessTimes) {
        fd = ::openat(m_fd, name.c_str(), kReadFlags | O_NOFOLLOW | O_NOATIME);
        m_keepsAccessTimes = fd >= 0 || errno != EPERM;
    }
    if (fd < 0 && !m_keepsAccessTimes) {
        fd = ::openat(m_fd, name.c_str(), kReadFlags | O_NOFOLLOW);
    }
    if (fd < 0) {
        const int code = errno;
        return code == ELOOP ? notAFile(pathOf().c_str(), S_IFLNK)
                             : systemError(pathOf().c_str(), code);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int code = errno;
        ::close(fd);
        return systemError(pathOf().c_str(), code);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return notAFile(pathOf().c_str(), info.st_mode);
    }
    const auto allocated = static_cast<std::uint64_t>(info.st_blocks) * 512U;
    return ReadOnlyFile(fd, static_cast<std::uint64_t>(info.st_size), allocated,
                        identityOf(m_path.native(), name, info));
}

} // namespace sarnika::sources
