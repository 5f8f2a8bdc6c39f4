// The names of our temporary folders, the same on every system; the rest of the cleanup is
// the system's (platform/TemporaryCleanup*.cpp).
#include "cache/sources/TemporaryCleanup.h"

namespace sarnika::sources {

std::string temporaryFolderPattern(std::string_view kind) {
    return "sarnika-" + std::string(kind) + "-" + std::to_string(currentProcessId()) + "-XXXXXX";
}

// Names are "sarnika-<kind>-<pid>-<six characters>".
long processOfTemporaryFolder(const std::string& name) {
    constexpr std::string_view kPrefix = "sarnika-";
    if (name.rfind(kPrefix, 0) != 0) {
        return 0;
    }
    const std::size_t kindEnd = name.find('-', kPrefix.size());
    if (kindEnd == std::string::npos) {
        return 0;
    }
    const std::size_t pidEnd = name.find('-', kindEnd + 1);
    if (pidEnd == std::string::npos || pidEnd == kindEnd + 1 || name.size() != pidEnd + 7 ||
        pidEnd - kindEnd > 10) {
        return 0;
    }
    long pid = 0;
    for (std::size_t i = kindEnd + 1; i < pidEnd; ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return 0;
        }
        pid = pid * 10 + (name[i] - '0');
    }
    return pid;
}

} // namespace sarnika::sources
