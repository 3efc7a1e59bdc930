#include "core/rest/RestApiMultiPartUploadBase.h"

#include "core/rest/RestJson.h"

namespace fv_transfers {

dt_error CRestApiMultiPartUploadBase::sendMultiPartRequest(const MultiPartRequestParams& params, Json::Value body,
                                                           const std::string& action)
{
    const dt_error check = checkFileCallParams(params, "CRestApiMultiPartUploadBase::sendMultiPartRequest");
    if (check != dt_success)
        return check;
    body["uploadId"] = rest_json::stringOrNull(params.uploadId);
    return sendFileRequestWithToken(buildPath(params, action), std::move(body), params.fileId, params.bucketId,
                                    params.bucketToken);
}

std::string CRestApiMultiPartUploadBase::buildPath(const MultiPartRequestParams& params, const std::string& action)
{
    return filePath(params.fileId, params.bucketId) + "/upload/multipart/" + action;
}

} // namespace fv_transfers
