#include "bridge/QueryHandlerNativeApp.h"

#include "bridge/BridgeSleepCounter.h"
#include "bridge/IWebAppLifeCycleCallback.h"
#include "shell/Clipboard.h"
#include "shell/FerrovanLogger.h"
#include "shell/LogText.h"
#include "shell/OsFileExplorer.h"

#include <memory>
#include <string>

namespace ferrovan {

namespace {

void logInformation(const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_INFORMATION, text);
}

void logError(const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_ERROR, text);
}

} // namespace

CQueryHandlerNativeApp::CQueryHandlerNativeApp()
{
    registerMethod("onAppReady", &CQueryHandlerNativeApp::onAppReady);
    registerMethod("onAppExit", &CQueryHandlerNativeApp::onAppExit);
    registerMethod("openURL", &CQueryHandlerNativeApp::openURL);
    registerMethod("copyToClipboard", &CQueryHandlerNativeApp::copyToClipboard);
    registerMethod("startPreventingSleep", &CQueryHandlerNativeApp::startPreventingSleep);
    registerMethod("stopPreventingSleep", &CQueryHandlerNativeApp::stopPreventingSleep);
}

CQueryHandlerNativeApp::~CQueryHandlerNativeApp()
{
    BridgeSleepCounter::getInstance().releaseAll();
}

std::string CQueryHandlerNativeApp::textMember(const Json::Value& parameters, const char* name,
                                               const std::string& function)
{
    return parameterObject(parameters, function).get(name, "").asString();
}

void CQueryHandlerNativeApp::setContext(const QueryHandlerContext& context)
{
    m_lifeCycle = context.lifeCycle;
}

Json::Value CQueryHandlerNativeApp::onAppReady(const Json::Value&)
{
    logInformation("QueryHandlerNativeApp: App ready");
    if (m_lifeCycle)
        m_lifeCycle->onStartup();
    return Json::Value();
}

Json::Value CQueryHandlerNativeApp::onAppExit(const Json::Value&)
{
    logInformation("QueryHandlerNativeApp: onAppExit called");
    if (m_lifeCycle)
        m_lifeCycle->onShutdown();
    return Json::Value();
}

Json::Value CQueryHandlerNativeApp::openURL(const Json::Value& parameters)
{
    static const std::string function = "ferrovan::CQueryHandlerNativeApp::openURL";
    const std::unique_ptr<IOsFileExplorer> explorer = createOsFileExplorer();
    if (!explorer)
        return Json::Value();
    const std::string url = textMember(parameters, "url", function);
    if (url.empty())
        logError(function + ": URL passed is empty or not specified!");
    // The explorer opens web pages only; whatever else a page names is refused there.
    else if (!explorer->open(url))
        logError(function + ": failed to open URL: " + urlForLog(url));
    return Json::Value();
}

Json::Value CQueryHandlerNativeApp::copyToClipboard(const Json::Value& parameters)
{
    const std::string value = textMember(parameters, "value", "ferrovan::CQueryHandlerNativeApp::copyToClipboard");
    if (const std::unique_ptr<IClipboard> clipboard = createClipboard())
        clipboard->copy(value);
    return Json::Value();
}

Json::Value CQueryHandlerNativeApp::startPreventingSleep(const Json::Value&)
{
    BridgeSleepCounter::getInstance().startPreventing();
    return Json::Value();
}

Json::Value CQueryHandlerNativeApp::stopPreventingSleep(const Json::Value&)
{
    BridgeSleepCounter::getInstance().stopPreventing();
    return Json::Value();
}

} // namespace ferrovan
