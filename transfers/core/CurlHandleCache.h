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

// One pooled easy handle, used by its holder alone; destroying the lease gives it back.
class CCurlHandleLease {
public:
    CCurlHandleLease(CURL* handle, CCurlHandleCache* cache);
    ~CCurlHandleLease();
    CCurlHandleLease(const CCurlHandleLease&) = delete;
    CCurlHandleLease& operator=(const CCurlHandleLease&) = delete;

    CURL* handle() const { return m_handle; }
    // The handle is cleaned up instead of pooled when the lease ends.
    void discard();

private:
    CURL* m_handle;
    CCurlHandleCache* m_cache;
};

// Process-wide pool of easy handles per host name. What makes a later connection to a host
// cheaper (resolved names, TLS sessions) is kept in a share that every handle uses: libcurl
// 7.88 loses the memory of a connect-only connection when its handle connects again, so a
// released handle is replaced by a fresh one rather than used twice.
class CCurlHandleCache {
public:
    static CCurlHandleCache& getInstance();

    CCurlHandleCache();
    ~CCurlHandleCache();
    CCurlHandleCache(const CCurlHandleCache&) = delete;
    CCurlHandleCache& operator=(const CCurlHandleCache&) = delete;

    // A free handle of the host, or a new one; throws CCurlHandleCreateFailedException.
    std::unique_ptr<CCurlHandleLease> acquireHandle(const std::string& host);
    void releaseHandle(CURL* handle);
    void discardHandle(CURL* handle);

    std::size_t handleCount(const std::string& host) const;
    std::size_t freeHandleCount(const std::string& host) const;

    // The DNS and TLS session caches shared by every pooled handle.
    CURLSH* share() const { return m_share; }

private:
    static void lockShare(CURL*, curl_lock_data data, curl_lock_access, void* cache);
    static void unlockShare(CURL*, curl_lock_data data, void* cache);

    struct HandleCleanup {
        void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
    };
    struct Entry {
        std::unique_ptr<CURL, HandleCleanup> handle;
        bool inUse = true;
        bool discard = false;
    };

    mutable Poco::FastMutex m_mutex;
    std::map<std::string, std::list<Entry>> m_hosts;
    CURLSH* m_share = nullptr;
    std::mutex m_shareMutexes[CURL_LOCK_DATA_LAST];
};

} // namespace fv_transfers
