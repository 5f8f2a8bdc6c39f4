#include "app/platform/LocalFiles.h"

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/platform/ExclusivePublish.h"
#include "platform/posix/Fd.h"

namespace sarnika::files {
namespace {

namespace fs = std::filesystem;
using posix::Fd;

// Names of temporary files stay far below the 255 bytes of a name: the final name may use them
// all.
constexpr std::size_t kTemporaryNameSize = 32;
constexpr int kMaxTemporaryNames = 100;
// As many links as the kernel follows in one path.
constexpr int kMaxLinkHops = 40;
constexpr std::size_t kBufferSize = std::size_t{64} * 1024;

// The temporary file of the copy under way, for the signal handler: the folder's descriptor
// and the name, set before the descriptor and cleared before the name changes.
volatile std::sig_atomic_t g_temporaryFolder = -1;
std::array<char, kTemporaryNameSize> g_temporaryName{};
std::array<struct sigaction, 2> g_previousActions{};
constexpr std::array<int, 2> kInterrupts = {SIGINT, SIGTERM};
bool g_useUnnamed = true;

extern "C" void onInterrupt(int signal, siginfo_t* info, void* context) {
    const int saved = errno;
    if (const int folder = g_temporaryFolder; folder >= 0) {
        ::unlinkat(folder, g_temporaryName.data(), 0);
    }
    errno = saved;
    const struct sigaction& previous = g_previousActions[signal == SIGINT ? 0 : 1];
    if ((previous.sa_flags & SA_SIGINFO) != 0U) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
        return;
    }
    // The default action, once this handler returns and the signal is no longer blocked.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigaction(signal, &standard, nullptr);
    static_cast<void>(::raise(signal));
}

// SIGINT and SIGTERM wait while it lives: a temporary file is made and registered under it, so
// that a signal between the two cannot leave the file behind.
class InterruptsHeld {
public:
    InterruptsHeld() {
        sigset_t held{};
        sigemptyset(&held);
        for (const int interrupt : kInterrupts) {
            sigaddset(&held, interrupt);
        }
        ::pthread_sigmask(SIG_BLOCK, &held, &m_previous);
    }
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;
    ~InterruptsHeld() { ::pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }

private:
    sigset_t m_previous{};
};

void registerTemporary(int folder, const std::string& name) {
    static_cast<void>(
        std::snprintf(g_temporaryName.data(), g_temporaryName.size(), "%s", name.c_str()));
    g_temporaryFolder = folder;
}

// Keeps the temporary file that createTemporary() registered for removal on SIGINT and SIGTERM
// for as long as it lives.
class TemporaryName {
public:
    TemporaryName() = default;
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    ~TemporaryName() { g_temporaryFolder = -1; }
};

struct Source {
    Fd fd;
    std::uint64_t size = 0;
    dev_t device = 0;
    ino_t inode = 0;
};

// Cache files are opened without following a link and without waiting on a fifo; only a
// regular file is copied, and no more of it than it held when it was opened.
Result<Source> openSource(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid()) {
        const int error = errno;
        const Error::Code code = error == ENOENT ? Error::Code::NotFound : Error::Code::Unreadable;
        const std::string why =
            error == ELOOP ? std::string("it is a symbolic link") : reasonFor(error);
        return makeError(code, "Cannot read " + inQuotes(path) + ": " + why);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return makeError(Error::Code::Unreadable,
                         "Cannot read " + inQuotes(path) + ": it is not a regular file");
    }
    return Source{std::move(fd), static_cast<std::uint64_t>(info.st_size), info.st_dev,
                  info.st_ino};
}

Status writeAll(int out, std::string_view bytes, const std::string& target) {
    while (!bytes.empty()) {
        const ssize_t wrote = ::write(out, bytes.data(), bytes.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            const int error = wrote < 0 ? errno : EIO;
            return makeError(Error::Code::WriteFailed,
                             "Cannot write " + inQuotes(target) + ": " + reasonFor(error));
        }
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return {};
}

Status syncedFile(int out, const std::string& target) {
    if (::fsync(out) != 0 && errno != EINVAL && errno != EROFS) {
        return makeError(Error::Code::WriteFailed,
                         "Cannot write " + inQuotes(target) + ": " + reasonFor(errno));
    }
    return {};
}

Status copyContent(const Source& source, int out, const std::string& sourcePath,
                   const std::string& target) {
    std::vector<char> buffer(kBufferSize);
    std::uint64_t left = source.size;
    while (left > 0) {
        const std::size_t want =
            left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
        const ssize_t got = ::read(source.fd.get(), buffer.data(), want);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return makeError(Error::Code::Unreadable,
                             "Cannot read " + inQuotes(sourcePath) + ": " + reasonFor(errno));
        }
        if (got == 0) {
            break; // the file shrank since it was opened: what is there is copied
        }
        left -= static_cast<std::uint64_t>(got);
        SARNIKA_TRY(
            writeAll(out, std::string_view(buffer.data(), static_cast<std::size_t>(got)), target));
    }
    return syncedFile(out, target);
}

