#include "core/rest/RestApiBucketStatusRetrieve.h"

#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestEncoding.h"
#include "core/rest/RestJson.h"

namespace fv_transfers {

namespace {

void logMissing(const char* attribute)
{
    FV_LOG_ERROR("Error when retrieving bucket status. Response does not contain mandatory attribute: " << attribute);
}

} // namespace

dt_error CRestApiBucketStatusRetrieve::execute(const std::string& bucketId, const std::string& token)
{
    m_bucketId = bucketId;
    if (!acceptRequestValues({&bucketId}, token, "CRestApiBucketStatusRetrieve::execute"))
        return dt_invalid_argument;
    return sendRequest("/api/v2/bucket/" + bucketId + "?token=" + rest_encoding::encodeQueryValue(token) +
                           "&detail=false",
                       Json::Value(), {}, RestRequestType::Get);
}

dt_error CRestApiBucketStatusRetrieve::getResult(BucketStatusInfo& result)
{
    Json::Value root;
    const dt_error received = receiveResponse(root, false);
    if (received == dt_rest_client_error) {
        const int status = httpStatus();
        if (status == 404 || status == 410) {
            result.status = BUCKET_STATUS_DELETED;
            return dt_success;
        }
        FV_LOG_ERROR("Bucket status of " << m_bucketId << " unknown: HTTP status " << status);
        return dt_rest_client_error;
    }
    if (received != dt_success)
        return received;
    return readBucket(root, result);
}

dt_error CRestApiBucketStatusRetrieve::readBucket(const Json::Value& root, BucketStatusInfo& result)
{
    const Json::Value* bucket = rest_json::objectMember(root, "bucket");
    if (!bucket) {
        logMissing("bucket");
        return dt_general_error;
    }
    std::string id;
    rest_json::getString(*bucket, "id", id);
    if (id != m_bucketId) {
        logMissing("id");
        return dt_general_error;
    }
    dt_error outcome = dt_success;
    std::string status;
    if (rest_json::getString(*bucket, "status", status)) {
        result.status = bucketStatusFromText(status);
        if (result.status == BUCKET_STATUS_UNKNOWN)
            FV_LOG_WARNING("Unrecognized bucket status: " << status);
    } else {
        logMissing("status");
        result.status = BUCKET_STATUS_UNKNOWN;
        outcome = dt_general_error;
    }
    if (!rest_json::getBool(*bucket, "uploadAllowed", result.uploadAllowed)) {
        FV_LOG_WARNING("Failed to get \"uploadAllowed\" attribute from response. Assuming true...");
        result.uploadAllowed = true;
    }
    result.createdKnown = rest_json::getUInt64(*bucket, "created", result.created);
    if (!result.createdKnown) {
        FV_LOG_WARNING("Failed to obtain bucket creation time from REST response");
        result.created = 0;
    }
    return outcome;
}

} // namespace fv_transfers
