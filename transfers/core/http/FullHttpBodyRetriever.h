#pragma once

#include "core/base/DtError.h"
#include "core/http/HttpResponseBodyFetcher.h"

#include <cstddef>
#include <string>

namespace fv_transfers {

// Collects a whole body in memory, for REST answers and manifests. Bodies above the cap are
// refused, so a bogus declared length never becomes a giant allocation.
class CFullHttpBodyRetriever {
public:
    static constexpr std::size_t kDefaultMaxBodySize = 16 * 1024 * 1024;

    // Throws CInvalidParamException for a null reader.
    explicit CFullHttpBodyRetriever(IHttpResponseBodyFetcher* pFetcher, std::size_t maxBodySize = kDefaultMaxBodySize);

    // Appends the body to `out`; on failure `out` is unchanged.
    dt_error retrieve(std::string& out);

private:
    IHttpResponseBodyFetcher* m_fetcher;
    std::size_t m_maxBodySize;
};

} // namespace fv_transfers
