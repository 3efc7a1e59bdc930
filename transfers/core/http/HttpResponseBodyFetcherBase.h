#pragma once

#include "core/http/HttpResponseBodyFetcher.h"

#include <string>
#include <vector>

namespace fv_transfers {

class CCurlConnection;

// Serves the bytes that arrived with the head before reading the connection.
class CHttpResponseBodyFetcherBase : public IHttpResponseBodyFetcher {
public:
    CHttpResponseBodyFetcherBase(CCurlConnection* connection, const std::vector<char>* extraBytes, int encoding);

    dt_error getBodyInfo(int64_t& length, int& encoding) override;
    virtual dt_error getContentLength(int64_t& length) = 0;

protected:
    // Returns at least one byte, or the failure (dt_connection_closed at the peer's close).
    dt_error readRaw(char* buffer, std::size_t size, std::size_t& received);
    // Exactly `size` bytes, or the failure.
    dt_error readRawExact(char* buffer, std::size_t size);
    // A body the reader refuses: the cause goes to the connection's error text and the log.
    dt_error fail(dt_error code, const std::string& text);

    CCurlConnection* m_connection;
    const std::vector<char>* m_extraBytes;
    int m_encoding;
    std::size_t m_extraCount;
    std::size_t m_extraPos = 0;
};

} // namespace fv_transfers
