#include "core/CurlHandleCache.h"

#include "core/CurlGlobal.h"
#include "core/FvTransfersLogger.h"

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

void CCurlHandleLease::discard()
{
    if (m_cache && m_handle)
        m_cache->discardHandle(m_handle);
}

CCurlHandleCache& CCurlHandleCache::getInstance()
{
    // Function-local statics are created once even with concurrent first calls; libcurl's
    // global state comes first so that it outlives every pooled handle.
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
    for (auto& entry : entries) {
        if (!entry.inUse) {
            entry.inUse = true;
            FV_LOG_TRACE("Reusing curl handle: true");
            return std::make_unique<CCurlHandleLease>(entry.handle.get(), this);
        }
    }
    FV_LOG_TRACE("Reusing curl handle: false");
    std::unique_ptr<CURL, HandleCleanup> handle(curl_easy_init());
    if (!handle) {
        if (entries.empty())
            m_hosts.erase(host);
        throw CCurlHandleCreateFailedException();
    }
    CURL* raw = handle.get();
    entries.push_back(Entry{std::move(handle), true, false});
    return std::make_unique<CCurlHandleLease>(raw, this);
}

void CCurlHandleCache::releaseHandle(CURL* handle)
{
    std::unique_ptr<CURL, HandleCleanup> doomed;
    {
        Poco::FastMutex::ScopedLock lock(m_mutex);
        for (auto& host : m_hosts) {
            auto& entries = host.second;
            auto it = std::find_if(entries.begin(), entries.end(),
                                   [handle](const Entry& entry) { return entry.handle.get() == handle; });
            if (it == entries.end())
                continue;
            doomed = std::move(it->handle);
            if (!it->discard)
                it->handle.reset(curl_easy_init());
            if (it->handle)
                it->inUse = false;
            else
                entries.erase(it);
            return;
        }
    }
}

void CCurlHandleCache::discardHandle(CURL* handle)
{
    Poco::FastMutex::ScopedLock lock(m_mutex);
    for (auto& host : m_hosts) {
        for (auto& entry : host.second) {
            if (entry.handle.get() == handle) {
                entry.discard = true;
                return;
            }
        }
    }
}

std::size_t CCurlHandleCache::handleCount(const std::string& host) const
{
    Poco::FastMutex::ScopedLock lock(m_mutex);
    const auto it = m_hosts.find(host);
    return it == m_hosts.end() ? 0 : it->second.size();
}

std::size_t CCurlHandleCache::freeHandleCount(const std::string& host) const
{
    Poco::FastMutex::ScopedLock lock(m_mutex);
    const auto it = m_hosts.find(host);
    if (it == m_hosts.end())
        return 0;
    return static_cast<std::size_t>(
        std::count_if(it->second.begin(), it->second.end(), [](const Entry& entry) { return !entry.inUse; }));
}

} // namespace fv_transfers
