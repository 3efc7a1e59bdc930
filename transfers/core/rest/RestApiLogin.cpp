#include "core/rest/RestApiLogin.h"

#include "core/rest/RestJson.h"

namespace fv_transfers {

dt_error CRestApiLogin::execute(const std::string& userId, const std::string& password)
{
    Json::Value body(Json::objectValue);
    body["userId"] = userId;
    body["password"] = password;
    return sendRequest("/login", body, {}, RestRequestType::Post);
}

dt_error CRestApiLogin::getResult(LoginResult& result)
{
    Json::Value root;
    const dt_error received = receiveResponse(root, false);
    if (received != dt_success)
        return received;
    LoginResult read;
    if (!rest_json::getTokenWithExpiry(root, read.token, read.tokenExpires))
        return dt_general_error;
    result = std::move(read);
    return dt_success;
}

} // namespace fv_transfers
