#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace fv_transfers {

// Bytes, speed and expected end of one transfer (a group or a file). The speed is measured over
// windows of 5 s on the monotonic clock and smoothed over the last 15 samples; the ETA is the
// only wall-clock value (a date). Every operation takes the tracker's own lock.
class CTransferProgressTracker {
public:
    using Clock = std::chrono::steady_clock;
    using ClockFunction = std::function<Clock::time_point()>;
    // Milliseconds since 1970-01-01.
    using WallClockFunction = std::function<std::uint64_t()>;

    static constexpr std::chrono::milliseconds kSampleWindow{5000};
    // No sample over a shorter window, so a first sample never divides by (almost) nothing.
    static constexpr std::chrono::milliseconds kMinSampleWindow{250};
    static constexpr std::size_t kMaxSamples = 15;

    explicit CTransferProgressTracker(ClockFunction now = Clock::now, WallClockFunction wallNowMs = systemNowMs);
    CTransferProgressTracker(const CTransferProgressTracker&) = delete;
    CTransferProgressTracker& operator=(const CTransferProgressTracker&) = delete;

    // Starts measuring (the window goes on from where it stood); `total` 0 keeps the total.
    void start(std::uint64_t total);
    // Pause or error: the window ends; the samples stay for a later resume.
    void stop();
    void resume();
    bool isStarted() const;

    // A negative amount takes progress back, never below 0.
    void AddData(std::int64_t bytes);
    void decreaseBytesTransferred(std::uint64_t bytes);
    void addToTotal(std::uint64_t bytes);
    // Never below 0.
    void removeFromTotal(std::uint64_t bytes);

    // Bytes per second.
    std::uint32_t GetLastTransferSpeed();
    // Milliseconds since 1970-01-01.
    std::uint64_t GetEtaMs();
    std::uint64_t getBytesTransferred() const;
    std::uint64_t getBytesTotal() const;

    static std::uint64_t systemNowMs();

private:
    // Poco::Stopwatch semantics: start and stop keep the elapsed time, reset clears it.
    class Stopwatch {
    public:
        void start(Clock::time_point now);
        void stop(Clock::time_point now);
        void restart(Clock::time_point now);
        void reset();
        Clock::duration elapsed(Clock::time_point now) const;

    private:
        Clock::duration m_elapsed{};
        Clock::time_point m_since{};
        bool m_running = false;
    };

    void decreaseBytesTransferredNoLock(std::uint64_t bytes);
    bool sampleSpeed();
    void pushSample(float speed);
    float chooseSpeed(float latest);
    float trimmedMean() const;
    void calculateLastEta();

    const ClockFunction m_now;
    const WallClockFunction m_wallNowMs;

    mutable std::mutex m_lock;
    Stopwatch m_windowWatch;
    std::uint64_t m_bytesTotal = 0;
    std::uint64_t m_bytesTransferred = 0;
    float m_lastSpeed = 0; // bytes per ms; 0: not measured yet
    std::uint64_t m_windowStartBytes = 0;
    std::uint64_t m_eta = 0; // 0: not computed
    std::vector<float> m_samples;
    std::size_t m_ringIndex = 0; // slot written last
    unsigned m_updatesSinceCheck = 0;
    bool m_stable = true;
    bool m_checkEarly = true; // the first check may come after 5 samples
    bool m_started = false;
};

} // namespace fv_transfers
