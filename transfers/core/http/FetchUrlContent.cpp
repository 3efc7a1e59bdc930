#include "core/http/FetchUrlContent.h"

#include "core/http/CurlConnection.h"
#include "core/http/FullHttpBodyRetriever.h"
#include "core/http/HttpResponseFetcher.h"
#include "core/log/FvTransfersLogger.h"

#include <Poco/Net/HTTPRequest.h>

namespace fv_transfers {

namespace {

dt_error fetchOverConnection(CCurlConnection& connection, const std::string& url, std::string& content)
{
    dt_error result = connection.connect(url, false);
    if (result != dt_success)
        return result;
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, "/", Poco::Net::HTTPMessage::HTTP_1_1);
    result = connection.sendRequest(request);
    if (result != dt_success)
        return result;
    CHttpResponseFetcher fetcher(&connection);
    Poco::Net::HTTPResponse* response = nullptr;
    IHttpResponseBodyFetcher* body = nullptr;
    result = fetcher.fetch(response, body);
    if (result != dt_success)
        return result;
    const int status = static_cast<int>(response->getStatus());
    if (status < 200 || status >= 300) {
        FV_LOG_ERROR("fetchUrlContent: HTTP status " << status);
        return status >= 400 && status < 500 ? dt_rest_client_error : dt_general_error;
    }
    return CFullHttpBodyRetriever(body).retrieve(content);
}

} // namespace

dt_error fetchUrlContent(const std::string& url, std::string& content)
{
    CCurlConnection connection;
    const dt_error result = fetchOverConnection(connection, url, content);
    connection.disconnect();
    return result;
}

} // namespace fv_transfers
