#pragma once

namespace fv_transfers {

// Result code of the library. The numbers cross into the main program, so they never change.
enum dt_error : int {
    dt_success = 0,
    dt_invalid_argument = 1,
    dt_general_error = 2,
    dt_not_connected = 4,
    dt_busy = 5,
    dt_interrupted = 6,
    dt_paused = 7,
    dt_cancelled = 8,
    dt_local_file_error = 9,
    dt_file_changed = 10,
    dt_file_status_exception = 11,
    dt_rest_client_error = 12,
    dt_unexpected_http_response = 13,
    dt_network_error = 14,
    dt_timeout = 15,
    dt_connection_closed = 16,
    dt_invalid_chunked_body = 18,
};

// One meaning per code, for log lines and error texts.
const char* dtErrorText(int code);

} // namespace fv_transfers
