#include "FvTransfersInitializer.h"

#include "core/http/CryptoInitializerOpenSsl.h"
#include "core/http/CurlGlobal.h"
#include "core/base/ExceptionText.h"
#include "core/log/FvTransfersLogger.h"
#include "core/config/ProxyEnvironment.h"
#include "core/system/ServiceWindow.h"
#include "core/system/SleepNotifierHolder.h"
#include "db/DbHolder.h"

#include <curl/curl.h>

#include <exception>
#include <mutex>

namespace fv_transfers {

namespace {

// libcurl is cleaned up at process exit, after the handle cache that was created later.
struct CurlGlobalState {
    std::mutex mutex;
    bool initialised = false;
    ~CurlGlobalState()
    {
        if (initialised)
            curl_global_cleanup();
    }
};

CurlGlobalState& curlState()
{
    static CurlGlobalState state;
    return state;
}

ICryptoInitializer& cryptoInitializer()
{
    static CCryptoInitializerOpenSsl initializer;
    static std::once_flag once;
    std::call_once(once, [] { initializer.initialize(); });
    return initializer;
}

} // namespace

bool CFvTransfersInitializer::initialize()
{
    try {
        // libproxy reads its order from the environment; setenv must come before any thread.
        preparePxConfigOrder();
        if (!CServiceWindow::create()) {
            FV_LOG_ERROR("CFvTransfersInitializer::initialize: the service thread could not be started");
            return false;
        }
        // A new holder is opened on first use; one still held by a manager keeps working.
        CDbHolder::releaseInstance();
        cryptoInitializer();
        CurlGlobalState& curl = curlState();
        std::lock_guard<std::mutex> lock(curl.mutex);
        return initializeCurlGlobal(curl.initialised);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception when executing method CFvTransfersInitializer::initialize: " << exceptionText(e));
        return false;
    } catch (...) {
        FV_LOG_ERROR("Exception when executing method CFvTransfersInitializer::initialize: unknown exception");
        return false;
    }
}

void CFvTransfersInitializer::unitialize()
{
    try {
        CDbHolder::releaseInstance();
        CSleepNotifierHolder::destroyInstance();
        CFvTransfersLogger::destroyInstance();
        CServiceWindow::destroy();
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Exception when executing method CFvTransfersInitializer::unitialize: " << exceptionText(e));
    } catch (...) {
        FV_LOG_ERROR("Exception when executing method CFvTransfersInitializer::unitialize: unknown exception");
    }
}

} // namespace fv_transfers
