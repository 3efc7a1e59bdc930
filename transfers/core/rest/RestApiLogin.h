#pragma once

#include "core/rest/BucketRestRecords.h"
#include "core/rest/RestApiCallBase.h"

namespace fv_transfers {

// POST /login: a user's credentials for a login token.
class CRestApiLogin : public CRestApiCallBase {
public:
    using CRestApiCallBase::CRestApiCallBase;

    virtual dt_error execute(const std::string& userId, const std::string& password);
    // dt_general_error without a non-empty string "token"; "tokenExpires" is 0 when absent.
    virtual dt_error getResult(LoginResult& result);
};

} // namespace fv_transfers
