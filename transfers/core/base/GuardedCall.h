#pragma once

#include "core/base/ExceptionText.h"

#include <exception>
#include <string>

namespace fv_transfers {

// Runs call; whatever it throws, standard or not, is handed to report as text (a failing report
// is swallowed) and neutral is the answer. For the boundaries nothing may cross.
template <typename Result, typename Call, typename Report>
Result guardedCall(Result neutral, Call&& call, Report&& report) noexcept
{
    try {
        return call();
    } catch (const std::exception& e) {
        try {
            report(exceptionText(e));
        } catch (...) {
        }
    } catch (...) {
        try {
            report(std::string("unknown exception"));
        } catch (...) {
        }
    }
    return neutral;
}

} // namespace fv_transfers
