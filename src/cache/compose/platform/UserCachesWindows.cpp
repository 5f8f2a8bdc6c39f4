#include <filesystem>

#include "cache/compose/UserCaches.h"
#include "cache/wininet/UrlCacheChain.h"
#include "cache/wininet/WinInetCache.h"

namespace sarnika {
namespace {

class WinInetFirst final : public UserCaches {
public:
    WinInetFirst(sources::BrowserCacheLayer::Options options, SystemCache systemCache)
        : m_layer(std::move(options)), m_readsWinInet(systemCache == SystemCache::Read),
          m_chain(chained()) {}

    UrlCachePort& port() override { return m_chain; }
    sources::BrowserCacheLayer& layer() override { return m_layer; }
    std::vector<std::string> systemCaches() const override {
        if (!m_readsWinInet) {
            return {};
        }
        return {"WinINet (Internet Explorer)"};
    }
    std::optional<sources::SourceDescription>
    sourceOf(const std::string& localFile) const override {
        const sources::SourceLocation* source = m_layer.sourceOfLocalFile(localFile);
        if (source == nullptr) {
            // Not from the other browsers' caches: from WinINet's.
            return sources::SourceDescription{
                "WinINet", m_layer.options().userName,
                std::filesystem::path(localFile).parent_path().string(),
                m_layer.options().userName};
        }
        return sources::describeSource(*source);
    }

private:
    std::vector<UrlCachePort*> chained() {
        std::vector<UrlCachePort*> caches;
        if (m_readsWinInet) {
            caches.push_back(&m_winInet);
        }
        caches.push_back(&m_layer);
        return caches;
    }

    sources::BrowserCacheLayer m_layer;
    wininet::WinInetCache m_winInet;
    bool m_readsWinInet;
    wininet::UrlCacheChain m_chain;
};

} // namespace

std::unique_ptr<UserCaches> openUserCaches(sources::BrowserCacheLayer::Options layerOptions,
                                           SystemCache systemCache) {
    return std::make_unique<WinInetFirst>(std::move(layerOptions), systemCache);
}

} // namespace sarnika
