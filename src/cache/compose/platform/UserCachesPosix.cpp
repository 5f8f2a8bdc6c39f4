#include "cache/compose/UserCaches.h"

namespace sarnika {
namespace {

class LayerOnly final : public UserCaches {
public:
    explicit LayerOnly(sources::BrowserCacheLayer::Options options) : m_layer(std::move(options)) {}

    UrlCachePort& port() override { return m_layer; }
    sources::BrowserCacheLayer& layer() override { return m_layer; }
    std::vector<std::string> systemCaches() const override { return {}; }
    std::optional<sources::SourceDescription>
    sourceOf(const std::string& localFile) const override {
        const sources::SourceLocation* source = m_layer.sourceOfLocalFile(localFile);
        if (source == nullptr) {
            return std::nullopt;
        }
        return sources::describeSource(*source);
    }

private:
    sources::BrowserCacheLayer m_layer;
};

} // namespace

std::unique_ptr<UserCaches> openUserCaches(sources::BrowserCacheLayer::Options layerOptions,
                                           SystemCache /*systemCache*/) {
    return std::make_unique<LayerOnly>(std::move(layerOptions));
}

} // namespace sarnika
