#include "core/rest/RestApiAuthBase.h"

namespace fv_transfers {

const char* const CRestApiAuthBase::kAuthTokenHeader = "x-fv-auth-token";

dt_error CRestApiAuthBase::sendAuthRequest(const std::string& path, const Json::Value& body, const std::string& token)
{
    return sendRequest(path, body, {{kAuthTokenHeader, token}}, RestRequestType::Post);
}

} // namespace fv_transfers
