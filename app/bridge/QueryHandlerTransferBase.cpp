#include "bridge/QueryHandlerTransferBase.h"

#include "bridge/BridgeLog.h"
#include "bridge/TransferJson.h"
#include "browser/host/CefFrame.h"

#include <Poco/Exception.h>
#include <json/writer.h>

namespace ferrovan {

namespace {

// The page has always received FastWriter's compact text; JsonCpp 1.9 merely marks the writer
// deprecated.
std::string compactText(const Json::Value& json)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    std::string text = Json::FastWriter().write(json);
#pragma GCC diagnostic pop
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

} // namespace

CQueryHandlerTransferManagerBase::CQueryHandlerTransferManagerBase()
    : m_self(this, [](CQueryHandlerTransferManagerBase*) {})
{
}

CQueryHandlerTransferManagerBase::~CQueryHandlerTransferManagerBase() = default;

Poco::Any CQueryHandlerTransferManagerBase::getInterface(int id)
{
    if (id == kAppLifecycleEventsHandlerInterface)
        return static_cast<IAppLifecycleEventsHandler*>(this);
    if (id == kTransferProgressReporterInterface)
        return static_cast<ITransferProgressReporter*>(this);
    return CQueryHandlerBase::getInterface(id);
}

void CQueryHandlerTransferManagerBase::setBrowserAndManager(fvcef::CefRefPtr<fvcef::CefBrowser> browser,
                                                            fv_transfers::CTransferManagerBase* manager)
{
    m_browser = std::move(browser);
    m_manager = manager;
}

void CQueryHandlerTransferManagerBase::onAppStartup()
{
    if (m_started)
        return;
    if (!m_manager)
        throw Poco::NullPointerException("transfer manager");
    subscribeToEvents(true);
    m_subscribed = true;
    m_started = true;
    m_manager->startup();
}

void CQueryHandlerTransferManagerBase::onAppShutdown()
{
    if (m_manager)
        m_manager->shutdown();
    stopEvents();
    m_started = false;
}

void CQueryHandlerTransferManagerBase::stopEvents()
{
    if (!m_subscribed)
        return;
    subscribeToEvents(false);
    m_subscribed = false;
}

void CQueryHandlerTransferManagerBase::setProgressCallback(IProgressCallback* callback)
{
    m_progressCallback = callback;
}

bool CQueryHandlerTransferManagerBase::sendToWebApp(const std::string& prefix, const Json::Value& json)
{
    const fvcef::CefRefPtr<fvcef::CefFrame> frame = m_browser ? m_browser->GetMainFrame() : nullptr;
    if (!frame)
        return false;
    frame->ExecuteJavaScript(prefix + compactText(json) + ");", frame->GetURL(), 0);
    return true;
}

int CQueryHandlerTransferManagerBase::loggedGroupId(const Json::Value& parameters, const std::string& function,
                                                    const std::string& logPrefix)
{
    const int groupId = groupIdFromParams(parameterObject(parameters, function), function);
    logBridgeInformation(logPrefix + std::to_string(groupId));
    return groupId;
}

void CQueryHandlerTransferManagerBase::reportGroupProgress(const fv_transfers::CTransferManagerBase::GroupState& state)
{
    if (m_progressCallback)
        m_progressCallback->onGroupProgress(state);
}

} // namespace ferrovan
