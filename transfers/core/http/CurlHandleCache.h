#pragma once

#include <Poco/Mutex.h>

#include <curl/curl.h>

#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace fv_transfers {

class CCurlHandleCache;

// curl_easy_init failed; what() is "Failed to create CURL handle".
class CCurlHandleCreateFailedException : public std::runtime_error {
public:
    CCurlHandleCreateFailedException();
};

// One easy handle, used by its holder alone; destroying the lease frees it.
class CCurlHandleLease {
public:
    CCurlHandleLease(CURL* handle, CCurlHandleCache* cache);
    ~CCurlHandleLease();
    CCurlHandleLease(const CCurlHandleLease&) = delete;
    CCurlHandleLease& operator=(const CCurlHandleLease&) = delete;

    CURL* handle() const { return m_handle; }

private:
    CURL* m_handle;
    CCurlHandleCache* m_cache;
};

// Process-wide register of the easy handles in use, per host name. What makes a later
// connection to a host cheaper (resolved names, TLS sessions) is kept in a share that every
// handle uses: libcurl 7.88 loses the memory of a connect-only connection when its handle
// connects again, so a released handle is freed rather than used twice, and a host without
// handles in use leaves no entry. The cache never starts libcurl: it uses the state the runtime
// holds, and each share keeps that state up until no handle can use the share any more.
class CCurlHandleCache {
public:
    // A process-lifetime object; what it holds ends with the leases and releaseShare.
    static CCurlHandleCache& getInstance();

    CCurlHandleCache();
    ~CCurlHandleCache();
    CCurlHandleCache(const CCurlHandleCache&) = delete;
    CCurlHandleCache& operator=(const CCurlHandleCache&) = delete;

    // A new handle for the host; throws CCurlHandleCreateFailedException, also when libcurl is
    // not running.
    std::unique_ptr<CCurlHandleLease> acquireHandle(const std::string& host);
    // Frees the handle, which closes its connection.
    void releaseHandle(CURL* handle);

    // The host's handles in use.
    std::size_t handleCount(const std::string& host) const;
    // The hosts with handles in use.
    std::size_t hostCount() const;

    // The DNS and TLS session caches shared by the handles; null before the first handle.
    CURLSH* share() const;
    // Lets go of the share and so of libcurl's state, once the handles in use are gone: the
    // runtime's end, after which the next handle gets a share of the next start.
    void releaseShare();

private:
    class CShare;

    struct HandleCleanup {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    };
    using Handle = std::unique_ptr<CURL, HandleCleanup>;

    mutable Poco::FastMutex m_mutex;
    std::map<std::string, std::list<Handle>> m_hosts;
    std::unique_ptr<CShare> m_share;
    // Shares let go of while handles were in use; any of them may be set on such a handle, so
    // they end with the last handle.
    std::vector<std::unique_ptr<CShare>> m_retiredShares;
};

} // namespace fv_transfers
