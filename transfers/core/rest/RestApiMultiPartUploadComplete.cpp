#include "core/rest/RestApiMultiPartUploadComplete.h"

namespace fv_transfers {

dt_error CRestApiMultiPartUploadComplete::execute(const MultiPartCompleteParams& params)
{
    Json::Value body(Json::objectValue);
    body["numberOfParts"] = Json::UInt(params.numberOfParts);
    return sendMultiPartRequest(params, std::move(body), "complete");
}

dt_error CRestApiMultiPartUploadComplete::getResult()
{
    return receiveFileResult();
}

} // namespace fv_transfers
