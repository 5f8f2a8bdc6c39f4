// seed_wininet_cache: fills the current user's WinINet cache with the sample entries of the
// tests, for tests that then run sarnika-cli.exe on it. Prints the local files it made.
#include <iostream>

#include "support/wininet/WinInetSeed.h"

int main() {
    sarnika::wininet::clearCache();
    // 2009-02-13 23:31:30 UTC.
    constexpr std::uint64_t kModified = 128'790'414'900'000'000ULL;
    int failures = 0;
    for (const auto& entry : sarnika::wininet::sampleEntries()) {
        bool ok = false;
        const std::string file = sarnika::wininet::commitEntry(entry, kModified, ok);
        std::cout << (ok ? "" : "FAILED ") << entry.url << "\t" << file << "\n";
        failures += ok ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
