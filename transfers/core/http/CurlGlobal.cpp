#include "core/http/CurlGlobal.h"

#include "core/log/FvTransfersLogger.h"

#include <curl/curl.h>

#include <mutex>

namespace fv_transfers {

namespace {

// Start and end run under one lock, so an end never overlaps the next start.
struct CurlGlobalSlot {
    std::mutex mutex;
    std::weak_ptr<CCurlGlobal> running;
};

CurlGlobalSlot& slot()
{
    static CurlGlobalSlot instance;
    return instance;
}

} // namespace

std::shared_ptr<CCurlGlobal> CCurlGlobal::acquire()
{
    CurlGlobalSlot& s = slot();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (std::shared_ptr<CCurlGlobal> running = s.running.lock())
        return running;
    const CURLcode code = curl_global_init(CURL_GLOBAL_ALL);
    if (code != CURLE_OK) {
        FV_LOG_ERROR("Libcurl initialization failure, libcurl error code" << code);
        return nullptr;
    }
    auto started = std::make_shared<CCurlGlobal>(Passkey());
    s.running = started;
    return started;
}

std::shared_ptr<CCurlGlobal> CCurlGlobal::current()
{
    CurlGlobalSlot& s = slot();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.running.lock();
}

CCurlGlobal::~CCurlGlobal()
{
    std::lock_guard<std::mutex> lock(slot().mutex);
    curl_global_cleanup();
}

} // namespace fv_transfers
