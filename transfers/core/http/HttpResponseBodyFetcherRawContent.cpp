#include "core/http/HttpResponseBodyFetcherRawContent.h"

#include <algorithm>
#include <cstdint>

namespace fv_transfers {

CHttpResponseBodyFetcherRawContent::CHttpResponseBodyFetcherRawContent(CCurlConnection* connection,
                                                                       const std::vector<char>* extraBytes,
                                                                       int64_t contentLength)
    : CHttpResponseBodyFetcherBase(connection, extraBytes, Raw), m_contentLength(contentLength)
{
}

dt_error CHttpResponseBodyFetcherRawContent::getContentLength(int64_t& length)
{
    length = m_contentLength < 0 && m_closed ? 0 : m_contentLength;
    return dt_success;
}

dt_error CHttpResponseBodyFetcherRawContent::read(char* buffer, std::size_t size, std::size_t& received)
{
    received = 0;
    std::size_t wanted = size;
    if (m_contentLength >= 0)
        wanted =
            static_cast<std::size_t>(std::min<uint64_t>(size, static_cast<uint64_t>(m_contentLength - m_totalRead)));
    if (wanted == 0 || m_closed)
        return dt_success;
    const dt_error result = readRaw(buffer, wanted, received);
    if (result == dt_connection_closed && m_contentLength < 0) {
        // Without a length the peer's close is the end of the body.
        m_closed = true;
        return dt_success;
    }
    m_totalRead += static_cast<int64_t>(received);
    return result;
}

} // namespace fv_transfers
