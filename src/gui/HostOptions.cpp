#include "gui/HostOptions.h"

#include <array>

namespace sarnika {

namespace {

constexpr std::array<std::uint32_t, 19> kDownloadControlFlags = {
    0x10,    0x20,       0x40,       0x80,       0x100,      0x200,   0x400,
    0x800,   0x1000,     0x2000,     0x4000,     0x8000,     0x10000, 0x20000,
    0x40000, 0x10000000, 0x20000000, 0x40000000, 0x80000000,
};

constexpr std::array<std::uint32_t, 17> kUserInterfaceFlags = {
    0x1,   0x2,   0x4,   0x8,    0x10,   0x20,   0x40,    0x80,    0x100,
    0x200, 0x400, 0x800, 0x1000, 0x2000, 0x4000, 0x10000, 0x20000,
};

template<typename Set, typename Option, std::size_t Count>
std::uint32_t combine(Set options, const std::array<std::uint32_t, Count>& flags) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < Count; ++i) {
        if (options.contains(static_cast<Option>(i))) {
            value |= flags[i];
        }
    }
    return value;
}

} // namespace

std::uint32_t downloadControlFlag(TDownloadControlOption option) {
    return kDownloadControlFlags.at(static_cast<std::size_t>(option));
}

std::uint32_t userInterfaceFlag(TUserInterfaceOption option) {
    return kUserInterfaceFlags.at(static_cast<std::size_t>(option));
}

std::uint32_t downloadControlValue(TDownloadControlOptions options) {
    return combine<TDownloadControlOptions, TDownloadControlOption>(options, kDownloadControlFlags);
}

std::uint32_t hostInfoFlags(TUserInterfaceOptions options) {
    return combine<TUserInterfaceOptions, TUserInterfaceOption>(options, kUserInterfaceFlags);
}

TDownloadControlOptions defaultDownloadOptions() {
    return {TDownloadControlOption::DLCTL_DLIMAGES, TDownloadControlOption::DLCTL_VIDEOS,
            TDownloadControlOption::DLCTL_BGSOUNDS};
}

} // namespace sarnika
