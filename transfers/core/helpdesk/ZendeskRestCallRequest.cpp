#include "core/helpdesk/ZendeskRestCallRequest.h"

#include "core/log/ErrorCheckLog.h"

namespace fv_transfers {

dt_error CZendeskRestCallRequest::makeCall(const std::string& name, const std::string& email,
                                           const std::string& subject, const std::string& description,
                                           const std::string& token)
{
    Json::Value request(Json::objectValue);
    request["requester"]["name"] = name;
    request["requester"]["email"] = email;
    request["subject"] = subject;
    request["comment"]["body"] = description;
    request["comment"]["uploads"] = Json::Value(Json::arrayValue);
    request["comment"]["uploads"].append(token);
    Json::Value body(Json::objectValue);
    body["request"] = std::move(request);

    const dt_error result =
        sendRequest("/api/v2/requests.json", body, {{"Content-Type", "application/json"}}, RestRequestType::Post);
    if (result != dt_success) {
        logErrorCheckFailed("Zendesk\\CZendeskRestCallRequest", "fv_transfers::CZendeskRestCallRequest::makeCall",
                            __LINE__, result);
        return result;
    }
    Json::Value answer;
    return receiveResponse(answer, false);
}

} // namespace fv_transfers
