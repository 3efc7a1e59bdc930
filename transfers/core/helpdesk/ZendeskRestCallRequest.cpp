#include "core/helpdesk/ZendeskRestCallRequest.h"

#include "core/log/FvTransfersLogger.h"

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
        FV_LOG_ERROR("Error check failed in file: Zendesk\\CZendeskRestCallRequest, function: "
                     "fv_transfers::CZendeskRestCallRequest::makeCall, line: "
                     << __LINE__ << ". Error code: " << result);
        return result;
    }
    Json::Value answer;
    return receiveResponse(answer, false);
}

} // namespace fv_transfers
