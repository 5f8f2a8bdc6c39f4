#include "gui/HostOptions.h"

#include <gtest/gtest.h>

namespace sarnika {
namespace {

using DL = TDownloadControlOption;
using UI = TUserInterfaceOption;

TEST(HostOptions, DownloadControlValue) {
    EXPECT_EQ(downloadControlValue(defaultDownloadOptions()), 112U);
    EXPECT_EQ(downloadControlValue({}), 0U);
    EXPECT_EQ(downloadControlValue(TDownloadControlOptions::all()), 0xF007FFF0U);
    EXPECT_EQ(downloadControlValue({DL::DLCTL_NO_SCRIPTS, DL::DLCTL_OFFLINE}), 0x80000080U);
    // The flags jump from 0x40000 to 0x10000000 between the two UTF-8 options and offline.
    EXPECT_EQ(downloadControlFlag(DL::DLCTL_URL_ENCODING_ENABLE_UTF8), 0x40000U);
    EXPECT_EQ(downloadControlFlag(DL::DLCTL_FORCEOFFLINE), 0x10000000U);
    EXPECT_EQ(downloadControlFlag(DL::DLCTL_SILENT), 0x40000000U);
}

TEST(HostOptions, HostInfoFlags) {
    EXPECT_EQ(hostInfoFlags({}), 0U);
    EXPECT_EQ(hostInfoFlags(TUserInterfaceOptions::all()), 0x37FFFU);
    // No flag 0x8000: ENABLE_INPLACE_NAVIGATION follows ENABLE_FORMS_AUTOCOMPLETE at 0x10000.
    EXPECT_EQ(userInterfaceFlag(UI::ENABLE_FORMS_AUTOCOMPLETE), 0x4000U);
    EXPECT_EQ(userInterfaceFlag(UI::ENABLE_INPLACE_NAVIGATION), 0x10000U);
    EXPECT_EQ(hostInfoFlags({UI::DIALOG, UI::SCROLL_NO, UI::IME_ENABLE_RECONVERSION}), 0x20009U);
}

TEST(HostOptions, SetOperations) {
    TDownloadControlOptions options = defaultDownloadOptions();
    EXPECT_TRUE(options.contains(DL::DLCTL_VIDEOS));
    EXPECT_FALSE(options.contains(DL::DLCTL_NO_SCRIPTS));
    options.exclude(DL::DLCTL_VIDEOS);
    options.include(DL::DLCTL_NO_SCRIPTS);
    EXPECT_EQ(downloadControlValue(options), 0x10U | 0x40U | 0x80U);
    options.include(DL::DLCTL_NO_SCRIPTS);
    EXPECT_EQ(downloadControlValue(options), 0xD0U);
    EXPECT_NE(options, defaultDownloadOptions());
    EXPECT_TRUE(TUserInterfaceOptions().empty());
    EXPECT_EQ(TUserInterfaceOptions::all().ordinalBits(), 0x1FFFFU);
}

} // namespace
} // namespace sarnika
