#include <array>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <random>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cache/sources/ExtractionFiles.h"
#include "platform/posix/Fd.h"

namespace sarnika::sources::extraction {
namespace fs = std::filesystem;
using posix::Fd;
namespace {

// A partial file this old belongs to no running scan: one that was killed left it.
constexpr auto kStrayPartialAge = std::chrono::minutes(10);

Error failure(const std::string& what) {
    return makeError(Error::Code::WriteFailed,
                     what + ": " + std::error_code(errno, std::generic_category()).message());
}

Fd openRoot(const fs::path& root, bool create) {
    if (create) {
        std::error_code ignored;
        fs::create_directories(root, ignored);
    }
    return Fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// A folder below `parent`, never through a link.
Fd openFolder(int parent, const std::string& name, bool create) {
    if (create && ::mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
        return {};
    }
    return Fd(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

Fd openEntryFolder(const fs::path& root, std::string_view sourceKey, std::string_view entryKey,
                   bool create) {
    const Fd rootFd = openRoot(root, create);
    if (!rootFd) {
        return {};
    }
    const Fd source = openFolder(rootFd.get(), std::string(sourceKey), create);
    if (!source) {
        return {};
    }
    return openFolder(source.get(), std::string(entryKey), create);
}

Status writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure("cannot write");
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
}

std::vector<std::string> namesIn(int folder) {
    std::vector<std::string> names;
    const int copy = ::dup(folder);
    if (copy < 0) {
        return names;
    }
    DIR* listing = ::fdopendir(copy);
    if (listing == nullptr) {
        ::close(copy);
        return names;
    }
    while (const dirent* item = ::readdir(listing)) { // NOLINT(concurrency-mt-unsafe)
        const std::string_view name(item->d_name);
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    ::closedir(listing);
    return names;
}

// Removes a folder of ours and what it holds, `depth` levels of folders deep. Links are removed
// as names, never followed; the folder is opened once and everything is removed through it.
void removeFolder(int parent, const std::string& name, int depth) {
    {
        const Fd folder = openFolder(parent, name, false);
        if (!folder) {
            return;
        }
        for (const std::string& child : namesIn(folder.get())) {
            struct stat status {};
            if (::fstatat(folder.get(), child.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            if (status.st_uid != ::geteuid()) {
                continue; // not something we made
            }
            if (S_ISDIR(status.st_mode)) {
                if (depth > 0 && isKey(child)) {
                    removeFolder(folder.get(), child, depth - 1);
                }
            } else {
                ::unlinkat(folder.get(), child.c_str(), 0);
            }
        }
    }
    // Fails, and leaves the folder, when something not ours stays in it.
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

void removeStrayPartials(int parent, const std::string& name) {
    const Fd folder = openFolder(parent, name, false);
    if (!folder) {
        return;
    }
    const auto now = std::chrono::system_clock::now();
    for (const std::string& child : namesIn(folder.get())) {
        struct stat status {};
        if (!isPartialName(child) ||
            ::fstatat(folder.get(), child.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode)) {
            continue;
        }
        const auto modified = std::chrono::system_clock::from_time_t(status.st_mtime);
        if (now - modified > kStrayPartialAge) {
            ::unlinkat(folder.get(), child.c_str(), 0);
        }
    }
}

} // namespace

std::optional<std::uint64_t> regularFileSize(const fs::path& root, std::string_view sourceKey,
                                             std::string_view entryKey,
                                             const std::string& fileName) {
    const Fd folder = openEntryFolder(root, sourceKey, entryKey, false);
    if (!folder) {
        return std::nullopt;
    }
    const Fd file(
        ::openat(folder.get(), fileName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (!file || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

Status createFile(const fs::path& root, std::string_view sourceKey, std::string_view entryKey,
                  const std::string& fileName, const Producer& produce) {
    const Fd folder = openEntryFolder(root, sourceKey, entryKey, true);
    const std::string target =
        (root / std::string(sourceKey) / std::string(entryKey) / fileName).string();
    if (!folder) {
        return failure(target);
    }
    if (struct stat status{};
        ::fstatat(folder.get(), fileName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISREG(status.st_mode)) {
            return {};
        }
        return makeError(Error::Code::WriteFailed, target + ": the name is taken by a link or "
                                                            "something else that is not ours");
    }
    // An unnamed file is linked in once complete: a killed scan leaves nothing behind. Where
    // the file system cannot make one, a named partial file stands in and is pruned later.
    std::string partial;
#ifdef O_TMPFILE
    Fd file(::openat(folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
#else
    Fd file;
#endif
    if (!file) {
        std::random_device random;
        partial = ".partial-" + std::to_string(random());
        file = Fd(::openat(folder.get(), partial.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file) {
            return failure(target);
        }
    }
    const auto discard = [&folder, &partial]() {
        if (!partial.empty()) {
            ::unlinkat(folder.get(), partial.c_str(), 0);
        }
    };
    if (Status written =
            produce([&file](std::string_view bytes) { return writeAll(file.get(), bytes); });
        !written) {
        discard();
        return written;
    }
    int linked = 0;
    if (partial.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(file.get());
        linked =
            ::linkat(AT_FDCWD, self.c_str(), folder.get(), fileName.c_str(), AT_SYMLINK_FOLLOW);
    } else {
        // A link, not a rename: a file that appeared meanwhile is never replaced.
        linked = ::linkat(folder.get(), partial.c_str(), folder.get(), fileName.c_str(), 0);
    }
    const int linkError = errno;
    discard();
    if (linked != 0 && linkError != EEXIST) {
        errno = linkError;
        return failure(target);
    }
    return {};
}

void removeUnkept(const fs::path& root, std::optional<std::string_view> sourceKey,
                  const std::set<std::string>& kept) {
    const Fd rootFd = openRoot(root, false);
    if (!rootFd) {
        return;
    }
    Fd source;
    if (sourceKey) {
        source = openFolder(rootFd.get(), std::string(*sourceKey), false);
        if (!source) {
            return;
        }
    }
    const int folder = sourceKey ? source.get() : rootFd.get();
    for (const std::string& name : namesIn(folder)) {
        struct stat status {};
        if (!isKey(name) || ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(status.st_mode)) {
            continue;
        }
        if (!kept.contains(name)) {
            removeFolder(folder, name, sourceKey ? 0 : 1);
        } else if (sourceKey) {
            removeStrayPartials(folder, name);
        }
    }
}

} // namespace sarnika::sources::extraction
