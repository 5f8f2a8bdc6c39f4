#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "cache/sources/TemporaryCleanup.h"

namespace sarnika::sources {
namespace fs = std::filesystem;
namespace {

// A fixed list, written only through atomics, so that the signal handler may read it: no
// allocation, no lock. Free slots are 0, slots being filled or emptied 1, ready slots 2.
constexpr std::size_t kSlots = 256;
constexpr std::size_t kPathBytes = 4096;
constexpr int kFree = 0;
constexpr int kBusy = 1;
constexpr int kReady = 2;

struct Slot {
    std::atomic<int> state{kFree};
    std::array<char, kPathBytes> path{};
};

// Constant-initialised: nothing is left to set up when the first signal comes.
std::array<Slot, kSlots> g_slots; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};

// Async-signal-safe: unlink(), rmdir(), signal() and raise() only.
void removeRegisteredAndDie(int signal) {
    const int savedErrno = errno;
    for (Slot& slot : g_slots) {
        if (slot.state.load() == kReady) {
            ::unlink(slot.path.data());
        }
    }
    for (Slot& slot : g_slots) {
        if (slot.state.load() == kReady) {
            ::rmdir(slot.path.data());
        }
    }
    errno = savedErrno;
    // SA_RESETHAND gave the signal its default action back: it ends the program once the
    // handler returns, with the status the caller expects from that signal.
    static_cast<void>(::raise(signal));
}

bool processIsGone(long pid) {
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

long currentProcessId() {
    return static_cast<long>(::getpid());
}

int removeLeftTemporaryFolders(const fs::path& temporaryRoot) {
    int removed = 0;
    std::error_code error;
    for (fs::directory_iterator it(temporaryRoot, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        const long pid = processOfTemporaryFolder(name);
        struct stat info {};
        // Only real folders (no links) of this user, of processes that no longer run.
        if (pid == 0 || pid == ::getpid() || ::lstat(it->path().c_str(), &info) != 0 ||
            !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() || !processIsGone(pid)) {
            continue;
        }
        std::error_code ignored;
        if (fs::remove_all(it->path(), ignored) > 0) {
            ++removed;
        }
    }
    return removed;
}

void installTemporaryCleanup() {
    for (const int signal : kSignals) {
        struct sigaction current {};
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = removeRegisteredAndDie;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (const int other : kSignals) {
            sigaddset(&action.sa_mask, other);
        }
        ::sigaction(signal, &action, nullptr);
    }
    std::error_code error;
    const fs::path root = fs::temp_directory_path(error);
    if (!error) {
        removeLeftTemporaryFolders(root);
    }
}

TemporaryPathGuard::TemporaryPathGuard(const fs::path& path) {
    const std::string& text = path.native();
    if (text.empty() || text.size() >= kPathBytes) {
        return;
    }
    for (std::size_t i = 0; i < kSlots; ++i) {
        Slot& slot = g_slots[i];
        int expected = kFree;
        if (slot.state.compare_exchange_strong(expected, kBusy)) {
            std::memcpy(slot.path.data(), text.c_str(), text.size() + 1);
            slot.state.store(kReady);
            m_slot = static_cast<int>(i);
            return;
        }
    }
}

TemporaryPathGuard::~TemporaryPathGuard() {
    if (m_slot >= 0) {
        Slot& slot = g_slots[static_cast<std::size_t>(m_slot)];
        slot.state.store(kFree);
    }
}

} // namespace sarnika::sources
