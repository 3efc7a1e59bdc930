#include "core/http/FullHttpBodyRetriever.h"

#include "core/base/FvTransfersException.h"
#include "core/log/FvTransfersLogger.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace fv_transfers {

CFullHttpBodyRetriever::CFullHttpBodyRetriever(IHttpResponseBodyFetcher* pFetcher, std::size_t maxBodySize)
    : m_fetcher(pFetcher), m_maxBodySize(maxBodySize)
{
    if (!pFetcher)
        throw CInvalidParamException("fv_transfers::CFullHttpBodyRetriever::CFullHttpBodyRetriever", "pFetcher");
}

dt_error CFullHttpBodyRetriever::retrieve(std::string& out)
{
    constexpr std::size_t kReadSize = 64 * 1024;
    std::string body;
    std::vector<char> buffer(kReadSize);
    for (;;) {
        int64_t length = 0;
        int encoding = 0;
        const dt_error info = m_fetcher->getBodyInfo(length, encoding);
        if (info != dt_success)
            return info;
        if (length == 0)
            break;
        if (length > 0 && static_cast<uint64_t>(length) > m_maxBodySize - body.size()) {
            FV_LOG_ERROR("CFullHttpBodyRetriever::retrieve: body of " << length << " bytes exceeds the limit of "
                                                                      << m_maxBodySize);
            return dt_general_error;
        }
        // One pass: the declared piece, or, without a length, everything up to the close.
        // The buffer grows with the bytes that really arrive.
        int64_t passLeft = length;
        bool ended = false;
        while (passLeft != 0) {
            const std::size_t wanted =
                passLeft > 0 ? static_cast<std::size_t>(std::min<int64_t>(passLeft, kReadSize)) : kReadSize;
            std::size_t received = 0;
            const dt_error result = m_fetcher->read(buffer.data(), wanted, received);
            if (result != dt_success)
                return result;
            if (received == 0) {
                ended = true;
                break;
            }
            if (received > m_maxBodySize - body.size()) {
                FV_LOG_ERROR("CFullHttpBodyRetriever::retrieve: body exceeds the limit of " << m_maxBodySize);
                return dt_general_error;
            }
            body.append(buffer.data(), received);
            if (passLeft > 0)
                passLeft -= static_cast<int64_t>(received);
        }
        if (ended || encoding != IHttpResponseBodyFetcher::Chunked)
            break;
    }
    FV_LOG_TRACE("Received body: " << body);
    out.append(body);
    return dt_success;
}

} // namespace fv_transfers
