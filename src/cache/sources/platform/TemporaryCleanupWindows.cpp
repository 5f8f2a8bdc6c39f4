#include <process.h>

#include "cache/sources/TemporaryCleanup.h"

namespace sarnika::sources {

// The Windows build makes no temporary copies of databases (it reads no SQLite): there is
// nothing to remove on a console's Ctrl+C yet, and no folders of earlier runs to look for.
void installTemporaryCleanup() {}

long currentProcessId() {
    return static_cast<long>(_getpid());
}

int removeLeftTemporaryFolders(const std::filesystem::path& /*temporaryRoot*/) {
    return 0;
}

TemporaryPathGuard::TemporaryPathGuard(const std::filesystem::path& /*path*/) {}

// NOLINTNEXTLINE(performance-trivially-destructible): POSIX builds free a slot here.
TemporaryPathGuard::~TemporaryPathGuard() = default;

} // namespace sarnika::sources
