#pragma once

#include "core/base/FvTransfersExport.h"

#include <Poco/Mutex.h>
#include <Poco/URI.h>

#include <memory>
#include <string>

namespace fv_transfers {

// The proxy to use for one connection; the URI carries no user information.
struct FV_TRANSFERS_API ProxyConfig {
    Poco::URI proxyUri;
    std::string userName;
    std::string password;
};

// The library's process-wide settings, filled by the main program before it starts the
// library. Every getter returns a copy taken under the lock: the proxy prompt may set
// credentials while channels read them.
class FV_TRANSFERS_API CFvTransfersGlobalConfig {
public:
    static CFvTransfersGlobalConfig* getInstance();

    ~CFvTransfersGlobalConfig();
    CFvTransfersGlobalConfig(const CFvTransfersGlobalConfig&) = delete;
    CFvTransfersGlobalConfig& operator=(const CFvTransfersGlobalConfig&) = delete;

    std::wstring getAppFilesPath() const;
    void setAppFilesPath(const std::wstring& path); // an empty path clears it

    std::string getRestEndPointUrl() const;
    void setRestEndPointUrl(const std::string& url); // an empty value is ignored

    std::string getUserAgent() const;
    void setUserAgent(const std::string& userAgent); // an empty value is ignored

    void setProxyCredentials(const std::string& userName, const std::string& password);

    // The proxy for the REST endpoint; true when a proxy is to be used.
    bool getProxyConfig(ProxyConfig& config);
    // The proxy for the given URL (storage hosts and the help desk may be routed apart).
    bool getProxyConfig(ProxyConfig& config, const std::string& targetUrl);

    // Copies the OS version text when `size` leaves room for it and its terminating zero;
    // sets `size` to the text's length either way.
    bool getOsVersionString(char* buffer, int& size);

    static const std::string& getDbFileName();
    std::string getFirstLogFileName();

    // Trace (true) or information (false), the level the log starts at: the same as the program's log.
    void setVerboseLogging(bool verbose);

    // A PEM file of extra trusted certificates (a corporate proxy's or a test CA), used in
    // addition to the system store. Empty: the system store only.
    void setCaCertificatesFile(const std::string& path);
    std::string getCaCertificatesFile() const;

private:
    CFvTransfersGlobalConfig();
    struct ProxyFactory;

    std::unique_ptr<Poco::FastMutex> m_lock;
    std::wstring m_appFilesPath;
    std::string m_restEndPointUrl;
    std::string m_userAgent;
    std::string m_proxyUserName;
    std::string m_proxyPassword;
    std::unique_ptr<ProxyFactory> m_proxyFactory;
    std::string m_caCertificatesFile;
};

} // namespace fv_transfers
