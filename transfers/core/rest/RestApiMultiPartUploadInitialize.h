#pragma once

#include "core/rest/RestApiMultiPartUploadBase.h"

#include <set>

namespace fv_transfers {

// Opens a multipart upload. The answer must give an upload id and exactly one entry per
// requested part number, each with a URL; the parts come back ordered by number, so a part's
// bytes can never be sent under another part's number.
class CRestApiMultiPartUploadInitialize : public CRestApiMultiPartUploadBase {
public:
    using CRestApiMultiPartUploadBase::CRestApiMultiPartUploadBase;

    // dt_invalid_argument for a part number 0 or one requested twice.
    virtual dt_error execute(const MultiPartInitParams& params);
    virtual dt_error getResult(MultiPartInitResult& result);

private:
    dt_error readParts(const Json::Value& list, std::vector<PartUploadDetails>& parts) const;

    std::set<uint32_t> m_requestedParts;
};

} // namespace fv_transfers
