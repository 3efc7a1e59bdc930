#pragma once

#include <Poco/Mutex.h>

#include <curl/curl.h>

#include <cstddef>
#include <list>
#include <map>
#include <mutex>
#include <memory>
#include <stdexcept>
#include <string>

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
// handles in use leaves no entry.
class CCurlHandleCache {
public:
    static CCurlHandleCache& getInstance();

    CCurlHandleCache();
    ~CCurlHandleCache();
    CCurlHandleCache(const CCurlHandleCache&) = delete;
    CCurlHandleCache& operator=(const CCurlHandleCache&) = delete;

    // A new handle for the host; throws CCurlHandleCreateFailedException.
    std::unique_ptr<CCurlHandleLease> acquireHandle(const std::string& host);
    // Frees the handle, which closes its connection.
    void releaseHandle(CURL* handle);

    // The host's handles in use.
    std::size_t handleCount(const std::string& host) const;
    // The hosts with handles in use.
    std::size_t hostCount() const;

    // The DNS and TLS session caches shared by every handle.
    CURLSH* share() const { return m_share; }

private:
    static void lockShare(CURL*, curl_lock_data data, curl_lock_access, void* cache);
    static void unlockShare(CURL*, curl_lock_data data, void* cache);

    struct HandleCleanup {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    };
    using Handle = std::unique_ptr<CURL, HandleCleanup>;

    mutable Poco::FastMutex m_mutex;
    std::map<std::string, std::list<Handle>> m_hosts;
    CURLSH* m_share = nullptr;
    std::mutex m_shareMutexes[CURL_LOCK_DATA_LAST];
};

} // namespace fv_transfers
