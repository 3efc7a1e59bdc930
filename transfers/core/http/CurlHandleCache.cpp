#include "core/http/CurlHandleCache.h"

#include "core/http/CurlGlobal.h"
#include "core/log/FvTransfersLogger.h"

#include <algorithm>
#include <mutex>
#include <utility>

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

// One curl share and the libcurl state it was made in, which it keeps up.
class CCurlHandleCache::CShare {
public:
    explicit CShare(std::shared_ptr<CCurlGlobal> curl) : m_curl(std::move(curl)), m_share(curl_share_init())
    {
        if (!m_share)
            return;
        curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, &CShare::lock);
        curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, &CShare::unlock);
        curl_share_setopt(m_share, CURLSHOPT_USERDATA, this);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    ~CShare()
    {
        if (m_share)
            curl_share_cleanup(m_share);
    }
    CShare(const CShare&) = delete;
    CShare& operator=(const CShare&) = delete;

    CURLSH* get() const { return m_share; }

private:
    static void lock(CURL*, curl_lock_data data, curl_lock_access, void* share)
    {
        static_cast<CShare*>(share)->m_mutexes[data].lock();
    }
    static void unlock(CURL*, curl_lock_data data, void* share)
    {
        static_cast<CShare*>(share)->m_mutexes[data].unlock();
    }

    std::shared_ptr<CCurlGlobal> m_curl; // declared first: ends after the share
    CURLSH* m_share;
    std::mutex m_mutexes[CURL_LOCK_DATA_LAST];
};

CCurlHandleCache& CCurlHandleCache::getInstance()
{
    static CCurlHandleCache instance;
    return instance;
}

// libcurl's slot is made first, so that it outlives this process-lifetime cache and its shares.
CCurlHandleCache::CCurlHandleCache()
{
    CCurlGlobal::current();
}

CCurlHandleCache::~CCurlHandleCache()
{
    m_hosts.clear(); // every handle lets go of its share before the share is freed
    m_retiredShares.clear();
    m_share.reset();
}

std::unique_ptr<CCurlHandleLease> CCurlHandleCache::acquireHandle(const std::string& host)
{
    Poco::FastMutex::ScopedLock lock(m_mutex);
    if (!m_share) {
        std::shared_ptr<CCurlGlobal> curl = CCurlGlobal::current();
        if (!curl) {
            FV_LOG_ERROR("CCurlHandleCache::acquireHandle: libcurl is not initialised");
            throw CCurlHandleCreateFailedException();
        }
        m_share = std::make_unique<CShare>(std::move(curl));
    }
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
    // Both are cleaned up once the lock is let go, the handle before the shares it may use.
    std::vector<std::unique_ptr<CShare>> retired;
    Handle doomed;
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
        if (m_hosts.empty())
            retired.swap(m_retiredShares);
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

CURLSH* CCurlHandleCache::share() const
{
    Poco::FastMutex::ScopedLock lock(m_mutex);
    return m_share ? m_share->get() : nullptr;
}

void CCurlHandleCache::releaseShare()
{
    std::unique_ptr<CShare> released; // freed once the lock is let go
    Poco::FastMutex::ScopedLock lock(m_mutex);
    if (m_hosts.empty())
        released = std::move(m_share);
    else if (m_share)
        m_retiredShares.push_back(std::move(m_share));
}

} // namespace fv_transfers
