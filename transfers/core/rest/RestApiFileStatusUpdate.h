#pragma once

#include "core/rest/RestApiFileDetailsBaseWToken.h"
#include "core/rest/TransferRestRecords.h"

namespace fv_transfers {

// POST /api/v2/bucket/{bucketId}/file/{fileId}/status: a file's state and progress.
class CRestApiFileStatusUpdate : public CRestApiFileDetailsBaseWToken {
public:
    using CRestApiFileDetailsBaseWToken::CRestApiFileDetailsBaseWToken;

    // dt_invalid_argument, with nothing sent, for a status outside RestFileStatus.
    virtual dt_error execute(const FileStatusRequestParams& params);
    virtual dt_error getResult();
};

} // namespace fv_transfers
