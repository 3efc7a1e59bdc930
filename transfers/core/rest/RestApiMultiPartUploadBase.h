#pragma once

#include "core/rest/RestApiFileDetailsBaseWToken.h"
#include "core/rest/TransferRestRecords.h"

#include <string>

namespace fv_transfers {

// POST /api/v2/bucket/{bucketId}/file/{fileId}/upload/multipart/<action>, with the upload id
// (null before the service gave one).
class CRestApiMultiPartUploadBase : public CRestApiFileDetailsBaseWToken {
public:
    using CRestApiFileDetailsBaseWToken::CRestApiFileDetailsBaseWToken;

    virtual dt_error sendMultiPartRequest(const MultiPartRequestParams& params, Json::Value body,
                                          const std::string& action);
    virtual std::string buildPath(const MultiPartRequestParams& params, const std::string& action);
};

} // namespace fv_transfers
