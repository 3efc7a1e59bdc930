#include "bridge/QueryHandlerBase.h"

#include "bridge/BridgeRequestRefused.h"
#include "bridge/InvalidJsonBridgeParam.h"
#include "bridge/QueryHandlerRegistry.h"
#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"

#include <json/reader.h>
#include <json/writer.h>

#include <memory>

namespace ferrovan {

namespace {

constexpr const char* kOnQuery = "ferrovan::CQueryHandlerBase::OnQuery";
constexpr int kFailureCode = -1;
// Deep enough for any request the page makes, shallow enough that the parser's recursion and
// the value's destruction stay far from the stack's end.
constexpr int kNestingLimit = 256;

void logQueryLine(Poco::Message::Priority priority, const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), priority, std::string(kOnQuery) + ": " + text);
}

// The request's root, or false when it is not JSON or nests too deep.
bool parseRequest(const std::string& request, Json::Value& root)
{
    Json::CharReaderBuilder builder;
    builder.settings_["allowComments"] = true;
    builder.settings_["failIfExtra"] = true;
    builder.settings_["stackLimit"] = kNestingLimit;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    try {
        return reader->parse(request.data(), request.data() + request.size(), &root, &errors);
    } catch (const Json::Exception&) {
        // The nesting limit is reported by throwing.
        return false;
    }
}

// The page has always received FastWriter's text (compact, then a line feed); JsonCpp 1.9
// merely marks the writer deprecated.
std::string replyText(const Json::Value& result)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return Json::FastWriter().write(result);
#pragma GCC diagnostic pop
}

} // namespace

CQueryHandlerBase::CQueryHandlerBase()
{
    registerMethod("supportedMethods", &CQueryHandlerBase::supportedMethods);
}

bool CQueryHandlerBase::OnQuery(fvcef::CefRefPtr<fvcef::CefBrowser>, fvcef::CefRefPtr<fvcef::CefFrame>, std::int64_t,
                                const fvcef::CefString& request, bool,
                                fvcef::CefRefPtr<fvcef::CefMessageRouterBrowserSide::Callback> callback)
{
    if (!callback)
        return false;
    // A method may run a modal loop, in which the window can close and the registry let go of
    // this handler: it stays until its query is answered.
    const Poco::SharedPtr<CQueryHandlerBase> self = QueryHandlerRegistry::getInstance().findByHandler(this);
    try {
        return dispatch(request.ToString(), *callback);
    } catch (const CBridgeRequestRefused& e) {
        logQueryLine(Poco::Message::PRIO_ERROR, std::string("Query refused: ") + e.what());
        callback->Failure(kFailureCode, e.what());
    } catch (const std::exception& e) {
        const std::string text = exceptionText(e);
        logQueryLine(Poco::Message::PRIO_ERROR, "Exception when executing query: " + text);
        callback->Failure(kFailureCode, "Exception caught when executing query handler: " + text);
    } catch (...) {
        logQueryLine(Poco::Message::PRIO_ERROR, "Unknown exception caught when executing query handler");
        callback->Failure(kFailureCode, "Exception caught when executing query handler");
    }
    return true;
}

bool CQueryHandlerBase::dispatch(const std::string& request, fvcef::CefMessageRouterBrowserSide::Callback& callback)
{
    Json::Value root;
    if (!parseRequest(request, root)) {
        logQueryLine(Poco::Message::PRIO_ERROR, "Failed to parse JSON!");
        callback.Failure(kFailureCode, "Failed to parse JSON");
        return true;
    }
    const Json::Value* method = root.isObject() ? root.find("method", "method" + 6) : nullptr;
    if (!method || !method->isString()) {
        logQueryLine(Poco::Message::PRIO_ERROR, "Key 'method' not found in input json");
        callback.Failure(kFailureCode, "Key 'method' not found in input json!");
        return true;
    }
    const std::string name = method->asString();
    // The parameters may carry the bucket's secrets: the log names the method only.
    logQueryLine(Poco::Message::PRIO_INFORMATION, "Received query: method " + name);
    const auto entry = m_methods.find(name);
    if (entry == m_methods.end()) {
        logQueryLine(Poco::Message::PRIO_ERROR, "Handler for method " + name + " is not registered!");
        return false;
    }
    if (!entry->second) {
        logQueryLine(Poco::Message::PRIO_ERROR, "Handler for method " + name + " is NULL!");
        return false;
    }
    const Json::Value result = entry->second(root.get("parameters", Json::Value()));
    callback.Success(replyText(result));
    return true;
}

void CQueryHandlerBase::OnQueryCanceled(fvcef::CefRefPtr<fvcef::CefBrowser>, fvcef::CefRefPtr<fvcef::CefFrame>,
                                        std::int64_t)
{
}

void CQueryHandlerBase::setContext(const QueryHandlerContext&) {}

Poco::Any CQueryHandlerBase::getInterface(int)
{
    return Poco::Any();
}

void CQueryHandlerBase::registerMethod(const std::string& name, Method method)
{
    m_methods[name] = std::move(method);
}

const Json::Value& CQueryHandlerBase::parameterObject(const Json::Value& parameters, const std::string& function)
{
    if (!parameters.isObject() && !parameters.isNull())
        throw CInvalidJsonBridgeParam(function, "parameters");
    return parameters;
}

Json::Value CQueryHandlerBase::supportedMethods(const Json::Value&)
{
    Json::Value names(Json::arrayValue);
    for (const auto& entry : m_methods)
        names.append(entry.first);
    return names;
}

} // namespace ferrovan
