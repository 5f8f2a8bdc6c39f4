#include "cache/sources/firefox/FirefoxOldCache.h"

#include <iostream>

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace sarnika::sources {
namespace {

TEST(FirefoxOldCache, Probe) {
    ReadReport report;
    const auto records = readFirefoxOldCache(
        testing::sharedDir() / "testdata/external/firefox-oldcache/firefox_cache1", report);
    for (const auto& r : records) {
        std::string head = r.body ? (r.body(8) ? r.body(8).value().substr(0, 4) : std::string("ERR")) : "none";
        std::cout << r.url << " size " << r.size << " use " << r.useCount << " head "
                  << ::testing::PrintToString(head) << "\n   " << r.identity << "\n";
    }
    std::cout << report.skipped << " " << report.firstProblem << "\n";
}

} // namespace
} // namespace sarnika::sources
