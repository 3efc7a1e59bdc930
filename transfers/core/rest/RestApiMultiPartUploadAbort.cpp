#include "core/rest/RestApiMultiPartUploadAbort.h"

namespace fv_transfers {

dt_error CRestApiMultiPartUploadAbort::execute(const MultiPartRequestParams& params)
{
    return sendMultiPartRequest(params, Json::Value(Json::objectValue), "abort");
}

dt_error CRestApiMultiPartUploadAbort::getResult()
{
    return receiveFileResult();
}

} // namespace fv_transfers
