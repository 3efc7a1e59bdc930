#pragma once

#include "core/base/ServiceDefaults.h"

#include <string>
#include <utility>
#include <vector>

namespace fv_transfers {

// Header fields in the order they are applied; a later field replaces an earlier one of the
// same name.
using RestHeaderList = std::vector<std::pair<std::string, std::string>>;

// The numbers are those the call classes have always used.
enum class RestRequestType : int { Post = 0, Get = 1 };

// Idle time-outs of one REST exchange, in milliseconds.
struct RestTimeouts {
    int connectMs;
    int sendMs;
    int receiveMs;
};

constexpr RestTimeouts kDefaultRestTimeouts{kDefaultConnectTimeoutMs, kDefaultRestIdleTimeoutMs,
                                            kDefaultRestIdleTimeoutMs};
// The service answers these two only after it prepared storage, so their answer may take long;
// upload details must not hold a file task for long either.
constexpr RestTimeouts kUploadDetailsTimeouts{30000, 60000, 10000};
constexpr RestTimeouts kMultiPartInitializeTimeouts{30000, 60000, 55000};

} // namespace fv_transfers
