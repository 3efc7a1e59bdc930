#include "core/rest/RestApiFileDetailsFetch.h"

#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestJson.h"

namespace fv_transfers {

dt_error CRestApiFileDetailsFetch::execute(const UploadDetailsRequestParams& params)
{
    const dt_error check = checkFileCallParams(params, "CRestApiFileDetailsFetch::execute");
    if (check != dt_success)
        return check;
    Json::Value body(Json::objectValue);
    body["size"] = Json::UInt64(params.fileSize);
    body["md5Digest"] = rest_json::stringOrNull(params.md5Digest);
    body["uploader"] = kRestUploaderName;
    return sendFileRequestWithToken(buildPath(params.fileId, params.bucketId), std::move(body), params.fileId,
                                    params.bucketId, params.bucketToken);
}

std::string CRestApiFileDetailsFetch::buildPath(const std::string& fileId, const std::string& bucketId)
{
    return filePath(fileId, bucketId) + "/upload";
}

dt_error CRestApiFileDetailsFetch::getResult(FileUploadDetails& result)
{
    Json::Value root;
    const dt_error received = receiveResponse(root, true);
    if (received == dt_success)
        return readUploadDetails(root, result);
    if (received == dt_rest_client_error)
        return readErrorBody(root, result);
    return received;
}

dt_error CRestApiFileDetailsFetch::readUploadDetails(const Json::Value& root, FileUploadDetails& result)
{
    const Json::Value* put = rest_json::objectMember(root, "put");
    if (!put) {
        rest_json::logMissingMandatoryAttribute("put", "");
        return dt_rest_client_error;
    }
    FileUploadDetails details;
    if (!rest_json::getString(*put, "url", details.url) || details.url.empty()) {
        rest_json::logMissingMandatoryAttribute("url", "put");
        return dt_rest_client_error;
    }
    if (!rest_json::getUInt64(*put, "expires", details.expires)) {
        rest_json::logMissingMandatoryAttribute("expires", "put");
        return dt_rest_client_error;
    }
    const Json::Value* headers = rest_json::member(*put, "headers");
    if (headers && !headers->isNull() && !rest_json::getHeaders(*headers, details.headers)) {
        FV_LOG_ERROR("REST response attribute 'headers' in object 'put' is not an object of strings");
        return dt_rest_client_error;
    }
    result = details;
    return dt_success;
}

dt_error CRestApiFileDetailsFetch::readErrorBody(const Json::Value& root, FileUploadDetails& result)
{
    std::string type;
    if (!rest_json::getString(root, "type", type)) {
        FV_LOG_ERROR("Upload details refused without a readable error type");
        return dt_general_error;
    }
    result.errorTypeReceived = true;
    result.fileStatusException = type == kFileStatusExceptionType;
    FV_LOG_ERROR("Upload details refused, error type: " << type);
    return dt_rest_client_error;
}

} // namespace fv_transfers
