#include "core/rest/RestApiFileStatusUpdate.h"

#include "core/log/FvTransfersLogger.h"

namespace fv_transfers {

dt_error CRestApiFileStatusUpdate::execute(const FileStatusRequestParams& params)
{
    const char* status = restFileStatusText(params.status);
    if (!status) {
        FV_LOG_ERROR("CRestApiFileStatusUpdate::execute: unknown file status " << static_cast<int>(params.status));
        return dt_invalid_argument;
    }
    const dt_error check = checkFileCallParams(params, "CRestApiFileStatusUpdate::execute");
    if (check != dt_success)
        return check;
    Json::Value body(Json::objectValue);
    body["status"] = status;
    body["progress"] = Json::UInt64(params.progress);
    return sendFileRequestWithToken(filePath(params.fileId, params.bucketId) + "/status", std::move(body),
                                    params.fileId, params.bucketId, params.bucketToken);
}

dt_error CRestApiFileStatusUpdate::getResult()
{
    return receiveFileResult();
}

} // namespace fv_transfers
