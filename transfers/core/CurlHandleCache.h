#pragma once

#include <Poco/Mutex.h>

#include <curl/curl.h>

#include <cstddef>
#include <list>
#include <map>
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

// Process-wide pool of easy handles per host name, so that the next connection to a host
// benefits from what libcurl keeps inside a handle (DNS and TLS session caches).
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

private:
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
};

} // namespace fv_transfers
