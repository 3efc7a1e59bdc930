#include "core/rest/RestApiFileDetailsBase.h"

#include "core/log/FvTransfersLogger.h"
#include "core/rest/RestJson.h"

namespace fv_transfers {

dt_error CRestApiFileDetailsBase::sendFileRequest(const std::string& path, Json::Value body, const std::string& fileId,
                                                  const std::string& bucketId)
{
    m_fileId = fileId;
    m_bucketId = bucketId;
    body["fileId"] = fileId;
    body["bucketId"] = bucketId;
    return sendRequest(path, body, {}, RestRequestType::Post);
}

dt_error CRestApiFileDetailsBase::receiveResponse(Json::Value& root, bool parseBodyOnError)
{
    const dt_error received = CRestApiCallBase::receiveResponse(root, parseBodyOnError);
    if (received != dt_success)
        return received;
    const Json::Value* file = rest_json::objectMember(root, "file");
    if (!file) {
        FV_LOG_ERROR("fv_transfers::CRestApiFileDetailsBase::receiveResponse: no \"file\" object in the response");
        return dt_general_error;
    }
    std::string fileId;
    std::string bucketId;
    rest_json::getString(*file, "id", fileId);
    rest_json::getString(*file, "bucketId", bucketId);
    if (fileId != m_fileId || bucketId != m_bucketId) {
        FV_LOG_ERROR("fv_transfers::CRestApiFileDetailsBase::receiveResponse"
                     << ": File or bucket id do not match. File id: " << fileId << ", expected: " << m_fileId
                     << ". Bucket id: " << bucketId << ", expected: " << m_bucketId);
        return dt_general_error;
    }
    return dt_success;
}

dt_error CRestApiFileDetailsBase::receiveFileResult()
{
    Json::Value root;
    return receiveResponse(root, false);
}

} // namespace fv_transfers
