#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <io.h>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "app/platform/ExclusivePublish.h"
#include "app/platform/LocalFiles.h"

namespace sarnika::files {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxTemporaryNames = 100;
constexpr int kMaxLinkHops = 40;
constexpr std::size_t kBufferSize = std::size_t{64} * 1024;

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (m_fd >= 0) {
            ::_close(m_fd);
        }
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int close() {
        const int closed = ::_close(std::exchange(m_fd, -1));
        return closed == 0 ? 0 : errno;
    }

private:
    int m_fd = -1;
};

// The temporary file of the copy under way, removed on Ctrl-C. Windows runs the handler on a
// thread of its own, so a path is enough.
std::array<wchar_t, 4096> g_temporaryPath{};
volatile std::sig_atomic_t g_hasTemporary = 0;

extern "C" void onInterrupt(int signal) {
    if (g_hasTemporary != 0) {
        ::_wunlink(g_temporaryPath.data());
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

class TemporaryName {
public:
    explicit TemporaryName(const fs::path& path) {
        const std::wstring& text = path.native();
        if (text.size() < g_temporaryPath.size()) {
            std::copy(text.begin(), text.end(), g_temporaryPath.begin());
            g_temporaryPath[text.size()] = L'\0';
            g_hasTemporary = 1;
        }
    }
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;
    ~TemporaryName() { g_hasTemporary = 0; }
};

// What a source file holds, read piece by piece into `write`.
ContentWriter contentOf(const std::string& source) {
    return [source](const std::function<Status(std::string_view)>& write) -> Status {
        const Fd in(::_wopen(fs::path(source).c_str(), _O_RDONLY | _O_BINARY));
        if (!in.valid()) {
            const int error = errno;
            return makeError(error == ENOENT ? Error::Code::NotFound : Error::Code::Unreadable,
                             "Cannot read " + inQuotes(source) + ": " + reasonFor(error));
        }
        std::vector<char> buffer(kBufferSize);
        for (;;) {
            const int got = ::_read(in.get(), buffer.data(), static_cast<unsigned>(buffer.size()));
            if (got < 0) {
                return makeError(Error::Code::Unreadable,
                                 "Cannot read " + inQuotes(source) + ": " + reasonFor(errno));
            }
            if (got == 0) {
                return {};
            }
            SARNIKA_TRY(write(std::string_view(buffer.data(), static_cast<std::size_t>(got))));
        }
    };
}

// Writes what `produce` gives into a new file with a short name next to `target` and answers
// its path.
Result<fs::path> writeTemporary(const ContentWriter& produce, const fs::path& target) {
    static std::mt19937 random{std::random_device{}()};
    int error = EEXIST;
    for (int attempt = 0; attempt < kMaxTemporaryNames && error == EEXIST; ++attempt) {
        std::array<char, 32> name{};
        std::snprintf(name.data(), name.size(), ".sarnika-%08x.part",
                      static_cast<unsigned>(random()));
        const fs::path temporary = target.parent_path() / name.data();
        Fd out(::_wopen(temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                        _S_IREAD | _S_IWRITE));
        if (!out.valid()) {
            error = errno;
            continue;
        }
        const TemporaryName registered(temporary);
        const int fd = out.get();
        Status copied = produce([fd, &target](std::string_view bytes) -> Status {
            if (::_write(fd, bytes.data(), static_cast<unsigned>(bytes.size())) !=
                static_cast<int>(bytes.size())) {
                return makeError(Error::Code::WriteFailed, "Cannot write " +
                                                               inQuotes(target.string()) + ": " +
                                                               reasonFor(errno));
            }
            return {};
        });
        if (copied) {
            if (const int closed = out.close(); closed != 0) {
                copied = makeError(Error::Code::WriteFailed, "Cannot write " +
                                                                 inQuotes(target.string()) + ": " +
                                                                 reasonFor(closed));
            }
        }
        if (!copied) {
            static_cast<void>(out.close());
            ::_wunlink(temporary.c_str());
            return copied.error();
        }
        return temporary;
    }
    return makeError(Error::Code::WriteFailed, "Cannot create a file next to " +
                                                   inQuotes(target.string()) + ": " +
                                                   reasonFor(error));
}

bool isLink(const fs::path& path) {
    std::error_code ignored;
    return fs::is_symlink(fs::symlink_status(path, ignored));
}

NameState stateOf(const fs::path& path) {
    std::error_code ignored;
    if (!fs::exists(fs::symlink_status(path, ignored))) {
        return NameState::Free;
    }
    return fs::is_directory(path, ignored) ? NameState::Folder : NameState::File;
}

// Gives `from` the name `to` unless that is taken: 0 or an errno value (EEXIST when taken).
int renameExclusively(const fs::path& from, const fs::path& to) {
    // The C runtime's rename never replaces a file; a taken name may also answer EACCES.
    if (::_wrename(from.c_str(), to.c_str()) == 0) {
        return 0;
    }
    return errno == EACCES ? EEXIST : errno;
}

} // namespace

Status copyExclusiveBelow(const std::string& source, const std::string& folder,
                          const std::string& relative) {
    const fs::path target = fs::path(folder) / relative;
    fs::path current(folder);
    for (const fs::path& part : fs::path(relative).relative_path().parent_path()) {
        current /= part;
        std::error_code ignored;
        if (isLink(current)) {
            return makeError(Error::Code::WriteFailed,
                             "cannot make the folder " + inQuotes(current.string()) +
                                 ": a symbolic link is there, not followed");
        }
        fs::create_directory(current, ignored);
        if (!fs::is_directory(current, ignored)) {
            return makeError(Error::Code::WriteFailed,
                             "cannot make the folder " + inQuotes(current.string()));
        }
    }
    fs::path temporary;
    PublishSteps steps;
    steps.look = [&target] {
        return stateOf(target);
    };
    steps.writeTemporary = [&source, &target, &temporary]() -> Status {
        auto written = writeTemporary(contentOf(source), target);
        if (!written) {
            return written.error();
        }
        temporary = std::move(written.value());
        return {};
    };
    steps.nameExclusively = [&target, &temporary] {
        return renameExclusively(temporary, target);
    };
    steps.discard = [&temporary] {
        if (!temporary.empty()) {
            ::_wunlink(temporary.c_str());
        }
    };
    return publishExclusively(steps, target.string());
}

Status writeNewFile(const std::string& target, const ContentWriter& produce, bool replace) {
    const fs::path path(target);
    fs::path temporary;
    PublishSteps steps;
    steps.look = [&path, replace] {
        const NameState state = stateOf(path);
        return replace && state == NameState::File ? NameState::Free : state;
    };
    steps.writeTemporary = [&produce, &path, &temporary]() -> Status {
        auto written = writeTemporary(produce, path);
        if (!written) {
            return written.error();
        }
        temporary = std::move(written.value());
        return {};
    };
    steps.nameExclusively = [&path, &temporary, replace] {
        if (replace) {
            std::error_code failure;
            fs::rename(temporary, path, failure);
            return failure ? EACCES : 0;
        }
        return renameExclusively(temporary, path);
    };
    steps.discard = [&temporary] {
        if (!temporary.empty()) {
            ::_wunlink(temporary.c_str());
        }
    };
    return publishExclusively(steps, target);
}

Status copyReplacing(const std::string& source, const std::string& target) {
    fs::path path(target);
    for (int hop = 0; isLink(path); ++hop) {
        std::error_code failure;
        const fs::path link = fs::read_symlink(path, failure);
        if (failure || hop == kMaxLinkHops) {
            return makeError(Error::Code::WriteFailed,
                             "Cannot follow the link " + inQuotes(target));
        }
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
    if (std::error_code ignored; fs::equivalent(source, path, ignored)) {
        return makeError(Error::Code::Exists,
                         inQuotes(target) + " is the cached movie itself and is left as it is");
    }
    std::error_code missing;
    const fs::file_status old = fs::status(path, missing);
    auto temporary = writeTemporary(contentOf(source), path);
    if (!temporary) {
        return temporary.error();
    }
    std::error_code failure;
    if (!missing && fs::exists(old)) {
        fs::permissions(*temporary, old.permissions(), failure);
    }
    if (!failure) {
        fs::rename(*temporary, path, failure);
    }
    if (failure) {
        ::_wunlink(temporary->c_str());
        return makeError(Error::Code::WriteFailed,
                         "Cannot replace " + inQuotes(target) + ": " + failure.message());
    }
    return {};
}

void removeTemporariesOnInterrupt() {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

std::size_t maxPathBytes() {
    // MAX_PATH without its terminating null: longer paths need a manifest entry of the program.
    return 259;
}

void useUnnamedTemporaries(bool /*use*/) {}

Result<AppendFile> AppendFile::open(const std::string& path) {
    const int fd = ::_wopen(fs::path(path).c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY,
                            _S_IREAD | _S_IWRITE);
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
        ::_close(m_fd);
    }
}

Status AppendFile::appendLine(const std::string& line) const {
    const std::string text = line + "\n";
    if (::_write(m_fd, text.data(), static_cast<unsigned>(text.size())) ==
        static_cast<int>(text.size())) {
        return {};
    }
    return makeError(Error::Code::WriteFailed, reasonFor(errno));
}

} // namespace sarnika::files
