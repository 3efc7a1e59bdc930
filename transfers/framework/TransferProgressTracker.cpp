#include "framework/TransferProgressTracker.h"

#include "core/log/FvTransfersLogger.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace fv_transfers {

namespace {

// Out-of-range, infinite and NaN values have no defined conversion: they end at the bounds.
template <typename T> T saturatingCast(double value)
{
    if (!(value > 0))
        return 0;
    if (value >= static_cast<double>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    return static_cast<T>(value);
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b)
{
    return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

std::uint64_t saturatingSub(std::uint64_t a, std::uint64_t b)
{
    return b > a ? 0 : a - b;
}

} // namespace

void CTransferProgressTracker::Stopwatch::start(Clock::time_point now)
{
    if (m_running)
        return;
    m_since = now;
    m_running = true;
}

void CTransferProgressTracker::Stopwatch::stop(Clock::time_point now)
{
    m_elapsed = elapsed(now);
    m_running = false;
}

void CTransferProgressTracker::Stopwatch::restart(Clock::time_point now)
{
    reset();
    start(now);
}

void CTransferProgressTracker::Stopwatch::reset()
{
    m_elapsed = Clock::duration::zero();
    m_running = false;
}

CTransferProgressTracker::Clock::duration CTransferProgressTracker::Stopwatch::elapsed(Clock::time_point now) const
{
    // A clock that steps back adds nothing.
    return m_running ? m_elapsed + std::max(Clock::duration::zero(), now - m_since) : m_elapsed;
}

std::uint64_t CTransferProgressTracker::systemNowMs()
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch());
    return static_cast<std::uint64_t>(std::max<std::int64_t>(0, ms.count()));
}

CTransferProgressTracker::CTransferProgressTracker(ClockFunction now, WallClockFunction wallNowMs)
    : m_now(std::move(now)), m_wallNowMs(std::move(wallNowMs))
{
    m_samples.reserve(kMaxSamples);
}

void CTransferProgressTracker::start(std::uint64_t total)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_windowWatch.start(m_now());
    if (total != 0)
        m_bytesTotal = total;
    m_lastSpeed = 0;
    m_windowStartBytes = m_bytesTransferred;
    m_eta = 0;
    m_started = true;
}

void CTransferProgressTracker::stop()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_windowWatch.reset();
    m_stable = true;
    m_checkEarly = true;
    m_updatesSinceCheck = 0;
    m_eta = 0;
}

void CTransferProgressTracker::resume()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_windowWatch.start(m_now());
    m_windowStartBytes = m_bytesTransferred;
    if (m_lastSpeed == 0)
        m_lastSpeed = trimmedMean();
    calculateLastEta();
}

bool CTransferProgressTracker::isStarted() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_started;
}

void CTransferProgressTracker::AddData(std::int64_t bytes)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (bytes < 0) {
        FV_LOG_WARNING("fv_transfers::CTransferProgressTracker::AddData"
                       << ": nevative amount of data received, decreasing total number of bytes transferred!");
        // Negated in unsigned arithmetic: the lowest int64 has no positive counterpart.
        decreaseBytesTransferredNoLock(std::uint64_t{0} - static_cast<std::uint64_t>(bytes));
    } else {
        m_bytesTransferred = saturatingAdd(m_bytesTransferred, static_cast<std::uint64_t>(bytes));
    }
    if (sampleSpeed())
        calculateLastEta();
}

void CTransferProgressTracker::decreaseBytesTransferred(std::uint64_t bytes)
{
    std::lock_guard<std::mutex> lock(m_lock);
    decreaseBytesTransferredNoLock(bytes);
}

void CTransferProgressTracker::decreaseBytesTransferredNoLock(std::uint64_t bytes)
{
    if (bytes > m_bytesTransferred)
        FV_LOG_WARNING("fv_transfers::CTransferProgressTracker::DecreaseBytesTransferedNoLock"
                       << ": number bytes to decrease is bigger than number of bytes transferred!");
    m_bytesTransferred = saturatingSub(m_bytesTransferred, bytes);
    m_windowStartBytes = m_bytesTransferred;
    m_eta = 0;
}

void CTransferProgressTracker::addToTotal(std::uint64_t bytes)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_bytesTotal = saturatingAdd(m_bytesTotal, bytes);
    m_eta = 0;
}

