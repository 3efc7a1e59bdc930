#pragma once

#include "bridge/IQueryHandler.h"

#include <json/value.h>

#include <functional>
#include <map>
#include <string>

namespace ferrovan {

// The base of every bridge handler: a request {"method": name, "parameters": value} runs the
// method of that name, and every query the handler takes gets exactly one answer, a reply or a
// failure with code -1. Used on the UI thread only.
class CQueryHandlerBase : public IQueryHandler {
public:
    using Method = std::function<Json::Value(const Json::Value& parameters)>;

    CQueryHandlerBase();
    CQueryHandlerBase(const CQueryHandlerBase&) = delete;
    CQueryHandlerBase& operator=(const CQueryHandlerBase&) = delete;

    bool OnQuery(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                 std::int64_t query_id, const fvcef::CefString& request, bool persistent,
                 fvcef::CefRefPtr<fvcef::CefMessageRouterBrowserSide::Callback> callback) override;
    // Nothing runs on after its query returned, so there is nothing to stop.
    void OnQueryCanceled(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                         std::int64_t query_id) override;
    void setContext(const QueryHandlerContext& context) override;
    Poco::Any getInterface(int id) override;

protected:
    // Enters or replaces `name`; for constructors.
    void registerMethod(const std::string& name, Method method);
    template <class Handler>
    void registerMethod(const std::string& name, Json::Value (Handler::*method)(const Json::Value&))
    {
        auto* self = static_cast<Handler*>(this);
        registerMethod(name, [self, method](const Json::Value& parameters) { return (self->*method)(parameters); });
    }

    // The parameters of a method that reads members: an object, or null when the request had
    // none (every member then reads as absent). Anything else fails the query.
    static const Json::Value& parameterObject(const Json::Value& parameters, const std::string& function);

private:
    Json::Value supportedMethods(const Json::Value& parameters);
    // Answers the query; false when the method is unknown (the router declines it).
    bool dispatch(const std::string& request, fvcef::CefMessageRouterBrowserSide::Callback& callback);

    std::map<std::string, Method> m_methods; // byte-wise name order
};

} // namespace ferrovan
