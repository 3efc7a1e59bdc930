#pragma once

#include "core/base/DtError.h"

#include <cstddef>
#include <cstdint>

namespace fv_transfers {

// Reads the body of one response.
class IHttpResponseBodyFetcher {
public:
    enum Encoding { Chunked = 1, Raw = 2 };

    // The length of the next piece of the body: the whole Content-Length, the current
    // chunk, -1 when the response gives no length, or 0 at the end.
    virtual dt_error getBodyInfo(int64_t& length, int& encoding) = 0;
    // Reads up to `size` body bytes; dt_success with 0 bytes at the end of the body.
    virtual dt_error read(char* buffer, std::size_t size, std::size_t& received) = 0;
    virtual ~IHttpResponseBodyFetcher() = default;
};

} // namespace fv_transfers
