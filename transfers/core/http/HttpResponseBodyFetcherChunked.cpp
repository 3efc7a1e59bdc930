#include "core/http/HttpResponseBodyFetcherChunked.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace fv_transfers {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Hex digits only, no extension, within int64.
bool parseChunkSize(const char* text, std::size_t length, int64_t& size)
{
    if (length == 0)
        return false;
    uint64_t value = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const int digit = hexValue(text[i]);
        if (digit < 0 || value > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) >> 4))
            return false;
        value = (value << 4) | static_cast<uint64_t>(digit);
    }
    size = static_cast<int64_t>(value);
    return true;
}

} // namespace

CHttpResponseBodyFetcherChunked::CHttpResponseBodyFetcherChunked(CCurlConnection* connection,
                                                                 const std::vector<char>* extraBytes)
    : CHttpResponseBodyFetcherBase(connection, extraBytes, Chunked)
{
}

dt_error CHttpResponseBodyFetcherChunked::getContentLength(int64_t& length)
{
    switch (m_state) {
    case ChunkStart:
    case ChunkDataDone: return readChunkHeader(length);
    case ChunkSizeRead:
    case ChunkData: length = m_chunkSize; return dt_success;
    case LastChunk: length = 0; return dt_success;
    }
    return dt_invalid_chunked_body;
}

dt_error CHttpResponseBodyFetcherChunked::readChunkHeader(int64_t& size)
{
    char line[kMaxSizeLine];
    std::size_t length = 0;
    for (;;) {
        if (length == kMaxSizeLine) {
            return fail(dt_invalid_chunked_body,
                        "chunk size line longer than " + std::to_string(kMaxSizeLine) + " bytes");
        }
        const dt_error result = readRawExact(line + length, 1);
        if (result != dt_success)
            return result;
        ++length;
        if (line[length - 1] == '\n')
            break;
    }
    if (length < 3 || line[length - 2] != '\r' || !parseChunkSize(line, length - 2, size))
        return fail(dt_invalid_chunked_body, "invalid chunk size line");
    m_chunkSize = size;
    m_chunkBytesRead = 0;
    m_state = size == 0 ? LastChunk : ChunkSizeRead;
    return dt_success;
}

dt_error CHttpResponseBodyFetcherChunked::read(char* buffer, std::size_t size, std::size_t& received)
{
    received = 0;
    if (m_state == ChunkStart || m_state == ChunkDataDone) {
        int64_t length = 0;
        const dt_error result = getContentLength(length);
        if (result != dt_success)
            return result;
    }
    // The trailer after the last chunk is left unread: connections are not reused.
    if (m_state == LastChunk || size == 0)
        return dt_success;
    const auto left = static_cast<uint64_t>(m_chunkSize - m_chunkBytesRead);
    const std::size_t wanted = static_cast<std::size_t>(std::min<uint64_t>(size, left));
    dt_error result = readRaw(buffer, wanted, received);
    if (result != dt_success)
        return result;
    m_chunkBytesRead += static_cast<int64_t>(received);
    m_state = ChunkData;
    if (m_chunkBytesRead == m_chunkSize) {
        char lineEnd[2];
        result = readRawExact(lineEnd, sizeof lineEnd);
        if (result != dt_success)
            return result;
        if (lineEnd[0] != '\r' || lineEnd[1] != '\n')
            return fail(dt_invalid_chunked_body, "chunk data not followed by CR LF");
        m_state = ChunkDataDone;
    }
    return dt_success;
}

} // namespace fv_transfers
