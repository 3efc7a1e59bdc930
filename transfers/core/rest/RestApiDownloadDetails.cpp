#include "core/rest/RestApiDownloadDetails.h"

#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestEncoding.h"
#include "core/rest/RestJson.h"

namespace fv_transfers {

namespace {

dt_error badKey(const char* key)
{
    FV_LOG_ERROR("Error parsing response to download details REST call: the following key is missing or has wrong "
                 "format: "
                 << key);
    return dt_rest_client_error;
}

dt_error badAnswer(const char* what)
{
    FV_LOG_ERROR("Error parsing response to download details REST call: " << what);
    return dt_rest_client_error;
}

} // namespace

dt_error CRestApiDownloadDetails::execute(const FileRequestParams& params)
{
    m_bucketId = params.bucketId;
    m_fileId = params.fileId;
    if (!acceptRequestValues({&params.bucketId, &params.fileId}, params.token, "CRestApiDownloadDetails::execute"))
        return dt_invalid_argument;
    return sendRequest("/api/v2/bucket/" + params.bucketId + "/file/" + params.fileId +
                           "/download?action=DOWNLOAD&token=" + rest_encoding::encodeQueryValue(params.token) +
                           "&redirect=false",
                       Json::Value(), {}, RestRequestType::Get);
}

dt_error CRestApiDownloadDetails::getResult(RestDownloadDetails& result)
{
    Json::Value root;
    const dt_error received = receiveResponse(root, false);
    if (received != dt_success)
        return received;
    return readDetails(root, result);
}

dt_error CRestApiDownloadDetails::readDetails(const Json::Value& root, RestDownloadDetails& result)
{
    const Json::Value* file = rest_json::objectMember(root, "file");
    if (!file)
        return badKey("file");
    std::string bucketId;
    if (!rest_json::getString(*file, "bucketId", bucketId))
        return badKey("bucketId");
    if (bucketId != m_bucketId)
        return badAnswer("bucket id doesn't match");
    std::string fileId;
    if (!rest_json::getString(*file, "id", fileId))
        return badKey("id");
    if (fileId != m_fileId)
        return badAnswer("file id doesn't match");
    RestDownloadDetails details;
    if (!rest_json::getString(*file, "md5Digest", details.md5Digest))
        return badKey("md5Digest");
    if (!rest_json::getString(root, "url", details.url))
        return badKey("url");
    if (details.url.empty())
        return badAnswer("file url is empty");
    if (!rest_json::getUInt64(root, "expires", details.expires))
        return badKey("expires");
    if (!rest_json::getString(root, "multipartManifestUrl", details.multipartManifestUrl))
        FV_LOG_WARNING("Manifest file url is missing or has wrong format");
    result = details;
    return dt_success;
}

} // namespace fv_transfers
