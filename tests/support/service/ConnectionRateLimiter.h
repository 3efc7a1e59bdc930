#pragma once

#include "support/service/StopSignal.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace fv_test {

// A token bucket on one direction of one connection: `bytesPerSecond` on average, bursts of
// up to kBurstBytes (one send block). Waits end early when the service stops, so stopping
// never waits for a slow connection. A rate of 0 passes everything at once.
//
//   const size_t allowed = limiter.allow(want); // 0: the service stopped
//   const size_t moved = io(allowed);
//   limiter.consume(moved);
class ConnectionRateLimiter {
public:
    static constexpr size_t kBurstBytes = 64 * 1024;

    ConnectionRateLimiter(uint64_t bytesPerSecond, const StopSignal& stop);

    // How many of `want` bytes may move now (at least one), after waiting as long as needed;
    // 0 when the service stopped while waiting.
    size_t allow(size_t want);
    // Takes bytes that moved from the bucket; at most what allow() granted.
    void consume(size_t bytes);

private:
    void refill();

    const uint64_t m_rate;
    const StopSignal& m_stop;
    // Waiting for less than this many bytes would spread a transfer over tiny sends.
    const double m_quantum;
    double m_tokens;
    std::chrono::steady_clock::time_point m_refilled;
};

} // namespace fv_test
