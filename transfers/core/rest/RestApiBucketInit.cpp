#include "core/rest/RestApiBucketInit.h"

#include "core/rest/RestJson.h"
#include "core/rest/TransferRestRecords.h"

namespace fv_transfers {

dt_error CRestApiBucketInit::execute(const LoginToken& login, const std::string& summary)
{
    Json::Value body(Json::objectValue);
    body["summary"] = summary;
    body["viewMode"] = Json::Value(Json::nullValue);
    body["type"] = "message";
    body["previewsEnabled"] = true;
    body["body"] = Json::Value(Json::nullValue);
    body["password"] = Json::Value(Json::nullValue);
    body["uploader"] = kRestUploaderName;
    body["files"] = Json::Value(Json::arrayValue);
    body["cloneFiles"] = Json::Value(Json::arrayValue);
    body["recipients"] = Json::Value(Json::arrayValue);
    return sendAuthRequest("/api/v2/bucket/message", body, login.token);
}

dt_error CRestApiBucketInit::getResult(BucketInitResult& result)
{
    Json::Value root;
    const dt_error received = receiveResponse(root, false);
    if (received != dt_success)
        return received;
    // A bucket without its id or token cannot take files: that answer is no bucket.
    BucketInitResult read;
    if (!rest_json::getString(root, "bucketId", read.bucketId) || read.bucketId.empty()) {
        rest_json::logMissingMandatoryAttribute("bucketId", "");
        return dt_general_error;
    }
    if (!rest_json::getTokenWithExpiry(root, read.token, read.tokenExpires))
        return dt_general_error;
    result = std::move(read);
    return dt_success;
}

} // namespace fv_transfers
