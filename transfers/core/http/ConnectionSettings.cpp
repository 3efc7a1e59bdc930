#include "core/http/ConnectionSettings.h"

namespace fv_transfers {

namespace {

class CConfiguredProxyLookup : public IProxyLookup {
public:
    bool proxyFor(const std::string& url, ProxyConfig& config) const override
    {
        return CFvTransfersGlobalConfig::getInstance()->getProxyConfig(config, url);
    }
};

} // namespace

ConnectionSettings connectionSettingsFromConfig()
{
    const CFvTransfersGlobalConfig* config = CFvTransfersGlobalConfig::getInstance();
    ConnectionSettings settings;
    settings.caCertificatesFile = config->getCaCertificatesFile();
    settings.userAgent = config->getUserAgent();
    settings.proxyLookup = std::make_shared<CConfiguredProxyLookup>();
    return settings;
}

} // namespace fv_transfers