void CTransferProgressTracker::removeFromTotal(std::uint64_t bytes)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_bytesTotal = saturatingSub(m_bytesTotal, bytes);
    m_windowStartBytes = m_bytesTransferred;
    m_eta = 0;
}

std::uint32_t CTransferProgressTracker::GetLastTransferSpeed()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_lastSpeed == 0) {
        FV_LOG_WARNING("fv_transfers::CTransferProgressTracker::GetLastTransferSpeed"
                       << ": last speed is 0, trying to calculate average one!");
        m_lastSpeed = trimmedMean();
    }
    return saturatingCast<std::uint32_t>(static_cast<double>(m_lastSpeed) * 1000.0);
}

std::uint64_t CTransferProgressTracker::GetEtaMs()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_eta == 0) {
        FV_LOG_WARNING("fv_transfers::CTransferProgressTracker::GetEtaMs"
                       << ": No eta, trying to calculate...");
        calculateLastEta();
    }
    return m_eta;
}

std::uint64_t CTransferProgressTracker::getBytesTransferred() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bytesTransferred;
}

std::uint64_t CTransferProgressTracker::getBytesTotal() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bytesTotal;
}

bool CTransferProgressTracker::sampleSpeed()
{
    const Clock::time_point now = m_now();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(m_windowWatch.elapsed(now));
    if (elapsed < kMinSampleWindow || (elapsed < kSampleWindow && m_lastSpeed != 0))
        return false;
    const float speed = static_cast<float>(static_cast<double>(saturatingSub(m_bytesTransferred, m_windowStartBytes)) /
                                           static_cast<double>(elapsed.count()));
    if (!(speed > 0) || !std::isfinite(speed)) {
        FV_LOG_WARNING("0 transfer speed of last data portion, skipping it as invalid");
        return false;
    }
    pushSample(speed);
    m_lastSpeed = chooseSpeed(speed);
    m_windowStartBytes = m_bytesTransferred;
    m_windowWatch.restart(now);
    return true;
}

void CTransferProgressTracker::pushSample(float speed)
{
    if (m_samples.size() < kMaxSamples) {
        m_samples.push_back(speed);
        m_ringIndex = m_samples.size() - 1;
        return;
    }
    m_ringIndex = (m_ringIndex + 1) % kMaxSamples;
    m_samples[m_ringIndex] = speed;
}

float CTransferProgressTracker::chooseSpeed(float latest)
{
    if (m_updatesSinceCheck > 9 || (m_checkEarly && m_samples.size() >= 5)) {
        const double mean = trimmedMean();
        double deviation = 0;
        for (float sample : m_samples)
            deviation += std::fabs(mean - sample) * 100.0 / mean;
        deviation /= static_cast<double>(m_samples.size());
        m_stable = deviation < 8.0;
        m_updatesSinceCheck = 0;
        m_checkEarly = false;
    } else {
        ++m_updatesSinceCheck;
    }
    return m_stable ? latest : trimmedMean();
}

float CTransferProgressTracker::trimmedMean() const
{
    if (m_samples.empty())
        return 0;
    double sum = 0;
    for (float sample : m_samples)
        sum += sample;
    if (m_samples.size() <= 2)
        return static_cast<float>(sum / static_cast<double>(m_samples.size()));
    const auto extremes = std::minmax_element(m_samples.begin(), m_samples.end());
    return static_cast<float>((sum - *extremes.first - *extremes.second) / static_cast<double>(m_samples.size() - 2));
}

void CTransferProgressTracker::calculateLastEta()
{
    float speed = m_lastSpeed;
    if (speed == 0) {
        FV_LOG_WARNING("fv_transfers::CTransferProgressTracker::calculateLastEta"
                       << ": last speed is 0, trying to get average...");
        speed = trimmedMean();
    }
    const std::uint64_t remaining =
        m_bytesTransferred > m_bytesTotal ? std::uint64_t{10240} : m_bytesTotal - m_bytesTransferred;
    const double remainingMs = static_cast<double>(remaining) / std::max(1.0, static_cast<double>(speed));
    m_eta = saturatingAdd(saturatingCast<std::uint64_t>(remainingMs), m_wallNowMs());
}

} // namespace fv_transfers
