#pragma once

#include "core/config/FvTransfersGlobalConfig.h"

#include <memory>
#include <string>

namespace fv_transfers {

// Which proxy, if any, carries a connection to a URL.
class IProxyLookup {
public:
    virtual ~IProxyLookup() = default;
    // True, with `config` filled, when the URL is to be reached through a proxy. May throw;
    // the connection then goes direct.
    virtual bool proxyFor(const std::string& url, ProxyConfig& config) const = 0;
};

// What a connection takes from its surroundings. Handed to each connection when it is made,
// so that one can be built with settings of its own instead of the process-wide ones.
struct ConnectionSettings {
    // A PEM file of certificates trusted in addition to the system store; empty: none.
    std::string caCertificatesFile;
    // Sent with every request that names no agent of its own.
    std::string userAgent;
    // Null: never a proxy.
    std::shared_ptr<const IProxyLookup> proxyLookup;
};

// The settings of the library's configuration. The proxy is asked of the configuration at
// each connect, so credentials entered later at the proxy prompt are used.
ConnectionSettings connectionSettingsFromConfig();

} // namespace fv_transfers
