#include "TransfersRuntime.h"

#include "core/base/ExceptionText.h"
#include "core/config/ProxyEnvironment.h"
#include "core/http/CurlGlobal.h"
#include "core/http/CurlHandleCache.h"
#include "core/log/FvTransfersLogger.h"
#include "core/system/EventDispatcher.h"
#include "core/system/ServiceWindow.h"
#include "core/system/SleepNotifierHolder.h"
#include "db/DbHolder.h"
#include "framework/FailedGroupsRestarter.h"
#include "framework/FileProgressSender.h"

#include <exception>
#include <stdexcept>

namespace fv_transfers {

namespace {

// One part's end failing does not keep the parts started before it running.
template <typename End> void endPart(const char* part, End endIt)
{
    try {
        endIt();
    } catch (const std::exception& e) {
        FV_LOG_ERROR("CTransfersRuntime: ending " << part << " failed: " << exceptionText(e));
    } catch (...) {
        FV_LOG_ERROR("CTransfersRuntime: ending " << part << " failed: unknown exception");
    }
}

} // namespace

CTransfersRuntime::CTransfersRuntime()
{
    try {
        start();
    } catch (...) {
        end();
        throw;
    }
}

CTransfersRuntime::~CTransfersRuntime()
{
    end();
}

void CTransfersRuntime::start()
{
    // libproxy reads its order from the environment; setenv must come before any thread.
    preparePxConfigOrder();
    CFvTransfersLogger::getInstance();
    m_started = Part::log;
    m_crypto.initialize();
    m_started = Part::crypto;
    m_curl = CCurlGlobal::acquire();
    if (!m_curl)
        throw std::runtime_error("libcurl could not be initialised");
    m_started = Part::curl;
    if (!CServiceWindow::create())
        throw std::runtime_error("the service thread could not be started");
    m_started = Part::serviceThread;
    // A holder left from an earlier start is dropped; the next user opens the file afresh.
    CDbHolder::releaseInstance();
    m_started = Part::database;
    // The notifier is made by its first user.
    m_started = Part::sleepNotifier;
    // The restarter is made by the first group that fails.
    m_started = Part::restarter;
    // The progress sender is made by the first upload manager or group.
    m_started = Part::progressSender;
}

void CTransfersRuntime::end()
{
    if (m_started >= Part::progressSender)
        endPart("the file progress sender", [] { CFileProgressSender::destroyInstance(); });
    if (m_started >= Part::restarter)
        endPart("the group restarter", [] { CFailedGroupsRestarter::destroyInstance(); });
    if (m_started >= Part::sleepNotifier)
        endPart("the sleep notifier", [] { CSleepNotifierHolder::destroyInstance(); });
    if (m_started >= Part::database)
        endPart("the database holder", [] { CDbHolder::releaseInstance(); });
    if (m_started >= Part::serviceThread)
        endPart("the service thread", [] {
            CServiceWindow::destroy();
            CEventDispatcher::joinHandedOverThreads();
        });
    if (m_started >= Part::curl) {
        // libcurl ends here, or with the last handle a connection still holds.
        endPart("libcurl", [this] {
            CCurlHandleCache::getInstance().releaseShare();
            m_curl.reset();
        });
    }
    if (m_started >= Part::crypto)
        endPart("the crypto library", [this] { m_crypto.uninitialize(); });
    if (m_started >= Part::log)
        endPart("the log", [] { CFvTransfersLogger::destroyInstance(); });
    m_started = Part::none;
}

} // namespace fv_transfers
