#include "core/http/HttpResponseFetcher.h"

#include "core/http/CurlConnection.h"
#include "core/http/HttpResponseBodyFetcherChunked.h"
#include "core/http/HttpResponseBodyFetcherRawContent.h"

namespace fv_transfers {

namespace {

// A service never needs more; a peer that keeps sending interim heads gets no more reads.
constexpr int kMaxResponseHeads = 8;

bool statusHasNoBody(int status)
{
    return status < 200 || status == Poco::Net::HTTPResponse::HTTP_NO_CONTENT ||
           status == Poco::Net::HTTPResponse::HTTP_NOT_MODIFIED;
}

} // namespace

CHttpResponseFetcher::CHttpResponseFetcher(CCurlConnection* connection) : connection(connection) {}

CHttpResponseFetcher::~CHttpResponseFetcher() = default;

dt_error CHttpResponseFetcher::fetch(Poco::Net::HTTPResponse*& responseOut, IHttpResponseBodyFetcher*& body)
{
    responseOut = nullptr;
    body = nullptr;
    if (!connection)
        return dt_not_connected;
    // An interim answer (100 Continue, 103 Early Hints) is not the answer to the request; 101
    // ends the exchange, so it is final.
    for (int heads = 1;; ++heads) {
        const dt_error result = connection->receiveResponse(response, extraBytes);
        if (result != dt_success)
            return result;
        const int status = static_cast<int>(response.getStatus());
        if (status >= 200 || status == Poco::Net::HTTPResponse::HTTP_SWITCHING_PROTOCOLS || heads >= kMaxResponseHeads)
            break;
    }
    responseOut = &response;
    body = makeBodyFetcher();
    return dt_success;
}

IHttpResponseBodyFetcher* CHttpResponseFetcher::makeBodyFetcher()
{
    bodyFetcher = createBodyFetcher(response, extraBytes, connection);
    return bodyFetcher.get();
}

std::unique_ptr<IHttpResponseBodyFetcher>
CHttpResponseFetcher::createBodyFetcher(const Poco::Net::HTTPResponse& response, const std::vector<char>& extraBytes,
                                        CCurlConnection* connection)
{
    if (response.getChunkedTransferEncoding())
        return std::make_unique<CHttpResponseBodyFetcherChunked>(connection, &extraBytes);
    int64_t length = -1;
    if (statusHasNoBody(static_cast<int>(response.getStatus()))) {
        length = 0;
    } else {
        try {
            length = response.getContentLength64();
        } catch (const std::exception&) {
            length = -1; // receiveResponse refuses such heads; kept for heads parsed elsewhere
        }
    }
    return std::make_unique<CHttpResponseBodyFetcherRawContent>(connection, &extraBytes, length);
}

} // namespace fv_transfers
