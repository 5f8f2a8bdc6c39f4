#include <algorithm>
#include <io.h>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <windows.h>

#include "cache/sources/FileAccess.h"

namespace sarnika::sources {
namespace {

Error systemError(const std::filesystem::path& path, DWORD code) {
    const bool missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    return makeError(missing ? Error::Code::NotFound : Error::Code::Unreadable,
                     path.string() + ": " +
                         std::error_code(static_cast<int>(code), std::system_category()).message());
}

std::uint64_t ticksOf(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32U) | time.dwLowDateTime;
}

std::string identityOf(const std::filesystem::path& path, std::uint64_t size,
                       const FILETIME& written) {
    // Nanoseconds, as on the other platforms, so that identities read alike everywhere.
    return path.string() + "|" + std::to_string(size) + "|" +
           std::to_string(ticksOf(written) * 100U);
}

Error notAFile(const std::filesystem::path& path, const char* what) {
    return makeError(Error::Code::Unreadable,
                     path.string() + ": refused, " + what + " is not read in a cache");
}

HANDLE handleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); // NOLINT(performance-no-int-to-ptr)
}

} // namespace

Result<ReadOnlyFile> ReadOnlyFile::open(const std::filesystem::path& path, Links links) {
    // Every sharing mode: a browser that runs may go on writing, renaming and deleting its
    // files while we read them. A reparse point (symbolic link, junction) inside a cache is
    // opened itself and so refused below; FILE_FLAG_BACKUP_SEMANTICS is left out, so that
    // folders fail to open.
    const DWORD flags =
        FILE_ATTRIBUTE_NORMAL | (links == Links::Follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return systemError(path, GetLastError());
    }
    // Pipes, consoles and devices are no cache files.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return notAFile(path, "a device or pipe");
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(handle, &info) == 0) {
        const DWORD code = GetLastError();
        CloseHandle(handle);
        return systemError(path, code);
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(handle);
        return notAFile(path, "a folder");
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && links != Links::Follow) {
        CloseHandle(handle);
        return notAFile(path, "a symbolic link");
    }
    const std::uint64_t size =
        (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32U) | info.nFileSizeLow;
    std::uint64_t allocated = size;
    FILE_STANDARD_INFO standard{};
    if (GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof(standard)) != 0) {
        allocated = static_cast<std::uint64_t>(standard.AllocationSize.QuadPart);
    }
    // The C runtime's descriptor owns the handle from here on.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return makeError(Error::Code::Unreadable, path.string() + ": no descriptor left");
    }
    return ReadOnlyFile(fd, size, allocated, identityOf(path, size, info.ftLastWriteTime));
}

Result<ReadOnlyFile> ReadOnlyFile::open(const char* nativePath, Links links) {
    return open(std::filesystem::path(nativePath), links);
}

void ReadOnlyFile::closeDescriptor(int fd) {
    _close(fd);
}

Result<std::string> ReadOnlyFile::read(std::uint64_t offset, std::uint64_t length) const {
    if (offset >= m_size) {
        return std::string();
    }
    // Never allocate beyond what the file holds, whatever a damaged length field says.
    const std::uint64_t wanted = std::min(length, m_size - offset);
    std::string bytes(static_cast<std::size_t>(wanted), '\0');
    HANDLE handle = handleOf(m_fd);
    std::size_t done = 0;
    while (done < bytes.size()) {
        // Positioned reads, like pread: the handle's own file pointer is never relied on.
        OVERLAPPED at{};
        const std::uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFU);
        at.OffsetHigh = static_cast<DWORD>(position >> 32U);
        const auto chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1U << 30U));
        DWORD got = 0;
        if (ReadFile(handle, bytes.data() + done, chunk, &got, &at) == 0) {
            const DWORD code = GetLastError();
            if (code == ERROR_HANDLE_EOF) {
                break;
            }
            return makeError(
                Error::Code::Unreadable,
                std::error_code(static_cast<int>(code), std::system_category()).message());
        }
        if (got == 0) {
            break; // the file shrank while we read it
        }
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

// Sparse files are rare on Windows caches: every byte counts as stored.
std::uint64_t ReadOnlyFile::dataFrom(std::uint64_t offset) const {
    return std::min(offset, m_size);
}

std::uint64_t ReadOnlyFile::holeFrom(std::uint64_t offset) const {
    static_cast<void>(offset);
    return m_size;
}

std::string fileIdentity(const std::filesystem::path& path) {
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info) == 0) {
        return path.string() + "|missing";
    }
    const std::uint64_t size =
        (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32U) | info.nFileSizeLow;
    return identityOf(path, size, info.ftLastWriteTime);
}

Status ReadOnlyFile::readInto(std::uint64_t offset, std::uint64_t length,
                              std::string& bytes) const {
    auto got = read(offset, length);
    if (!got) {
        return got.error();
    }
    bytes = std::move(*got);
    return {};
}

// Windows opens files by path: the folder is remembered, not held open.
Result<ReadOnlyFolder> ReadOnlyFolder::open(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(path, error))) {
        return makeError(Error::Code::NotFound, path.string() + ": not a folder");
    }
    return ReadOnlyFolder(-1, path);
}

ReadOnlyFolder::~ReadOnlyFolder() = default;

Result<std::vector<std::string>>
ReadOnlyFolder::regularFiles(const std::function<bool(std::string_view name)>& wanted,
                             std::vector<Error>* refused) const {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(m_path, error), end; !error && it != end;
         it.increment(error)) {
        std::string name = it->path().filename().string();
        std::error_code typeError;
        if (wanted && !wanted(name)) {
            continue;
        }
        if (!it->is_symlink(typeError) && it->is_regular_file(typeError)) {
            names.push_back(std::move(name));
        } else if (refused != nullptr) {
            refused->push_back(notAFile(it->path(), "a link, folder or device"));
        }
    }
    if (error) {
        return makeError(Error::Code::Unreadable, m_path.string() + ": " + error.message());
    }
    return names;
}

Result<ReadOnlyFile> ReadOnlyFolder::openFile(const std::string& name) const {
    // Named as the readers have always named these files, so that identities stay the same.
    const std::string path = m_path.string() + "/" + name;
    return ReadOnlyFile::open(path.c_str());
}

} // namespace sarnika::sources
