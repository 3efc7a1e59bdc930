#include "core/http/HttpResponseBodyFetcherBase.h"

#include "core/http/CurlConnection.h"
#include "core/log/FvTransfersLogger.h"

#include <algorithm>
#include <cstring>

namespace fv_transfers {

CHttpResponseBodyFetcherBase::CHttpResponseBodyFetcherBase(CCurlConnection* connection,
                                                           const std::vector<char>* extraBytes, int encoding)
    : m_connection(connection), m_extraBytes(extraBytes), m_encoding(encoding),
      m_extraCount(extraBytes ? extraBytes->size() : 0)
{
}

dt_error CHttpResponseBodyFetcherBase::getBodyInfo(int64_t& length, int& encoding)
{
    const dt_error result = getContentLength(length);
    if (result != dt_success)
        return result;
    encoding = m_encoding;
    return dt_success;
}

dt_error CHttpResponseBodyFetcherBase::readRaw(char* buffer, std::size_t size, std::size_t& received)
{
    received = 0;
    if (size == 0)
        return dt_success;
    if (m_extraPos < m_extraCount) {
        received = std::min(size, m_extraCount - m_extraPos);
        std::memcpy(buffer, m_extraBytes->data() + m_extraPos, received);
        m_extraPos += received;
        return dt_success;
    }
    if (!m_connection)
        return dt_not_connected;
    // The connection reports idle slices as 0 bytes; a body read waits for data or a failure.
    for (;;) {
        const dt_error result = m_connection->receive(buffer, size, received);
        if (result != dt_success || received > 0)
            return result;
    }
}

dt_error CHttpResponseBodyFetcherBase::readRawExact(char* buffer, std::size_t size)
{
    std::size_t total = 0;
    while (total < size) {
        std::size_t received = 0;
        const dt_error result = readRaw(buffer + total, size - total, received);
        if (result != dt_success)
            return result;
        total += received;
    }
    return dt_success;
}

dt_error CHttpResponseBodyFetcherBase::fail(dt_error code, const std::string& text)
{
    if (m_connection)
        return m_connection->fail(code, text);
    FV_LOG_ERROR(text);
    return code;
}

} // namespace fv_transfers
