#include "support/service/ConnectionRateLimiter.h"

#include <algorithm>
#include <cmath>

namespace fv_test {

namespace {

// Pieces of about this much time: small enough to keep the rate even within a second.
constexpr double kQuantumSeconds = 0.02;

} // namespace

ConnectionRateLimiter::ConnectionRateLimiter(uint64_t bytesPerSecond, const StopSignal& stop)
    : m_rate(bytesPerSecond), m_stop(stop),
      m_quantum(std::clamp(static_cast<double>(bytesPerSecond) * kQuantumSeconds, 1.0, double(kBurstBytes))),
      m_tokens(kBurstBytes), m_refilled(std::chrono::steady_clock::now())
{
}

size_t ConnectionRateLimiter::allow(size_t want)
{
    if (m_rate == 0 || want == 0)
        return want;
    const double needed = std::min(static_cast<double>(want), m_quantum);
    refill();
    while (m_tokens < needed) {
        const double seconds = (needed - m_tokens) / static_cast<double>(m_rate);
        const auto wait = std::chrono::milliseconds(std::max<int64_t>(1, std::llround(std::ceil(seconds * 1000))));
        if (m_stop.waitFor(wait))
            return 0;
        refill();
    }
    return std::min(want, static_cast<size_t>(m_tokens));
}

void ConnectionRateLimiter::consume(size_t bytes)
{
    if (m_rate != 0)
        m_tokens -= static_cast<double>(bytes);
}

void ConnectionRateLimiter::refill()
{
    const auto now = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(now - m_refilled).count();
    m_refilled = now;
    m_tokens = std::min(double(kBurstBytes), m_tokens + elapsed * static_cast<double>(m_rate));
}

} // namespace fv_test
