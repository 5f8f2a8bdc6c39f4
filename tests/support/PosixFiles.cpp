#include "support/PosixFiles.h"

#include <grp.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sarnika::testing {

bool makeFifo(const std::filesystem::path& path) {
    return ::mkfifo(path.c_str(), 0600) == 0;
}

std::uint64_t allocatedBytes(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_blocks) * 512U;
}

bool setAccessTime(const std::filesystem::path& path, std::int64_t seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {0, UTIME_OMIT}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::int64_t accessTime(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(info.st_atim.tv_sec);
}

bool isExecutable(const std::filesystem::path& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

long peakMemoryKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

ChildEnd childEndOf(int status) {
    if (WIFEXITED(status)) {
        return {WEXITSTATUS(status), 0};
    }
    return {-1, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

std::vector<ChildEnd> runInChildren(const std::vector<std::function<int()>>& bodies) {
    std::vector<pid_t> children;
    for (const auto& body : bodies) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::_exit(body());
        }
        children.push_back(child);
    }
    std::vector<ChildEnd> ends;
    for (const pid_t child : children) {
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child) {
            ends.push_back({});
            continue;
        }
        ends.push_back(childEndOf(status));
    }
    return ends;
}

bool runsAsRoot() {
    return geteuid() == 0;
}

bool becomeNobody() {
    constexpr gid_t kNobody = 65534;
    return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

ChildEnd runInChild(const std::function<int()>& body) {
    return runInChildren({body}).front();
}

} // namespace sarnika::testing
