#pragma once

#include "core/base/DtError.h"
#include "core/http/HttpResponseBodyFetcher.h"

#include <Poco/Net/HTTPResponse.h>

#include <memory>
#include <vector>

namespace fv_transfers {

class CCurlConnection;

// Reads the response head from a connection and owns the body reader made for it.
class CHttpResponseFetcher {
public:
    explicit CHttpResponseFetcher(CCurlConnection* connection);
    virtual ~CHttpResponseFetcher();
    CHttpResponseFetcher(const CHttpResponseFetcher&) = delete;
    CHttpResponseFetcher& operator=(const CHttpResponseFetcher&) = delete;

    // Reads the final head, skipping interim (1xx) ones up to a bound: a status below 200 after
    // it is the caller's error. The pointers stay valid while this fetcher lives.
    virtual dt_error fetch(Poco::Net::HTTPResponse*& response, IHttpResponseBodyFetcher*& body);

    // A reader for the body of `response` (chunked, or bounded by Content-Length or the close).
    static std::unique_ptr<IHttpResponseBodyFetcher> createBodyFetcher(const Poco::Net::HTTPResponse& response,
                                                                       const std::vector<char>& extraBytes,
                                                                       CCurlConnection* connection);

    // For callers that read the head themselves: makes and keeps the body reader.
    IHttpResponseBodyFetcher* makeBodyFetcher();

    CCurlConnection* connection;
    Poco::Net::HTTPResponse response;
    std::vector<char> extraBytes;
    std::unique_ptr<IHttpResponseBodyFetcher> bodyFetcher;
};

} // namespace fv_transfers
