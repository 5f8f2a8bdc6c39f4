// The floor of a scan: what any reader of a Chromium simple cache and a Firefox cache2 must do at
// least. It lists each cache folder and, for every entry file, opens it relative to the folder,
// reads the bytes that hold the entry's key and closes it; nothing is parsed beyond the key's
// place, nothing is kept. A scan that takes little more than this is bound by the system.
//   bench_floor HOME   (HOME as bench/make_scan_home.py writes it)
#include <array>
#include <cstdint>
#include <dirent.h>
#include <iostream>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kChromiumHead = 2048; // the header and a key of up to 2 KiB
constexpr std::size_t kFirefoxTail = 16384; // the metadata at the end, with the key

struct Counts {
    std::size_t files = 0;
    std::uint64_t bytes = 0;
};

// Chromium: the key follows the 24-byte header at the start of the file.
std::size_t readChromiumKey(int fd, std::array<char, kFirefoxTail>& buffer) {
    const ssize_t got = ::pread(fd, buffer.data(), kChromiumHead, 0);
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

// Firefox: the key is in the metadata at the end, which the file's size tells where to find.
std::size_t readFirefoxKey(int fd, std::array<char, kFirefoxTail>& buffer) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_size <= 0) {
        return 0;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    const std::size_t wanted = size < kFirefoxTail ? size : kFirefoxTail;
    const ssize_t got = ::pread(fd, buffer.data(), wanted, static_cast<off_t>(size - wanted));
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

Counts readFolder(const std::string& folder, bool firefox) {
    Counts counts;
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) {
        std::cerr << "bench_floor: " << folder << ": cannot be listed\n";
        return counts;
    }
    const int dirFd = ::dirfd(listing);
    std::array<char, kFirefoxTail> buffer{};
    while (const dirent* item = ::readdir(listing)) { // NOLINT(concurrency-mt-unsafe)
        if (item->d_type != DT_REG) {
            continue;
        }
        const std::string_view name(item->d_name);
        if (!firefox && (name.size() != 18 || name.substr(16) != "_0")) {
            continue;
        }
        const int fd = ::openat(dirFd, item->d_name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            continue;
        }
        counts.bytes += firefox ? readFirefoxKey(fd, buffer) : readChromiumKey(fd, buffer);
        ++counts.files;
        ::close(fd);
    }
    ::closedir(listing);
    return counts;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: bench_floor HOME\n";
        return 2;
    }
    const std::string home = argv[1];
    const Counts chromium = readFolder(home + "/.cache/chromium/Default/Cache/Cache_Data", false);
    const Counts firefox =
        readFolder(home + "/.cache/mozilla/firefox/bench.default/cache2/entries", true);
    std::cout << chromium.files + firefox.files << " entry files, "
              << chromium.bytes + firefox.bytes << " bytes read\n";
    return chromium.files + firefox.files > 0 ? 0 : 1;
}
