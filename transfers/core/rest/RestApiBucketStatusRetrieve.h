#pragma once

#include "core/rest/RestApiCallBase.h"
#include "core/rest/TransferRestRecords.h"

#include <string>

namespace fv_transfers {

// GET /api/v2/bucket/{bucketId}?token=...&detail=false
//
// Only 404 and 410 (or the status texts themselves) mean that a bucket is gone; any other
// client error (an expired token, 403, 408, 429) is a failure on which nothing may be
// decided, since acting on it would drop the user's queued transfers.
class CRestApiBucketStatusRetrieve : public CRestApiCallBase {
public:
    using CRestApiCallBase::CRestApiCallBase;

    // dt_invalid_argument, with nothing sent, for an unsafe id or a token with control
    // characters.
    virtual dt_error execute(const std::string& bucketId, const std::string& token);
    virtual dt_error getResult(BucketStatusInfo& result);

private:
    dt_error readBucket(const Json::Value& root, BucketStatusInfo& result);

    std::string m_bucketId;
};

} // namespace fv_transfers
