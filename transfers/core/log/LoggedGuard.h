#pragma once

#include "core/base/GuardedCall.h"
#include "core/log/FvTransfersLogger.h"

#include <memory>
#include <string>
#include <utility>

namespace fv_transfers {

// Runs one operation at a boundary nothing may cross: whatever it throws becomes one error line,
// `prefix` + `operation` + `separator` + the exception's text, and `neutral` is the answer.
template <typename Result, typename Call>
Result loggedGuard(const char* prefix, const char* operation, const char* separator, Result neutral,
                   Call&& call) noexcept
{
    return guardedCall(neutral, std::forward<Call>(call),
                       [&](const std::string& text) { FV_LOG_ERROR(prefix << operation << separator << text); });
}

template <typename Call>
void loggedGuard(const char* prefix, const char* operation, const char* separator, Call&& call) noexcept
{
    loggedGuard(prefix, operation, separator, 0, [&] {
        call();
        return 0;
    });
}

// A facade member forwarding to its proxy: without a proxy (its construction failed) the neutral
// value is the answer.
template <typename Proxy, typename Result, typename Call>
Result forwardGuarded(const std::unique_ptr<Proxy>& proxy, const char* prefix, const char* member, Result neutral,
                      Call&& call) noexcept
{
    return loggedGuard(prefix, member, ": ", neutral, [&] { return proxy ? call() : neutral; });
}

template <typename Proxy, typename Call>
void forwardGuarded(const std::unique_ptr<Proxy>& proxy, const char* prefix, const char* member, Call&& call) noexcept
{
    forwardGuarded(proxy, prefix, member, 0, [&] {
        call();
        return 0;
    });
}

} // namespace fv_transfers
