#pragma once

#include "core/http/HttpResponseBodyFetcherBase.h"

namespace fv_transfers {

// A body bounded by Content-Length, or, without one, by the peer's close.
class CHttpResponseBodyFetcherRawContent : public CHttpResponseBodyFetcherBase {
public:
    CHttpResponseBodyFetcherRawContent(CCurlConnection* connection, const std::vector<char>* extraBytes,
                                       int64_t contentLength);

    dt_error read(char* buffer, std::size_t size, std::size_t& received) override;
    dt_error getContentLength(int64_t& length) override;

private:
    int64_t m_contentLength; // -1: delimited by the close
    int64_t m_totalRead = 0;
    bool m_closed = false;
};

} // namespace fv_transfers
