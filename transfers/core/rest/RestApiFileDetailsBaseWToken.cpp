#include "core/rest/RestApiFileDetailsBaseWToken.h"

namespace fv_transfers {

dt_error CRestApiFileDetailsBaseWToken::sendFileRequestWithToken(const std::string& path, Json::Value body,
                                                                 const std::string& fileId, const std::string& bucketId,
                                                                 const std::string& token)
{
    body["token"] = token;
    return sendFileRequest(path, std::move(body), fileId, bucketId);
}

std::string CRestApiFileDetailsBaseWToken::filePath(const std::string& fileId, const std::string& bucketId)
{
    return "/api/v2/bucket/" + bucketId + "/file/" + fileId;
}

dt_error CRestApiFileDetailsBaseWToken::checkFileCallParams(const FileCallParams& params, const char* caller)
{
    return acceptRequestValues({&params.bucketId, &params.fileId}, params.bucketToken, caller) ? dt_success
                                                                                               : dt_invalid_argument;
}

} // namespace fv_transfers
