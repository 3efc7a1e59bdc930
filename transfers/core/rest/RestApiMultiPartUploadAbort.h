#pragma once

#include "core/rest/RestApiMultiPartUploadBase.h"

namespace fv_transfers {

// Gives up a multipart upload; callers ignore the outcome.
class CRestApiMultiPartUploadAbort : public CRestApiMultiPartUploadBase {
public:
    using CRestApiMultiPartUploadBase::CRestApiMultiPartUploadBase;

    virtual dt_error execute(const MultiPartRequestParams& params);
    virtual dt_error getResult();
};

} // namespace fv_transfers
