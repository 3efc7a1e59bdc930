#pragma once

#include "core/rest/RestApiFileDetailsBase.h"
#include "core/rest/TransferRestRecords.h"

#include <string>

namespace fv_transfers {

// The upload-side calls carry the bucket token in the body, never in a header.
class CRestApiFileDetailsBaseWToken : public CRestApiFileDetailsBase {
public:
    using CRestApiFileDetailsBase::CRestApiFileDetailsBase;

    // Adds "token" to the body, then sendFileRequest.
    virtual dt_error sendFileRequestWithToken(const std::string& path, Json::Value body, const std::string& fileId,
                                              const std::string& bucketId, const std::string& token);

protected:
    // "/api/v2/bucket/<bucketId>/file/<fileId>"
    static std::string filePath(const std::string& fileId, const std::string& bucketId);
    // dt_success when the ids and token may go into a request.
    static dt_error checkFileCallParams(const FileCallParams& params, const char* caller);
};

} // namespace fv_transfers
