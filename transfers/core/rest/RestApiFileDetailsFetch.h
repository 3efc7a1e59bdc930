#pragma once

#include "core/rest/RestApiFileDetailsBaseWToken.h"
#include "core/rest/TransferRestRecords.h"

#include <string>

namespace fv_transfers {

// POST /api/v2/bucket/{bucketId}/file/{fileId}/upload: where and how to PUT a single-part
// file. A client error that names its error type is dt_rest_client_error with
// errorTypeReceived set (and fileStatusException for the service's file-status refusal);
// a client error without a readable type is dt_general_error.
class CRestApiFileDetailsFetch : public CRestApiFileDetailsBaseWToken {
public:
    using CRestApiFileDetailsBaseWToken::CRestApiFileDetailsBaseWToken;

    virtual dt_error execute(const UploadDetailsRequestParams& params);
    virtual dt_error getResult(FileUploadDetails& result);
    virtual std::string buildPath(const std::string& fileId, const std::string& bucketId);

private:
    static dt_error readUploadDetails(const Json::Value& root, FileUploadDetails& result);
    static dt_error readErrorBody(const Json::Value& root, FileUploadDetails& result);
};

} // namespace fv_transfers
