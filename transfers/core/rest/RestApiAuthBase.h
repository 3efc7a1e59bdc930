#pragma once

#include "core/rest/RestApiCallBase.h"

#include <string>

namespace fv_transfers {

// Calls made for a logged-in user carry the login token in "x-fv-auth-token".
class CRestApiAuthBase : public CRestApiCallBase {
public:
    using CRestApiCallBase::CRestApiCallBase;

    // POSTs `body` with the token header.
    virtual dt_error sendAuthRequest(const std::string& path, const Json::Value& body, const std::string& token);

    static const char* const kAuthTokenHeader; // "x-fv-auth-token"
};

} // namespace fv_transfers
