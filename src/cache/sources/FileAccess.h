#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"

namespace sarnika::sources {

// Whether the last part of a path may be a symbolic link (a Windows reparse point).
enum class Links {
    Refuse, // a file inside a cache: links there may point anywhere (a private file, a device)
    Follow, // a file the user named on the command line or in a dialog
};

// A browser's file, opened for reading only: never written, locked or created. Only regular
// files open: a link (unless followed), folder, fifo, socket or device is refused without
// waiting on it, so that a crafted cache can neither block a scan nor stand in for another
// file. The access time stays as it was where the system allows. This is also the way to open
// a cache file that is about to be copied: size() is frozen at opening, and read() never goes
// beyond it, whatever the file grows to.
class ReadOnlyFile {
public:
    static Result<ReadOnlyFile> open(const std::filesystem::path& path,
                                     Links links = Links::Refuse);
    // The same for a path in the platform's form: readers of folders with many thousands of
    // entries save building a path object per entry.
    static Result<ReadOnlyFile> open(const char* nativePath, Links links = Links::Refuse);

    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile();

    std::uint64_t size() const { return m_size; }
    // As fileIdentity() gives it, from the state the file had when it was opened.
    const std::string& identity() const { return m_identity; }
    // Up to `length` bytes from `offset`; fewer at the end of the file.
    Result<std::string> read(std::uint64_t offset, std::uint64_t length) const;
    Result<std::string> readAll(std::uint64_t limit) const { return read(0, limit); }
    // The same into `bytes`, whose storage is reused from one read to the next.
    Status readInto(std::uint64_t offset, std::uint64_t length, std::string& bytes) const;
    // Where the next stored bytes at or after `offset` start, skipping the holes of a sparse
    // file; size() when none follow. Platforms that cannot tell answer `offset`.
    std::uint64_t dataFrom(std::uint64_t offset) const;
    // Where the hole after `offset` starts (size() when none does before the end).
    std::uint64_t holeFrom(std::uint64_t offset) const;
    // The bytes the file takes on disk: less than size() for a sparse file.
    std::uint64_t allocated() const { return m_allocated; }

private:
    friend class ReadOnlyFolder;
    static void closeDescriptor(int fd); // the system's close

    ReadOnlyFile(int fd, std::uint64_t size, std::uint64_t allocated, std::string identity)
        : m_fd(fd), m_size(size), m_allocated(allocated), m_identity(std::move(identity)) {}
    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::uint64_t m_allocated = 0;
    std::string m_identity;
};

// A cache folder opened once for reading: its files are listed with the kinds the listing
// gives, and opened by name relative to the open folder, so that reading thousands of them
// costs neither a stat per name nor a walk of the whole path per file. What holds for
// ReadOnlyFile holds here: links inside are refused, only regular files open.
class ReadOnlyFolder {
public:
    static Result<ReadOnlyFolder> open(const std::filesystem::path& path);

    ReadOnlyFolder(ReadOnlyFolder&& other) noexcept;
    ReadOnlyFolder& operator=(ReadOnlyFolder&& other) noexcept;
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    ~ReadOnlyFolder();

    // The names of the regular files in the folder that `wanted` accepts (all when it is
    // empty). Links, folders and devices are left out by the kind the listing gives, and said
    // why in `refused` when it is given; a name is looked at only where the file system does
    // not give its kind.
    Result<std::vector<std::string>>
    regularFiles(const std::function<bool(std::string_view name)>& wanted = {},
                 std::vector<Error>* refused = nullptr) const;
    // A file of the folder, as ReadOnlyFile::open(folder / name) gives it. Meant for names that
    // regularFiles gave: the listing stands in for the look before opening.
    Result<ReadOnlyFile> openFile(const std::string& name) const;

    const std::filesystem::path& path() const { return m_path; }

private:
    ReadOnlyFolder(int fd, std::filesystem::path path) : m_fd(fd), m_path(std::move(path)) {}
    int m_fd = -1; // where the platform opens folders; -1 elsewhere
    std::filesystem::path m_path;
    // Whether opening its files may ask to keep their access times (refused for files of
    // another user); learnt from the first file that refuses.
    mutable bool m_keepsAccessTimes = true;
};

// Up to `length` bytes of a file from `offset`, opened and closed for this one read.
Result<std::string> readFileRange(const std::filesystem::path& path, std::uint64_t offset,
                                  std::uint64_t length);

// "<path>|<size>|<mtime in ns>": changes whenever the file is replaced or rewritten. A link is
// described itself, not the file it points to.
std::string fileIdentity(const std::filesystem::path& path);

} // namespace sarnika::sources
