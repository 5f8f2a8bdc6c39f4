#include "cache/wininet/UrlCacheChain.h"

#include <algorithm>

namespace sarnika::wininet {

UrlCacheChain::UrlCacheChain(std::vector<UrlCachePort*> caches)
    : m_caches(std::move(caches)), m_available(m_caches.size(), false) {}

UrlCacheChain::~UrlCacheChain() {
    for (const auto& walk : m_walks) {
        if (walk->opened) {
            m_caches[walk->index]->findClose(walk->handle);
        }
    }
}

bool UrlCacheChain::libraryAvailable() {
    bool any = false;
    for (std::size_t i = 0; i < m_caches.size(); ++i) {
        m_available[i] = m_available[i] || m_caches[i]->libraryAvailable();
        any = any || m_available[i];
    }
    return any;
}

CacheSearchHandle UrlCacheChain::findFirstEntry(const char* pattern, std::uint32_t flags,
                                                std::uint32_t filter, std::int64_t groupId,
                                                CacheEntryRecord* entry, std::uint32_t* size) {
    // Asks again after a cache that was missing, and on the first walk of a chain whose check
    // the caller answered from an earlier one.
    static_cast<void>(libraryAvailable());
    auto walk = std::make_unique<Walk>();
    if (pattern != nullptr) {
        walk->pattern = pattern;
    }
    walk->flags = flags;
    walk->filter = filter;
    walk->groupId = groupId;
    if (!advance(*walk, entry, size)) {
        // A probe opens nothing: the fetch after it starts again from the first cache.
        if (walk->opened) {
            m_caches[walk->index]->findClose(walk->handle);
        }
        return nullptr;
    }
    m_walks.push_back(std::move(walk));
    return m_walks.back().get();
}

bool UrlCacheChain::findNextEntry(CacheSearchHandle handle, CacheEntryRecord* entry,
                                  std::uint32_t* size) {
    Walk* walk = walkOf(handle);
    if (walk == nullptr) {
        m_lastError = CacheError::InvalidHandle;
        return false;
    }
    return advance(*walk, entry, size);
}

bool UrlCacheChain::findClose(CacheSearchHandle handle) {
    const auto found = std::find_if(m_walks.begin(), m_walks.end(),
                                    [handle](const auto& walk) { return walk.get() == handle; });
    if (found == m_walks.end()) {
        m_lastError = handle == nullptr ? CacheError::Success : CacheError::InvalidHandle;
        return handle == nullptr;
    }
    if ((*found)->opened) {
        m_caches[(*found)->index]->findClose((*found)->handle);
    }
    m_walks.erase(found);
    m_lastError = CacheError::Success;
    return true;
}

UrlCachePort* UrlCacheChain::currentCache(CacheSearchHandle handle) const {
    const Walk* walk = walkOf(handle);
    return walk != nullptr && walk->index < m_caches.size() ? m_caches[walk->index] : nullptr;
}

bool UrlCacheChain::advance(Walk& walk, CacheEntryRecord* entry, std::uint32_t* size) {
    while (walk.index < m_caches.size()) {
        UrlCachePort& cache = *m_caches[walk.index];
        if (!m_available[walk.index]) {
            ++walk.index;
            continue;
        }
        if (!walk.opened) {
            const char* pattern = walk.pattern ? walk.pattern->c_str() : nullptr;
            walk.handle =
                cache.findFirstEntry(pattern, walk.flags, walk.filter, walk.groupId, entry, size);
            if (walk.handle != nullptr) {
                walk.opened = true;
                m_lastError = CacheError::Success;
                return true;
            }
        } else if (cache.findNextEntry(walk.handle, entry, size)) {
            m_lastError = CacheError::Success;
            return true;
        }
        const std::uint32_t error = cache.lastError();
        if (error == CacheError::InsufficientBuffer) {
            // The size of this cache's next entry: the caller asks again with a buffer for it.
            m_lastError = error;
            return false;
        }
        // The end of this cache's part, or a failure that ends it: on to the next cache. A walk
        // whose first fetch failed is closed too, with a null handle, as the protocol has it.
        cache.findClose(walk.opened ? walk.handle : nullptr);
        walk.handle = nullptr;
        walk.opened = false;
        ++walk.index;
    }
    m_lastError = CacheError::NoMoreItems;
    return false;
}

UrlCacheChain::Walk* UrlCacheChain::walkOf(CacheSearchHandle handle) const {
    const auto found = std::find_if(m_walks.begin(), m_walks.end(),
                                    [handle](const auto& walk) { return walk.get() == handle; });
    return found != m_walks.end() ? found->get() : nullptr;
}

} // namespace sarnika::wininet
