#include "core/config/FvTransfersGlobalConfig.h"

#include "core/base/ServiceDefaults.h"
#include "core/base/StringConversion.h"
#include "core/config/ProxyEnvironment.h"
#include "core/config/SystemInfo.h"
#include "core/log/FvTransfersLogger.h"

#include <proxy.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

namespace fv_transfers {

namespace {

// A proxy URL from the environment may carry the proxy's password; it never reaches the log.
std::string withoutUserInfo(const std::string& url)
{
    const auto scheme = url.find("://");
    const auto from = scheme == std::string::npos ? 0 : scheme + 3;
    const auto at = url.rfind('@'); // a password may hold an unencoded "/"
    return at == std::string::npos || at < from ? url : url.substr(0, from) + url.substr(at + 1);
}

} // namespace

struct CFvTransfersGlobalConfig::ProxyFactory {
    ProxyFactory() : handle(px_proxy_factory_new()) {}
    ~ProxyFactory()
    {
        if (handle)
            px_proxy_factory_free(handle);
    }
    ProxyFactory(const ProxyFactory&) = delete;
    ProxyFactory& operator=(const ProxyFactory&) = delete;

    // The proxies libproxy names for the URL, in its order.
    std::vector<std::string> proxiesFor(const std::string& url) const
    {
        std::vector<std::string> result;
        if (!handle)
            return result;
        char** answer = px_proxy_factory_get_proxies(handle, url.c_str());
        if (!answer)
            return result;
        for (char** entry = answer; *entry; ++entry) {
            result.emplace_back(*entry);
            std::free(*entry);
        }
        std::free(answer);
        return result;
    }

    pxProxyFactory* handle;
};

CFvTransfersGlobalConfig* CFvTransfersGlobalConfig::getInstance()
{
    static std::unique_ptr<CFvTransfersGlobalConfig> instance(new CFvTransfersGlobalConfig());
    return instance.get();
}

CFvTransfersGlobalConfig::CFvTransfersGlobalConfig()
    : m_lock(std::make_unique<Poco::FastMutex>()), m_restEndPointUrl(kDefaultRestEndpointUrl),
      m_userAgent("fv-transfers " + CSystemInfo::getInstance().getModuleVersion() + " - " +
                  CSystemInfo::getInstance().getOsProductName())
{
}

CFvTransfersGlobalConfig::~CFvTransfersGlobalConfig() = default;

std::wstring CFvTransfersGlobalConfig::getAppFilesPath() const
{
    Poco::FastMutex::ScopedLock lock(*m_lock);
    return m_appFilesPath;
}

void CFvTransfersGlobalConfig::setAppFilesPath(const std::wstring& path)
{
    Poco::FastMutex::ScopedLock lock(*m_lock);
    m_appFilesPath = path;
    // Under the lock, so the logger's folder is always the last one set.
    setLogFolder(wideToUtf8(path));
}

std::string CFvTransfersGlobalConfig::getRestEndPointUrl() const
{
    Poco::FastMutex::ScopedLock lock(*m_lock);
    return m_restEndPointUrl;
}

void CFvTransfersGlobalConfig::setRestEndPointUrl(const std::string& url)
{
    if (url.empty())
        return;
    Poco::FastMutex::ScopedLock lock(*m_lock);
    m_restEndPointUrl = url;
}

std::string CFvTransfersGlobalConfig::getUserAgent() const
{
    Poco::FastMutex::ScopedLock lock(*m_lock);
    return m_userAgent;
}

void CFvTransfersGlobalConfig::setUserAgent(const std::string& userAgent)
{
    if (userAgent.empty())
        return;
    Poco::FastMutex::ScopedLock lock(*m_lock);
    m_userAgent = userAgent;
}

void CFvTransfersGlobalConfig::setProxyCredentials(const std::string& userName, const std::string& password)
{
    Poco::FastMutex::ScopedLock lock(*m_lock);
    m_proxyUserName = userName;
    m_proxyPassword = password;
}

bool CFvTransfersGlobalConfig::getProxyConfig(ProxyConfig& config)
{
    return getProxyConfig(config, getRestEndPointUrl());
}

bool CFvTransfersGlobalConfig::getProxyConfig(ProxyConfig& config, const std::string& targetUrl)
{
    std::vector<std::string> proxies;
    std::string lookupError;
    {
        // Lookups are serialised: one factory serves every channel thread.
        Poco::FastMutex::ScopedLock lock(*m_lock);
        if (!m_proxyFactory) {
            preparePxConfigOrder();
            m_proxyFactory = std::make_unique<ProxyFactory>();
        }
        if (config.userName.empty() && !m_proxyUserName.empty()) {
            config.userName = m_proxyUserName;
            config.password = m_proxyPassword;
        }
        try {
            proxies = m_proxyFactory->proxiesFor(Poco::URI(targetUrl).toString());
        } catch (const std::exception& e) {
            lookupError = e.what();
        }
    }
    // Logged once the lock is released: it serialises the lookups only.
    if (!lookupError.empty())
        FV_LOG_ERROR("CFvTransfersGlobalConfig::getProxyConfig: Exception: " << lookupError);
    if (proxies.empty())
        return false;
    const std::string& first = proxies.front();
    FV_LOG_INFO("Libproxy returned the following proxy url: " << withoutUserInfo(first));
    if (first == "direct://") {
        FV_LOG_INFO("libproxy returned string identifying direct connection (w/o a proxy)");
        return false;
    }
    try {
        Poco::URI proxyUri(first);
        const std::string userInfo = proxyUri.getUserInfo();
        proxyUri.setUserInfo("");
        config.proxyUri = proxyUri;
        if (!userInfo.empty()) {
            const auto colon = userInfo.find(':');
            config.userName = userInfo.substr(0, colon);
            if (colon != std::string::npos)
                config.password = userInfo.substr(colon + 1);
        }
        return true;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("CFvTransfersGlobalConfig::getProxyConfig: Exception: " << e.what());
        return false;
    }
}

bool CFvTransfersGlobalConfig::getOsVersionString(char* buffer, int& size)
{
    const std::string& text = CSystemInfo::getInstance().getOsVersionText();
    const int length = static_cast<int>(text.size());
    const bool fits = buffer != nullptr && size >= length + 1;
    if (fits)
        std::memcpy(buffer, text.c_str(), text.size() + 1);
    size = length;
    return fits;
}

const std::string& CFvTransfersGlobalConfig::getDbFileName()
{
    static const std::string name = "fv_transfers_v8.db";
    return name;
}

std::string CFvTransfersGlobalConfig::getFirstLogFileName()
{
    return "fv_transfers.log";
}

void CFvTransfersGlobalConfig::setVerboseLogging(bool verbose)
{
    if (!CFvTransfersLogger::getInstance())
        return;
    Poco::FastMutex::ScopedLock lock(CFvTransfersLogger::globalMutex());
    try {
        Poco::Logger::get(CFvTransfersLogger::kLoggerName)
            .setLevel(verbose ? Poco::Message::PRIO_TRACE : Poco::Message::PRIO_INFORMATION);
    } catch (const std::exception&) {
    }
}

void CFvTransfersGlobalConfig::setCaCertificatesFile(const std::string& path)
{
    Poco::FastMutex::ScopedLock lock(*m_lock);
    m_caCertificatesFile = path;
}

std::string CFvTransfersGlobalConfig::getCaCertificatesFile() const
{
    Poco::FastMutex::ScopedLock lock(*m_lock);
    return m_caCertificatesFile;
}

} // namespace fv_transfers
