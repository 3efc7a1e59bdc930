#include "core/http/CurlGlobal.h"

#include "core/log/FvTransfersLogger.h"

#include <curl/curl.h>

#include <mutex>

namespace fv_transfers {

bool initializeCurlGlobal(bool& initialised)
{
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    if (initialised)
        return true;
    const CURLcode code = curl_global_init(CURL_GLOBAL_ALL);
    initialised = code == CURLE_OK;
    if (!initialised)
        FV_LOG_ERROR("Libcurl initialization failure, libcurl error code" << code);
    return initialised;
}

} // namespace fv_transfers
