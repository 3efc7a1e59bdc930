#pragma once

#include "core/http/HttpResponseBodyFetcherBase.h"

namespace fv_transfers {

// Chunked transfer encoding. Chunk extensions and trailers are refused or left unread: the
// service never sends them, and connections are never reused after a response.
class CHttpResponseBodyFetcherChunked : public CHttpResponseBodyFetcherBase {
public:
    enum State { ChunkStart = 0, ChunkSizeRead = 1, ChunkData = 2, ChunkDataDone = 3, LastChunk = 4 };

    // A size line longer than this, CR LF included, is refused.
    static constexpr std::size_t kMaxSizeLine = 24;

    CHttpResponseBodyFetcherChunked(CCurlConnection* connection, const std::vector<char>* extraBytes);

    dt_error read(char* buffer, std::size_t size, std::size_t& received) override;
    dt_error getContentLength(int64_t& length) override;

    State state() const { return m_state; }

private:
    dt_error readChunkHeader(int64_t& size);

    int64_t m_chunkSize = 0;
    int64_t m_chunkBytesRead = 0;
    State m_state = ChunkStart;
};

} // namespace fv_transfers
