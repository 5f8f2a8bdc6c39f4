#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

// The system calls the tests need to set up hostile files and to watch child processes, so
// that test files beside the code include no system header. POSIX systems only.
namespace sarnika::testing {

// Makes a fifo at `path`; false when it cannot.
bool makeFifo(const std::filesystem::path& path);

// The bytes a file takes on disk (less than its size when it is sparse); 0 when it is missing.
std::uint64_t allocatedBytes(const std::filesystem::path& path);

// Sets the access time of a file, in seconds since 1970, and leaves its modification time.
bool setAccessTime(const std::filesystem::path& path, std::int64_t seconds);
// The access time of a file, in whole seconds since 1970; -1 when it is missing.
std::int64_t accessTime(const std::filesystem::path& path);

// Whether the file may be run by this user.
bool isExecutable(const std::filesystem::path& path);

// Whether the process runs as root, for which every folder is readable.
bool runsAsRoot();
// Leaves root for the unprivileged user "nobody" (uid and gid 65534), for good; false when
// that fails. Meant for a child process.
bool becomeNobody();

// The highest memory the process has held so far, in KiB.
long peakMemoryKiB();

// How a child process ended: its exit code, or the signal that ended it (exitCode is then -1).
struct ChildEnd {
    int exitCode = -1;
    int signal = 0;
};

// The same for a status from std::system() or waitpid().
ChildEnd childEndOf(int status);

// Runs each body in a child process of its own, all at once; a child exits with what its body
// answers. Waits for them all.
std::vector<ChildEnd> runInChildren(const std::vector<std::function<int()>>& bodies);
ChildEnd runInChild(const std::function<int()>& body);

} // namespace sarnika::testing
