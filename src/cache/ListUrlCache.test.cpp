#include "cache/ListUrlCache.h"

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "support/FakeUrlCache.h"

namespace sarnika {
namespace {

CacheEntrySource entryOf(std::string url, std::uint32_t type) {
    CacheEntrySource entry = testing::contentEntry(std::move(url), "/c/f");
    entry.CacheEntryType = type;
    return entry;
}

std::vector<std::string> walk(ListUrlCache& cache, const char* pattern, std::uint32_t filter) {
    std::vector<std::string> urls;
    std::uint32_t size = 0;
    std::unique_ptr<unsigned char[]> buffer;
    auto fetch = [&](auto call) {
        size = 0;
        call(nullptr);
        buffer = std::make_unique<unsigned char[]>(size);
        return call(reinterpret_cast<CacheEntryRecord*>(buffer.get()));
    };
    CacheSearchHandle handle = fetch([&](CacheEntryRecord* record) {
        return cache.findFirstEntry(pattern, 0, filter, 0, record, &size);
    });
    bool ok = handle != nullptr;
    while (ok) {
        urls.emplace_back(reinterpret_cast<CacheEntryRecord*>(buffer.get())->lpszSourceUrlName);
        ok = fetch(
            [&](CacheEntryRecord* record) { return cache.findNextEntry(handle, record, &size); });
    }
    EXPECT_EQ(cache.lastError(), CacheError::NoMoreItems);
    cache.findClose(handle);
    return urls;
}

TEST(ListUrlCache, PatternsSelectGroupsAndFilterSelectsKinds) {
    ListUrlCache cache({entryOf("Cookie:user@example.com/", CacheEntryBits::Cookie),
                        entryOf("http://example.com/a.swf", CacheEntryBits::Normal),
                        entryOf("Visited: user@http://example.com/", CacheEntryBits::UrlHistory),
                        entryOf("http://example.com/b.swf", CacheEntryBits::Sticky)});
    const std::uint32_t all = 0x00330037;
    using V = std::vector<std::string>;
    EXPECT_EQ(walk(cache, "Cookie:", all), V{"Cookie:user@example.com/"});
    EXPECT_EQ(walk(cache, "visited:", all), V{"Visited: user@http://example.com/"});
    EXPECT_EQ(walk(cache, "", all), (V{"http://example.com/a.swf", "http://example.com/b.swf"}));
    EXPECT_EQ(walk(cache, nullptr, all).size(), 4U);
    EXPECT_EQ(walk(cache, "", CacheEntryBits::Normal), V{"http://example.com/a.swf"});
    EXPECT_EQ(walk(cache, nullptr, 0), V{});
    EXPECT_EQ(cache.openWalks(), 0U);
}

TEST(ListUrlCache, ProbeReportsTheSizeWithoutAdvancing) {
    CacheEntrySource first = testing::contentEntry("http://a/1", "/c/1");
    first.HeaderInfo = "HTTP/1.1 200 OK\r\n";
    ListUrlCache cache({first, testing::contentEntry("http://a/22", "/c/22")});
    std::uint32_t size = 0;
    EXPECT_EQ(cache.findFirstEntry("", 0, 1, 0, nullptr, &size), nullptr);
    EXPECT_EQ(cache.lastError(), CacheError::InsufficientBuffer);
    EXPECT_EQ(size, sizeof(CacheEntryRecord) + 11 + 5 + 18);
    EXPECT_EQ(size, recordSizeOf(first));

    // A buffer one byte short is refused too, and the size reported again.
    std::vector<unsigned char> small(size - 1);
    std::uint32_t smallSize = size - 1;
    EXPECT_EQ(cache.findFirstEntry("", 0, 1, 0, reinterpret_cast<CacheEntryRecord*>(small.data()),
                                   &smallSize),
              nullptr);
    EXPECT_EQ(smallSize, size);

    auto buffer = std::make_unique<unsigned char[]>(size);
    auto* record = reinterpret_cast<CacheEntryRecord*>(buffer.get());
    CacheSearchHandle handle = cache.findFirstEntry("", 0, 1, 0, record, &size);
    ASSERT_NE(handle, nullptr);
    EXPECT_STREQ(record->lpHeaderInfo, "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(record->dwHeaderInfoSize, 17U);
    EXPECT_EQ(record->lpszFileExtension, nullptr);

    // Probing the next entry twice still delivers the second entry next.
    for (int i = 0; i < 2; ++i) {
        size = 0;
        EXPECT_FALSE(cache.findNextEntry(handle, nullptr, &size));
        EXPECT_EQ(size, sizeof(CacheEntryRecord) + 12 + 6);
    }
    buffer = std::make_unique<unsigned char[]>(size);
    record = reinterpret_cast<CacheEntryRecord*>(buffer.get());
    ASSERT_TRUE(cache.findNextEntry(handle, record, &size));
    EXPECT_STREQ(record->lpszSourceUrlName, "http://a/22");
    EXPECT_TRUE(cache.findClose(handle));
    EXPECT_FALSE(cache.findNextEntry(handle, record, &size));
    EXPECT_EQ(cache.lastError(), CacheError::InvalidHandle);
}

TEST(ListUrlCache, ReplacingTheEntriesLeavesAnOpenWalkIntact) {
    ListUrlCache cache(
        {testing::contentEntry("http://a/1", "/c/1"), testing::contentEntry("http://a/2", "/c/2")});
    std::uint32_t size = 4096;
    std::vector<unsigned char> buffer(size);
    auto* record = reinterpret_cast<CacheEntryRecord*>(buffer.data());
    CacheSearchHandle handle = cache.findFirstEntry(nullptr, 0, 1, 0, record, &size);
    ASSERT_NE(handle, nullptr);
    cache.setEntries({});
    size = 4096;
    ASSERT_TRUE(cache.findNextEntry(handle, record, &size));
    EXPECT_STREQ(record->lpszSourceUrlName, "http://a/2");
    cache.findClose(handle);
}

} // namespace
} // namespace sarnika
