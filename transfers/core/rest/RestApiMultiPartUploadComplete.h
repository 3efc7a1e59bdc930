#pragma once

#include "core/rest/RestApiMultiPartUploadBase.h"

namespace fv_transfers {

// Ends a multipart upload whose parts were all stored.
class CRestApiMultiPartUploadComplete : public CRestApiMultiPartUploadBase {
public:
    using CRestApiMultiPartUploadBase::CRestApiMultiPartUploadBase;

    virtual dt_error execute(const MultiPartCompleteParams& params);
    virtual dt_error getResult();
};

} // namespace fv_transfers
