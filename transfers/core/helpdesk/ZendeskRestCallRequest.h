#pragma once

#include "core/rest/RestApiCallBase.h"

#include <string>

namespace fv_transfers {

// Creates the help-desk request that carries a report's form fields and its attachment.
class CZendeskRestCallRequest : public CRestApiCallBase {
public:
    // The help desk's base URL: no service token or endpoint of the configuration is used.
    explicit CZendeskRestCallRequest(const std::string& helpDeskUrl) : CRestApiCallBase(helpDeskUrl) {}

    // The REST result of POST /api/v2/requests.json: dt_rest_client_error for a 4xx (422 for
    // a form the help desk refuses), dt_general_error for a 5xx or an answer that is no JSON.
    dt_error makeCall(const std::string& name, const std::string& email, const std::string& subject,
                      const std::string& description, const std::string& token);
};

} // namespace fv_transfers
