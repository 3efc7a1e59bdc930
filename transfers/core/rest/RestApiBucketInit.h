#pragma once

#include "core/rest/BucketRestRecords.h"
#include "core/rest/RestApiAuthBase.h"

#include <string>

namespace fv_transfers {

// POST /api/v2/bucket/message: a new, empty message bucket for the logged-in user.
class CRestApiBucketInit : public CRestApiAuthBase {
public:
    using CRestApiAuthBase::CRestApiAuthBase;

    virtual dt_error execute(const LoginToken& login, const std::string& summary = kDefaultBucketSummary);
    // dt_general_error unless the answer names the bucket ("bucketId") and its "token";
    // "tokenExpires" is 0 when absent.
    virtual dt_error getResult(BucketInitResult& result);
};

} // namespace fv_transfers
