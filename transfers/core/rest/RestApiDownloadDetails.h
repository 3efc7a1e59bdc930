#pragma once

#include "core/rest/RestApiCallBase.h"
#include "core/rest/TransferRestRecords.h"

#include <string>

namespace fv_transfers {

// GET /api/v2/bucket/{bucketId}/file/{fileId}/download?action=DOWNLOAD&token=...&redirect=false
// Every answer that fails a check gives dt_rest_client_error.
class CRestApiDownloadDetails : public CRestApiCallBase {
public:
    using CRestApiCallBase::CRestApiCallBase;

    virtual dt_error execute(const FileRequestParams& params);
    virtual dt_error getResult(RestDownloadDetails& result);

private:
    dt_error readDetails(const Json::Value& root, RestDownloadDetails& result);

    std::string m_bucketId;
    std::string m_fileId;
};

} // namespace fv_transfers
