#pragma once

#include "core/base/FvTransfersException.h"
#include "framework/TransferBufferManager.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace fv_transfers {

// Turns a pool that stays exhausted into a time-out: a get that finds no buffer passes the
// shortage on while the last successful get is recent, and throws TimeoutException once it is
// `limit` old. The time is monotonic, so a clock change never fires or hides the limit.
class CBufferMngrTimeLimitted {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::seconds kDefaultLimit{60};

    // "Timeout waiting for buffer". Not a kind of CInsufficientMemoryException: a caller that
    // retries on a shortage must not retry this one.
    class TimeoutException : public CFvTransfersException {
    public:
        TimeoutException();
    };

    explicit CBufferMngrTimeLimitted(std::shared_ptr<ITransferBufferManager> manager, Clock clock = {},
                                     std::chrono::steady_clock::duration limit = kDefaultLimit);

    // Throws ITransferBufferManager::CInsufficientMemoryException, TimeoutException, or
    // Poco::NullPointerException without a manager.
    CTransferBufferHandle getBuffer(std::uint64_t size);

private:
    std::chrono::steady_clock::time_point now() const;

    std::shared_ptr<ITransferBufferManager> m_manager;
    Clock m_clock;
    std::chrono::steady_clock::duration m_limit;
    std::atomic<std::chrono::steady_clock::time_point> m_lastSuccess;
};

} // namespace fv_transfers
