#include "core/http/CurlHandleCache.h"

#include "core/http/CurlGlobal.h"
#include "core/log/FvTransfersLogger.h"

#include <algorithm>

namespace fv_transfers {

CCurlHandleCreateFailedException::CCurlHandleCreateFailedException()
    : std::runtime_error("Failed to create CURL handle")
{
}

CCurlHandleLease::CCurlHandleLease(CURL* handle, CCurlHandleCache* cache) : m_handle(handle), m_cache(cache) {}

CCurlHandleLease::~CCurlHandleLease()
{
    if (m_cache && m_handle)
        m_cache->releaseHandle(m_handle);
}

CCurlHandleCache& CCurlHandleCache::getInstance()
{
    // Function-local statics are created once even with concurrent first calls; libcurl's
    // global state comes first so that it outlives every handle.
    static bool curlReady = false;
    static const bool initialised = initializeCurlGlobal(curlReady);
    (void)initialised;
    static CCurlHandleCache instance;
    return instance;
}

CCurlHandleCache::CCurlHandleCache() : m_share(curl_share_init())
{
    if (!m_share)
        return;
    curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &CCurlHandleCache::lockShare);
    curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &CCurlHandleCache::unlockShare);
    curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

CCurlHandleCache::~CCurlHandleCache()
{
    m_hosts.clear(); // every handle lets go of the share before it is freed
    if (m_share)
        curl_share_cleanup(m_share);
}

void CCurlHandleCache::lockShare(CURL*, curl_lock_data data, curl_lock_access, void* cache)
{
    static_cast<CCurlHandleCache*>(cache)->m_shareMutexes[data].lock();
}

void CCurlHandleCache::unlockShare(CURL*, curl_lock_data data, void* cache)
{
    static_cast<CCurlHandleCache*>(cache)->m_shareMutexes[data].unlock();
}

std::unique_ptr<CCurlHandleLease> CCurlHandleCache::acquireHandle(const std::string& host)
{
    Poco::FastMutex::ScopedLock lock(m_mutex);
    auto& entries = m_hosts[host];
    Handle handle(curl_easy_init());
    if (!handle) {
        if (entries.empty())
            m_hosts.erase(host);
        throw CCurlHandleCreateFailedException();
    }
    CURL* raw = handle.get();
    entries.push_back(std::move(handle));
    return std::make_unique<CCurlHandleLease>(raw, this);
}

void CCurlHandleCache::releaseHandle(CURL* handle)
{
    Handle doomed; // cleaned up once the lock is let go
    Poco::FastMutex::ScopedLock lock(m_mutex);
    for (auto host = m_hosts.begin(); host != m_hosts.end(); ++host) {
        auto& entries = host->second;
        auto it = std::find_if(entries.begin(), entries.end(),
                               [handle](const Handle& entry) { return entry.get() == handle; });
        if (it == entries.end())
            continue;
        doomed = std::move(*it);
        entries.erase(it);
        if (entries.empty())
            m_hosts.erase(host);
        return;
    }
}

std::size_t CCurlHandleCache::handleCount(const std::string& host) const
{
    Poco::FastMutex::ScopedLock lock(m_mutex);
    const auto it = m_hosts.find(host);
    return it == m_hosts.end() ? 0 : it->second.size();
}

std::size_t CCurlHandleCache::hostCount() const
{
    Poco::FastMutex::ScopedLock lock(m_mutex);
    return m_hosts.size();
}

} // namespace fv_transfers
