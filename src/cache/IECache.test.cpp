#include "cache/IECache.h"

#include <gtest/gtest.h>

#include "support/FakeUrlCache.h"

namespace sarnika {
namespace {

using testing::FakeUrlCache;
using Kind = FakeUrlCache::Call::Kind;

class IECacheTest : public ::testing::Test {
protected:
    void SetUp() override { TIECache::ResetLibraryFlagForTesting(); }
    void TearDown() override { TIECache::ResetLibraryFlagForTesting(); }

    std::vector<std::string> walkUrls(TIECache& cache) {
        std::vector<std::string> urls;
        cache.SetOnEntry([&urls](TIECache& sender, bool&) {
            urls.push_back(sender.CurrentEntry().SourceUrlName);
        });
        cache.Enumerate(0);
        return urls;
    }

    UtcLocalTime utc;
};

TEST_F(IECacheTest, FilterMaskFollowsTheOptions) {
    FakeUrlCache port;
    TIECache cache(port, utc);
    EXPECT_EQ(cache.FilterOptions().bits(), 125);
    EXPECT_EQ(cache.FilterMask(), 0x00300035U);
    cache.SetFilterOptions(TFilterOptions(TFilterOptions::kAll));
    EXPECT_EQ(cache.FilterMask(), 0x00330037U);
    cache.SetFilterOptions(TFilterOptions());
    EXPECT_EQ(cache.FilterMask(), 0U);
    cache.SetFilterOptions({TFilterOption::SPARSE_ENTRY, TFilterOption::OCX_ENTRY});
    EXPECT_EQ(cache.FilterMask(), 0x00030000U);
    EXPECT_EQ(cache.SearchPattern(), TSearchPattern::spAll);
}

TEST_F(IECacheTest, PatternsReachTheCacheAsNullOrText) {
    FakeUrlCache port;
    TIECache cache(port, utc);
    const std::pair<TSearchPattern, const char*> cases[] = {{TSearchPattern::spAll, nullptr},
                                                            {TSearchPattern::spCookies, "Cookie:"},
                                                            {TSearchPattern::spHistory, "Visited:"},
                                                            {TSearchPattern::spUrl, ""}};
    for (const auto& [pattern, text] : cases) {
        port.calls.clear();
        cache.SetSearchPattern(pattern);
        cache.Enumerate(0);
        ASSERT_GE(port.calls.size(), 2U);
        const auto& probe = port.calls[port.calls.size() - 3];
        ASSERT_EQ(probe.kind, Kind::FindFirst);
        EXPECT_EQ(probe.nullPattern, text == nullptr);
        if (text != nullptr) {
            EXPECT_EQ(probe.pattern, text);
        }
    }
}

TEST_F(IECacheTest, EmptyWalkClosesTheNullHandleOnceAndRaisesNoEvent) {
    FakeUrlCache port;
    TIECache cache(port, utc);
    int events = 0;
    cache.SetOnEntry([&events](TIECache&, bool&) { ++events; });
    cache.Enumerate(0);
    EXPECT_EQ(events, 0);
    ASSERT_EQ(port.count(Kind::FindClose), 1U);
    EXPECT_EQ(port.calls.back().kind, Kind::FindClose);
    EXPECT_EQ(port.calls.back().handle, nullptr);
    EXPECT_EQ(port.lastError(), CacheError::InvalidHandle); // the close of null is ignored
}

TEST_F(IECacheTest, EveryFetchIsAProbeThenAFetchOfThatSize) {
    FakeUrlCache port({testing::contentEntry("http://a/1.swf", "/c/1[1].swf"),
                       testing::contentEntry("http://a/2.swf", "/c/2[1].swf")});
    TIECache cache(port, utc);
    EXPECT_EQ(walkUrls(cache), (std::vector<std::string>{"http://a/1.swf", "http://a/2.swf"}));
    std::vector<std::pair<Kind, bool>> sequence;
    for (const auto& call : port.calls) {
        if (call.kind != Kind::LibraryCheck) {
            sequence.emplace_back(call.kind, call.probe);
        }
    }
    const std::vector<std::pair<Kind, bool>> expected = {
        {Kind::FindFirst, true},
        {Kind::FindFirst, false},
        {Kind::FindNext, true},
        {Kind::FindNext, false},
        {Kind::FindNext, true},
        // At the end the probe reports no size, so the fetch goes without a buffer.
        {Kind::FindNext, true},
        {Kind::FindClose, false}};
    EXPECT_EQ(sequence, expected);
    EXPECT_EQ(port.lastError(), CacheError::Success);
    EXPECT_EQ(port.openWalks(), 0U);
}

TEST_F(IECacheTest, CancelAtTheFirstEntryStopsTheWalk) {
    FakeUrlCache port({testing::contentEntry("http://a/1.swf", "/c/1.swf"),
                       testing::contentEntry("http://a/2.swf", "/c/2.swf")});
    TIECache cache(port, utc);
    int events = 0;
    cache.SetOnEntry([&events](TIECache&, bool& cancel) {
        ++events;
        cancel = true;
    });
    cache.Enumerate(0);
    EXPECT_EQ(events, 1);
    EXPECT_EQ(port.count(Kind::FindNext), 0U);
    EXPECT_EQ(port.count(Kind::FindClose), 1U);
    EXPECT_EQ(port.openWalks(), 0U);
}

TEST_F(IECacheTest, WalkWithoutHandlerFetchesEverything) {
    FakeUrlCache port({testing::contentEntry("http://a/1", "/c/1"),
                       testing::contentEntry("http://a/2", "/c/2"),
                       testing::contentEntry("http://a/3", "/c/3")});
    TIECache cache(port, utc);
    cache.Enumerate(0);
    // Three fetches succeed; the fourth ends the walk.
    EXPECT_EQ(port.count(Kind::FindNext), 6U);
    EXPECT_EQ(cache.CurrentEntry().SourceUrlName, "http://a/3");
}

TEST_F(IECacheTest, FailedFetchEndsTheWalkQuietlyAndKeepsTheLastEntry) {
    FakeUrlCache port({testing::contentEntry("http://a/1", "/c/1"),
                       testing::contentEntry("http://a/2", "/c/2"),
                       testing::contentEntry("http://a/3", "/c/3")});
    port.failFetchAt = 1; // the entry changed between probe and fetch
    TIECache cache(port, utc);
    EXPECT_EQ(walkUrls(cache), std::vector<std::string>{"http://a/1"});
    EXPECT_EQ(cache.CurrentEntry().SourceUrlName, "http://a/1");
    EXPECT_EQ(port.count(Kind::FindClose), 1U);
    EXPECT_EQ(port.openWalks(), 0U);
}

TEST_F(IECacheTest, NoCacheCallWhenTheLibraryIsMissing) {
    FakeUrlCache port({testing::contentEntry("http://a/1", "/c/1")});
    port.available = false;
    TIECache cache(port, utc);
    EXPECT_FALSE(cache.LibraryFound());
    int events = 0;
    cache.SetOnEntry([&events](TIECache&, bool&) { ++events; });
    cache.Enumerate(0);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(port.count(Kind::FindFirst), 0U);
    EXPECT_EQ(port.count(Kind::FindNext), 0U);
    EXPECT_EQ(port.count(Kind::FindClose), 0U);
    // A false answer is asked again; a true one stands.
    const std::size_t checks = port.count(Kind::LibraryCheck);
    EXPECT_GE(checks, 2U);
    port.available = true;
    EXPECT_TRUE(cache.LibraryFound());
    port.available = false;
    EXPECT_TRUE(cache.LibraryFound());
    EXPECT_EQ(port.count(Kind::LibraryCheck), checks + 1);
}

TEST_F(IECacheTest, RecordConvertsIntoTheEntry) {
    CacheEntrySource source;
    source.SourceUrlName = "http://example.com/big.swf";
    source.LocalFileName = std::nullopt;
    source.CacheEntryType = CacheEntryBits::Normal | CacheEntryBits::Sticky;
    source.UseCount = 3;
    source.HitRate = 7;
    source.Size = 5ULL << 30U; // 5 GiB
    source.LastModifiedTime = fileTimeFromUnixSeconds(0);
    source.ExpireTime = 0x8000000000000000ULL;
    source.HeaderInfo = std::nullopt;
    source.FileExtension = "swf";
    source.ExemptDelta = 42;
    FakeUrlCache port({source});
    TIECache cache(port, utc);
    cache.Enumerate(0);
    const TEntryInfo& entry = cache.CurrentEntry();
    EXPECT_EQ(entry.SourceUrlName, source.SourceUrlName);
    EXPECT_EQ(entry.LocalFileName, "");
    EXPECT_EQ(entry.HeaderInfo, "");
    EXPECT_EQ(entry.FileExtension, "swf");
    EXPECT_EQ(entry.CacheEntryType, 5U);
    EXPECT_EQ(entry.UseCount, 3U);
    EXPECT_EQ(entry.HitRate, 7U);
    EXPECT_EQ(entry.Size, 1U << 30U);
    EXPECT_DOUBLE_EQ(entry.LastModifiedTime, 25569.0); // 1970-01-01
    EXPECT_EQ(entry.ExpireTime, 0.0);
    EXPECT_EQ(entry.ExemptDelta, 42U);
}

TEST_F(IECacheTest, HeadersStopAtTheirFirstZeroByte) {
    CacheEntrySource source = testing::contentEntry("http://a/x.swf", "/c/x.swf");
    source.HeaderInfo = std::string("HTTP/1.1 200 OK\r\n\0hidden", 24);
    FakeUrlCache port({source});
    TIECache cache(port, utc);
    cache.Enumerate(0);
    EXPECT_EQ(cache.CurrentEntry().HeaderInfo, "HTTP/1.1 200 OK\r\n");
}

} // namespace
} // namespace sarnika