std::string temporaryName() {
    static std::mt19937 random{std::random_device{}()};
    std::array<char, kTemporaryNameSize> name{};
    static_cast<void>(std::snprintf(name.data(), name.size(), ".sarnika-%08x.part",
                                    static_cast<unsigned>(random())));
    return name.data();
}

// Creates a temporary file with a short name in `folder`.
Result<std::pair<Fd, std::string>> createTemporary(int folder, const std::string& shownFolder) {
    int error = EEXIST;
    for (int attempt = 0; attempt < kMaxTemporaryNames && error == EEXIST; ++attempt) {
        std::string name = temporaryName();
        const InterruptsHeld held;
        Fd fd(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       0666));
        if (fd.valid()) {
            registerTemporary(folder, name);
            return std::pair<Fd, std::string>(std::move(fd), std::move(name));
        }
        error = errno;
    }
    return makeError(Error::Code::WriteFailed,
                     "Cannot create a file in " + inQuotes(shownFolder) + ": " + reasonFor(error));
}

std::string joined(const std::string& folder, const std::string& name) {
    return (fs::path(folder) / name).string();
}

// Opens (and makes) the folders of `parts` one below the other, never through a link.
Result<Fd> openFolderBelow(const std::string& folder, const std::vector<std::string>& parts) {
    Fd current(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!current.valid()) {
        return makeError(Error::Code::WriteFailed,
                         "cannot open the folder " + inQuotes(folder) + ": " + reasonFor(errno));
    }
    std::string shown = folder;
    for (const std::string& part : parts) {
        shown = joined(shown, part);
        const auto openPart = [&current, &part] {
            return ::openat(current.get(), part.c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        };
        int next = openPart();
        if (next < 0 && errno == ENOENT) {
            if (::mkdirat(current.get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
                return makeError(Error::Code::WriteFailed, "cannot make the folder " +
                                                               inQuotes(shown) + ": " +
                                                               reasonFor(errno));
            }
            next = openPart();
        }
        if (next < 0) {
            const int error = errno;
            struct stat info {};
            const bool link =
                ::fstatat(current.get(), part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(info.st_mode);
            return makeError(Error::Code::WriteFailed,
                             "cannot make the folder " + inQuotes(shown) + ": " +
                                 (link ? std::string("a symbolic link is there, not followed")
                                       : reasonFor(error)));
        }
        current = Fd(next);
    }
    return current;
}

NameState stateAt(int folder, const std::string& name) {
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return NameState::Free;
    }
    return S_ISDIR(info.st_mode) ? NameState::Folder : NameState::File;
}

Error existsError(int folder, const std::string& name, const std::string& target) {
    return takenError(stateAt(folder, name), target);
}

// Gives the complete temporary file its final name unless that name is taken: 0 or an errno
// value.
int nameExclusively(int folder, const std::string& temporary, const std::string& name) {
    if (::renameat2(folder, temporary.c_str(), folder, name.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    int error = errno;
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
        // No exclusive rename on this file system: a hard link refuses a taken name as well.
        if (::linkat(folder, temporary.c_str(), folder, name.c_str(), 0) == 0) {
            ::unlinkat(folder, temporary.c_str(), 0);
            return 0;
        }
        error = errno;
        if (error == EPERM || error == EOPNOTSUPP || error == EMLINK) {
            // Neither (FAT and the like): look, then rename, which leaves a tiny window.
            if (stateAt(folder, name) != NameState::Free) {
                return EEXIST;
            }
            return ::renameat(folder, temporary.c_str(), folder, name.c_str()) == 0 ? 0 : errno;
        }
    }
    return error;
}

std::vector<std::string> partsOf(const std::string& relative) {
    std::vector<std::string> parts;
    for (const fs::path& part : fs::path(relative).relative_path()) {
        const std::string text = part.string();
        if (!text.empty() && text != "." && text != "..") {
            parts.push_back(text);
        }
    }
    return parts;
}

std::string resolvedLinks(const std::string& target, int& error) {
    fs::path path(target);
    for (int hop = 0;; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return path.string();
        }
        std::error_code failure;
        const fs::path link = fs::read_symlink(path, failure);
        if (failure || hop == kMaxLinkHops) {
            error = failure ? failure.value() : ELOOP;
            return {};
        }
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
}

// The folder a file is to be made in, open, with the file's name.
struct PlaceOfFile {
    Fd dir;
    std::string folder;
    std::string name;
};

Result<PlaceOfFile> openFolderOf(const std::string& file) {
    const fs::path path(file);
    PlaceOfFile place{Fd(), path.has_parent_path() ? path.parent_path().string() : ".",
                      path.filename().string()};
    place.dir = Fd(::open(place.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!place.dir.valid()) {
        return makeError(Error::Code::WriteFailed, "Cannot open the folder " +
                                                       inQuotes(place.folder) + ": " +
                                                       reasonFor(errno));
    }
    return place;
}

// Fills a temporary file in the open folder `into` and gives it the name `name` once complete:
// never over what is there, unless `replace` and it is a file. `shownFolder` and `target` are
// the paths the messages show.
Status publishInFolder(int into, const std::string& shownFolder, const std::string& name,
                       const std::string& target, const std::function<Status(int out)>& fill,
                       bool replace) {
    std::string temporaryFile;
    std::optional<TemporaryName> registered;
    PublishSteps steps;
    steps.look = [into, &name, replace] {
        const NameState state = stateAt(into, name);
        return replace && state == NameState::File ? NameState::Free : state;
    };
    steps.writeTemporary = [&]() -> Status {
        auto temporary = createTemporary(into, shownFolder);
        if (!temporary) {
            return temporary.error();
        }
        auto& [out, temporaryName] = temporary.value();
        temporaryFile = temporaryName;
        registered.emplace();
        SARNIKA_TRY(fill(out.get()));
        if (const int error = out.close(); error != 0) {
            return makeError(Error::Code::WriteFailed,
                             "Cannot write " + inQuotes(target) + ": " + reasonFor(error));
        }
        return {};
    };
    steps.nameExclusively = [into, &temporaryFile, &name, replace] {
        if (replace) {
            return ::renameat(into, temporaryFile.c_str(), into, name.c_str()) == 0 ? 0 : errno;
        }
        return nameExclusively(into, temporaryFile, name);
    };
    steps.discard = [into, &temporaryFile] {
        if (!temporaryFile.empty()) {
            ::unlinkat(into, temporaryFile.c_str(), 0);
        }
    };
    return publishExclusively(steps, target);
}

} // namespace

Status copyExclusiveBelow(const std::string& source, const std::string& folder,
                          const std::string& relative) {
    std::vector<std::string> parts = partsOf(relative);
    const std::string target = joined(folder, relative);
    if (parts.empty()) {
        return makeError(Error::Code::WriteFailed,
                         "Cannot create " + inQuotes(target) + ": no file name");
    }
    const std::string name = parts.back();
    parts.pop_back();
    auto in = openSource(source);
    if (!in) {
        return in.error();
    }
    auto dir = openFolderBelow(folder, parts);
    if (!dir) {
        return dir.error();
    }
    // A file without a name first: nothing is left behind even by a kill, and linking it
    // refuses a name that is taken.
    Fd unnamed(g_useUnnamed ? ::openat(dir->get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)
                            : -1);
    if (unnamed.valid()) {
        if (Status copied = copyContent(in.value(), unnamed.get(), source, target); !copied) {
            return copied;
        }
        std::array<char, 64> procPath{};
        static_cast<void>(
            std::snprintf(procPath.data(), procPath.size(), "/proc/self/fd/%d", unnamed.get()));
        if (::linkat(AT_FDCWD, procPath.data(), dir->get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return {};
        }
        if (errno == EEXIST) {
            return existsError(dir->get(), name, target);
        }
        if (errno == ENAMETOOLONG || errno == ENOSPC || errno == EDQUOT || errno == EROFS) {
            return makeError(Error::Code::WriteFailed,
                             "Cannot create " + inQuotes(target) + ": " + reasonFor(errno));
        }
        // Without /proc the unnamed file cannot be named: copy again under a temporary name.
        if (::lseek(in->fd.get(), 0, SEEK_SET) != 0) {
            return makeError(Error::Code::Unreadable,
                             "Cannot read " + inQuotes(source) + ": " + reasonFor(errno));
        }
    }
    return publishInFolder(
        dir->get(), joined(folder, fs::path(relative).parent_path().string()), name, target,
        [&](int out) { return copyContent(in.value(), out, source, target); }, false);
}

Status writeNewFile(const std::string& target, const ContentWriter& produce, bool replace) {
    SARNIKA_TRY_ASSIGN(place, openFolderOf(target));
    return publishInFolder(
        place.dir.get(), place.folder, place.name, target,
        [&](int out) -> Status {
            SARNIKA_TRY(produce(
                [out, &target](std::string_view bytes) { return writeAll(out, bytes, target); }));
            return syncedFile(out, target);
        },
        replace);
}

Status copyReplacing(const std::string& source, const std::string& target) {
    int linkError = 0;
    const std::string resolved = resolvedLinks(target, linkError);
    if (resolved.empty()) {
        return makeError(Error::Code::WriteFailed, "Cannot follow the link " + inQuotes(target) +
                                                       ": " + reasonFor(linkError));
    }
    auto in = openSource(source);
    if (!in) {
        return in.error();
    }
    struct stat old {};
    const bool exists = ::stat(resolved.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        return makeError(Error::Code::WriteFailed,
                         "Cannot replace " + inQuotes(target) + ": it is not a regular file");
    }
    // Replacing the cache file by its own copy would change the browser's cache.
    if (exists && old.st_dev == in->device && old.st_ino == in->inode) {
        return makeError(Error::Code::Exists,
                         inQuotes(target) + " is the cached movie itself and is left as it is");
    }
    SARNIKA_TRY_ASSIGN(place, openFolderOf(resolved));
    const Fd& dir = place.dir;
    const std::string& folder = place.folder;
    const std::string& name = place.name;
    auto temporary = createTemporary(dir.get(), folder);
    if (!temporary) {
        return temporary.error();
    }
    auto& [out, temporaryFile] = temporary.value();
    const TemporaryName registered;
    Status done = copyContent(in.value(), out.get(), source, target);
    if (done && exists) {
        // The owner can only be kept by a privileged user; the permissions always.
        static_cast<void>(::fchown(out.get(), old.st_uid, old.st_gid));
        if (::fchmod(out.get(), old.st_mode & 07777) != 0) {
            done =
                makeError(Error::Code::WriteFailed, "Cannot keep the permissions of " +
                                                        inQuotes(target) + ": " + reasonFor(errno));
        }
    }
    if (done) {
        if (const int error = out.close(); error != 0) {
            done = makeError(Error::Code::WriteFailed,
                             "Cannot write " + inQuotes(target) + ": " + reasonFor(error));
        }
    }
    if (done && ::renameat(dir.get(), temporaryFile.c_str(), dir.get(), name.c_str()) != 0) {
        done = makeError(Error::Code::WriteFailed,
                         "Cannot replace " + inQuotes(target) + ": " + reasonFor(errno));
    }
    if (!done) {
        ::unlinkat(dir.get(), temporaryFile.c_str(), 0);
    }
    return done;
}

std::size_t maxPathBytes() {
    return PATH_MAX - 1;
}

void useUnnamedTemporaries(bool use) {
    g_useUnnamed = use;
}

void removeTemporariesOnInterrupt() {
    for (std::size_t i = 0; i < kInterrupts.size(); ++i) {
        struct sigaction current {};
        ::sigaction(kInterrupts[i], nullptr, &current);
        // An ignored signal stays ignored (a program started in the background).
        if ((current.sa_flags & SA_SIGINFO) == 0U && current.sa_handler == SIG_IGN) {
            continue;
        }
        if ((current.sa_flags & SA_SIGINFO) != 0U && current.sa_sigaction == onInterrupt) {
            continue;
        }
        g_previousActions[i] = current;
        struct sigaction action {};
        action.sa_sigaction = onInterrupt;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        ::sigaction(kInterrupts[i], &action, nullptr);
    }
}

Result<AppendFile> AppendFile::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        return makeError(Error::Code::WriteFailed,
                         "cannot write " + path + ": " + reasonFor(errno));
    }
    return AppendFile(fd);
}

AppendFile::AppendFile(AppendFile&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

AppendFile& AppendFile::operator=(AppendFile&& other) noexcept {
    std::swap(m_fd, other.m_fd);
    return *this;
}

AppendFile::~AppendFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

Status AppendFile::appendLine(const std::string& line) const {
    const std::string text = line + "\n";
    for (;;) {
        const ssize_t wrote = ::write(m_fd, text.data(), text.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote == static_cast<ssize_t>(text.size())) {
            return {};
        }
        const int error = wrote < 0 ? errno : ENOSPC;
        return makeError(Error::Code::WriteFailed, reasonFor(error));
    }
}

} // namespace sarnika::files
