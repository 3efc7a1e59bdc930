#pragma once

#include "core/base/DtError.h"

#include <string>

namespace fv_transfers {

// GET of one URL into `content` (manifests). Interim (1xx) answers are skipped; a final
// status outside 2xx is an error: dt_rest_client_error for 4xx (an expired signed URL can be
// refreshed), else dt_general_error. Redirects are not followed.
dt_error fetchUrlContent(const std::string& url, std::string& content);

} // namespace fv_transfers
