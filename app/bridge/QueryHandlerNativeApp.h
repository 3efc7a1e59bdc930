#pragma once

#include "bridge/QueryHandlerBase.h"

#include <string>

namespace ferrovan {

class IWebAppLifeCycleCallback;

// The bridge "nativeAppBridge_IPC": the page tells the program that the web application is
// ready or wants to exit, and asks it to open a web page, to copy text and to keep the machine
// awake. Every method answers null. Used on the UI thread only.
class CQueryHandlerNativeApp : public CQueryHandlerBase {
public:
    CQueryHandlerNativeApp();
    // Gives back the page's holds on the machine's sleep: the registry drops the handler when
    // the browser closes.
    ~CQueryHandlerNativeApp() override;

    void setContext(const QueryHandlerContext& context) override;

private:
    // The member `name` as text: empty when absent, JsonCpp's own text for numbers and
    // booleans, and JsonCpp's error (the query's failure) for arrays and objects.
    static std::string textMember(const Json::Value& parameters, const char* name, const std::string& function);

    Json::Value onAppReady(const Json::Value& parameters);
    Json::Value onAppExit(const Json::Value& parameters);
    Json::Value openURL(const Json::Value& parameters);
    Json::Value copyToClipboard(const Json::Value& parameters);
    Json::Value startPreventingSleep(const Json::Value& parameters);
    Json::Value stopPreventingSleep(const Json::Value& parameters);

    IWebAppLifeCycleCallback* m_lifeCycle = nullptr; // not owned
};

} // namespace ferrovan
