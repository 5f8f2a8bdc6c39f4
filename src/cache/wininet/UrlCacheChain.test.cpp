#include "cache/wininet/UrlCacheChain.h"

#include <gtest/gtest.h>

#include "cache/IECache.h"
#include "cache/ListUrlCache.h"

namespace sarnika::wininet {
namespace {

class MissingCache final : public UrlCachePort {
public:
    bool libraryAvailable() override { return false; }
    CacheSearchHandle findFirstEntry(const char*, std::uint32_t, std::uint32_t, std::int64_t,
                                     CacheEntryRecord*, std::uint32_t*) override {
        ++calls;
        return nullptr;
    }
    bool findNextEntry(CacheSearchHandle, CacheEntryRecord*, std::uint32_t*) override {
        ++calls;
        return false;
    }
    bool findClose(CacheSearchHandle) override {
        ++calls;
        return false;
    }
    std::uint32_t lastError() const override { return CacheError::NotImplemented; }
    int calls = 0;
};

CacheEntrySource content(const std::string& url) {
    CacheEntrySource entry;
    entry.SourceUrlName = url;
    entry.LocalFileName = "C:\\cache\\" + url.substr(url.rfind('/') + 1);
    return entry;
}

CacheEntrySource cookie(const std::string& url) {
    CacheEntrySource entry = content(url);
    entry.CacheEntryType = CacheEntryBits::Cookie;
    return entry;
}

std::vector<std::string> walk(UrlCachePort& cache, TSearchPattern pattern) {
    TIECache::ResetLibraryFlagForTesting();
    const UtcLocalTime utc;
    TIECache enumerator(cache, utc);
    enumerator.SetFilterOptions(TFilterOptions(TFilterOptions::kAll));
    enumerator.SetSearchPattern(pattern);
    std::vector<std::string> urls;
    enumerator.SetOnEntry(
        [&urls](TIECache& sender, bool&) { urls.push_back(sender.CurrentEntry().SourceUrlName); });
    enumerator.Enumerate(0);
    return urls;
}

TEST(UrlCacheChain, WalksEachCacheInTurnAndClosesTheirWalks) {
    ListUrlCache first(
        {content("http://a/1.swf"), cookie("Cookie:me@a/"), content("http://a/2.swf")});
    ListUrlCache empty;
    MissingCache missing;
    ListUrlCache last({content("http://c/3.swf")});
    UrlCacheChain chain({&first, &empty, &missing, &last});

    EXPECT_EQ(walk(chain, TSearchPattern::spUrl),
              (std::vector<std::string>{"http://a/1.swf", "http://a/2.swf", "http://c/3.swf"}));
    EXPECT_EQ(walk(chain, TSearchPattern::spCookies), std::vector<std::string>{"Cookie:me@a/"});
    EXPECT_EQ(walk(chain, TSearchPattern::spHistory), std::vector<std::string>{});
    EXPECT_EQ(first.openWalks() + empty.openWalks() + last.openWalks(), 0U);
    // A cache that is not there is never walked.
    EXPECT_EQ(missing.calls, 0);
}

TEST(UrlCacheChain, AvailableWhenAnyCacheIsAndEndsLikeOne) {
    MissingCache missing;
    UrlCacheChain nothing({&missing});
    EXPECT_FALSE(nothing.libraryAvailable());

    ListUrlCache empty;
    UrlCacheChain chain({&missing, &empty});
    EXPECT_TRUE(chain.libraryAvailable());
    std::uint32_t size = 0;
    EXPECT_EQ(chain.findFirstEntry("", 0, 1, 0, nullptr, &size), nullptr);
    EXPECT_EQ(chain.lastError(), CacheError::NoMoreItems);
    EXPECT_TRUE(chain.findClose(nullptr));
    EXPECT_FALSE(chain.findNextEntry(&size, nullptr, &size));
    EXPECT_EQ(chain.lastError(), CacheError::InvalidHandle);
}

TEST(UrlCacheChain, ProbesReportTheNextCachesEntryWithoutAdvancing) {
    ListUrlCache first({content("http://a/1.swf")});
    ListUrlCache second({content("http://b/a-much-longer-name-than-the-first.swf")});
    UrlCacheChain chain({&first, &second});
    ASSERT_TRUE(chain.libraryAvailable());

    std::uint32_t size = 0;
    static_cast<void>(chain.findFirstEntry("", 0, 1, 0, nullptr, &size));
    std::vector<unsigned char> buffer(size);
    auto* record = reinterpret_cast<CacheEntryRecord*>(buffer.data());
    CacheSearchHandle handle = chain.findFirstEntry("", 0, 1, 0, record, &size);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(chain.currentCache(handle), &first);

    // The first cache is at its end: the probe sizes the second cache's first entry, twice.
    size = 0;
    EXPECT_FALSE(chain.findNextEntry(handle, nullptr, &size));
    EXPECT_EQ(chain.lastError(), CacheError::InsufficientBuffer);
    const std::uint32_t probed = size;
    size = 0;
    EXPECT_FALSE(chain.findNextEntry(handle, nullptr, &size));
    EXPECT_EQ(size, probed);
    EXPECT_EQ(size, recordSizeOf(second.entries()[0]));

    buffer.assign(size, 0);
    record = reinterpret_cast<CacheEntryRecord*>(buffer.data());
    ASSERT_TRUE(chain.findNextEntry(handle, record, &size));
    EXPECT_STREQ(record->lpszSourceUrlName, "http://b/a-much-longer-name-than-the-first.swf");
    EXPECT_EQ(chain.currentCache(handle), &second);
    EXPECT_TRUE(chain.findClose(handle));
    EXPECT_EQ(first.openWalks() + second.openWalks(), 0U);
}

} // namespace
} // namespace sarnika::wininet
