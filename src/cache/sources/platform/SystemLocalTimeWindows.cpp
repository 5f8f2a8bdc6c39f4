#include <windows.h>

#include "cache/sources/SystemLocalTime.h"

namespace sarnika::sources {

std::optional<FileTime> SystemLocalTime::toLocalFileTime(FileTime utc) const {
    FILETIME in{};
    in.dwLowDateTime = static_cast<DWORD>(utc & 0xFFFFFFFFU);
    in.dwHighDateTime = static_cast<DWORD>(utc >> 32U);
    FILETIME local{};
    // A local time that the platform cannot turn into calendar fields fails here too, as the
    // C library's rules do elsewhere.
    SYSTEMTIME fields{};
    if (FileTimeToLocalFileTime(&in, &local) == 0 || FileTimeToSystemTime(&local, &fields) == 0) {
        return std::nullopt;
    }
    return (static_cast<FileTime>(local.dwHighDateTime) << 32U) | local.dwLowDateTime;
}

} // namespace sarnika::sources
