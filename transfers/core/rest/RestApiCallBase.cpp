#include "core/rest/RestApiCallBase.h"

#include "core/base/ExceptionText.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "core/config/SystemInfo.h"
#include "core/http/FullHttpBodyRetriever.h"
#include "core/http/HttpResponseFetcher.h"
#include "core/log/FvTransfersLogger.h"
#include "core/log/LogRedaction.h"
#include "core/rest/RestEncoding.h"
#include "core/rest/RestJson.h"

#include <Poco/Net/HTTPRequest.h>

#include <exception>
#include <utility>

namespace fv_transfers {

namespace {

std::string userAgent(const ConnectionSettings& settings)
{
    std::string agent = settings.userAgent;
    if (agent.empty()) {
        const CSystemInfo& info = CSystemInfo::getInstance();
        agent = "fv-transfers " + info.getModuleVersion() + " - " + info.getOsProductName();
    }
    return agent;
}

bool headersAreSafe(const RestHeaderList& headers)
{
    for (const auto& header : headers) {
        if (header.first.empty() || rest_encoding::hasControlCharacter(header.first) ||
            rest_encoding::hasControlCharacter(header.second))
            return false;
    }
    return true;
}

} // namespace

CRestApiCallBase::CRestApiCallBase()
{
    try {
        m_serverUrl = CFvTransfersGlobalConfig::getInstance()->getRestEndPointUrl();
        setTimeouts(kDefaultRestTimeouts);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("Unable to retieve global config instance: " << exceptionText(e));
    }
    FV_LOG_TRACE("Initializing REST request, server url: " << m_serverUrl);
}

CRestApiCallBase::CRestApiCallBase(const std::string& serverUrl) : m_serverUrl(serverUrl)
{
    FV_LOG_TRACE("Initializing REST request, server url: " << m_serverUrl);
}

CRestApiCallBase::CRestApiCallBase(const std::string& serverUrl, ConnectionSettings settings)
    : m_serverUrl(serverUrl), m_connection(std::move(settings))
{
    FV_LOG_TRACE("Initializing REST request, server url: " << m_serverUrl);
}

CRestApiCallBase::~CRestApiCallBase() = default;

void CRestApiCallBase::setTimeouts(const RestTimeouts& timeouts)
{
    m_connection.connectTimeoutMs = timeouts.connectMs;
    m_connection.sendTimeoutMs = timeouts.sendMs;
    m_connection.receiveTimeoutMs = timeouts.receiveMs;
}

RestTimeouts CRestApiCallBase::timeouts() const
{
    return {m_connection.connectTimeoutMs, m_connection.sendTimeoutMs, m_connection.receiveTimeoutMs};
}

bool CRestApiCallBase::acceptRequestValues(std::initializer_list<const std::string*> ids, const std::string& token,
                                           const char* caller)
{
    for (const std::string* id : ids) {
        if (!rest_encoding::isSafeId(*id)) {
            FV_LOG_ERROR(caller << ": refusing an id that is not a plain path segment: \""
                                << rest_encoding::encodeQueryValue(*id) << "\"");
            return false;
        }
    }
    if (rest_encoding::hasControlCharacter(token)) {
        FV_LOG_ERROR(caller << ": refusing a token with control characters");
        return false;
    }
    return true;
}

dt_error CRestApiCallBase::sendRequest(const std::string& path, const Json::Value& body, const RestHeaderList& headers,
                                       RestRequestType type)
{
    try {
        return send(path, body, headers, type);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CRestApiCallBase::sendRequest: Exception: " << exceptionText(e));
        m_connection.discard();
        return dt_general_error;
    }
}

dt_error CRestApiCallBase::send(const std::string& path, const Json::Value& body, const RestHeaderList& headers,
                                RestRequestType type)
{
    m_httpStatus = 0;
    if (m_serverUrl.empty()) {
        FV_LOG_ERROR("REST API request refused: no server URL configured");
        return dt_not_connected;
    }
    if (rest_encoding::hasControlCharacter(path) || !headersAreSafe(headers)) {
        FV_LOG_ERROR("REST API request refused: control characters in its path or headers");
        return dt_invalid_argument;
    }
    const std::string url = m_serverUrl + path;
    dt_error result = m_connection.connect(url, false);
    if (result != dt_success)
        return result;

    const std::string bodyText = body.isNull() ? std::string() : rest_json::write(body);
    const std::string& method =
        type == RestRequestType::Get ? Poco::Net::HTTPRequest::HTTP_GET : Poco::Net::HTTPRequest::HTTP_POST;
    // Queries and bodies carry bucket tokens: the path goes to the log without its query and
    // the body only at trace level, masked like every line.
    FV_LOG_INFO("Sending REST API request to " << method << " " << rest_encoding::withoutQuery(path));
    FV_LOG_TRACE("REST API request body: " << bodyText);

    Poco::Net::HTTPRequest request(method, path, Poco::Net::HTTPMessage::HTTP_1_1);
    if (!bodyText.empty()) {
        request.setContentLength64(static_cast<Poco::Int64>(bodyText.size()));
        FV_LOG_DEBUG("Setting Content-Length in REST request to " << bodyText.size());
    }
    const std::string agent = userAgent(m_connection.settings());
    request.set("User-Agent", agent);
    FV_LOG_DEBUG("Setting user-agent in REST request to " << agent);
    request.set("Content-Type", "application/json");
    for (const auto& header : headers) {
        request.set(header.first, header.second);
        FV_LOG_DEBUG("REST request." << header.first << ": "
                                     << (isSecretName(header.first) ? std::string("***") : header.second));
    }

    result = m_connection.sendRequest(request);
    if (result == dt_success && !bodyText.empty())
        result = m_connection.sendAll(bodyText.data(), bodyText.size());
    if (result != dt_success)
        m_connection.discard();
    return result;
}

dt_error CRestApiCallBase::receiveResponse(Json::Value& root, bool parseBodyOnError)
{
    try {
        const dt_error result = receive(root, parseBodyOnError);
        // An answer not read to its end must not be mistaken for the next one.
        if (m_httpStatus == 0)
            m_connection.discard();
        return result;
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CRestApiCallBase::receiveResponse: Exception: " << exceptionText(e));
        m_connection.discard();
        return dt_general_error;
    }
}

dt_error CRestApiCallBase::receive(Json::Value& root, bool parseBodyOnError)
{
    m_httpStatus = 0;
    CHttpResponseFetcher fetcher(&m_connection);
    Poco::Net::HTTPResponse* response = nullptr;
    IHttpResponseBodyFetcher* bodyFetcher = nullptr;
    const dt_error fetched = fetcher.fetch(response, bodyFetcher);
    if (fetched != dt_success)
        return fetched;
    const int status = static_cast<int>(response->getStatus());
    if (status < 200) {
        // Still no answer after the interim heads allowed, or a switch to another protocol.
        FV_LOG_ERROR("No final HTTP status in the REST API response: " << status);
        return dt_general_error;
    }
    if (!bodyFetcher) {
        FV_LOG_ERROR("No body reader for the REST API response");
        return dt_general_error;
    }
    std::string body;
    const dt_error result = CFullHttpBodyRetriever(bodyFetcher).retrieve(body);
    if (result != dt_success)
        return result;
    m_httpStatus = status;
    FV_LOG_INFO("Received REST API response, status " << status << ", " << body.size() << " body bytes");
    FV_LOG_TRACE("Received REST API response: " << body);

    if (status >= 400) {
        FV_LOG_ERROR("Unsuccessful HTTP status code received when calling REST API: " << status);
        if (!parseBodyOnError)
            return status < 500 ? dt_rest_client_error : dt_general_error;
    }
    const bool parsed = rest_json::parse(body, root);
    if (!parsed)
        FV_LOG_ERROR("Unable to parse REST response!");
    if (status >= 500)
        return dt_general_error;
    if (status >= 400)
        return dt_rest_client_error;
    return parsed ? dt_success : dt_general_error;
}

} // namespace fv_transfers
