#include "core/base/DtError.h"

namespace fv_transfers {

const char* dtErrorText(int code)
{
    switch (code) {
    case dt_success: return "success";
    case dt_invalid_argument: return "invalid argument";
    case dt_general_error: return "general error";
    case dt_not_connected: return "not connected";
    case dt_busy: return "busy";
    case dt_interrupted: return "interrupted";
    case dt_paused: return "paused";
    case dt_cancelled: return "cancelled";
    case dt_local_file_error: return "local file error";
    case dt_file_changed: return "local file changed";
    case dt_file_status_exception: return "file refused by the service";
    case dt_rest_client_error: return "REST client error";
    case dt_unexpected_http_response: return "unexpected HTTP response";
    case dt_network_error: return "network error";
    case dt_timeout: return "timeout";
    case dt_connection_closed: return "connection closed";
    case dt_invalid_chunked_body: return "invalid chunked body";
    default: return "unknown error";
    }
}

} // namespace fv_transfers
