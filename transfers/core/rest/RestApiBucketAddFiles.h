#pragma once

#include "core/rest/BucketRestRecords.h"
#include "core/rest/RestApiAuthBase.h"

#include <vector>

namespace fv_transfers {

// POST /api/v2/bucket/{bucketId}/files: registers files in a bucket; the answer gives each
// its id and upload details.
class CRestApiBucketAddFiles : public CRestApiAuthBase {
public:
    using CRestApiAuthBase::CRestApiAuthBase;

    // dt_invalid_argument, with nothing sent, for a bucket id that is not a plain path segment
    // or a token with control characters.
    virtual dt_error execute(const AddFilesParams& params);
    // The entries of "files" in answer order, each member taken when present with its type;
    // an absent "files" is an empty list, one of another type dt_general_error.
    virtual dt_error getResult(std::vector<AddedFileDetails>& result);
};

} // namespace fv_transfers
