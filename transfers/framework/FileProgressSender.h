#pragma once

#include "core/rest/RestTypes.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace fv_transfers {

class CEventDispatcher;

// Tells the service how far each uploading file has come, at most once per interval and file.
// Channel threads report progress holding their file's and group's locks, so sendProgress only
// touches the map under its own lock and never waits for the network: sends run in order on one
// owned thread "fv-progress", and a file whose send is still waiting keeps only its latest value.
// Failures are logged once and forgotten. Intervals run on a monotonic clock, so a suspended
// machine does not count.
class CFileProgressSender {
public:
    using NowFunction = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr int kDefaultIntervalSeconds = 300;

    struct ProgressRequestParams {
        std::string fileId;
        std::string bucketId;
        std::string token;
        std::uint64_t progress = 0;
    };

    // The process's sender, made (and its thread started) on first use; null when that failed.
    static std::shared_ptr<CFileProgressSender> getInstance();
    // The process's sender if there is one; never makes it.
    static std::shared_ptr<CFileProgressSender> findInstance();
    // Forgets the process's sender and stops it; holders keep a stopped sender that sends nothing.
    static void destroyInstance();

    // Throws std::system_error when the thread cannot start.
    explicit CFileProgressSender(NowFunction now = std::chrono::steady_clock::now,
                                 RestTimeouts timeouts = kDefaultRestTimeouts);
    ~CFileProgressSender();
    CFileProgressSender(const CFileProgressSender&) = delete;
    CFileProgressSender& operator=(const CFileProgressSender&) = delete;

    // Whole seconds; below 1 means the default.
    void setInterval(int seconds);
    int interval() const;

    // A file's first event is only recorded; a later one is sent once at least the interval has
    // passed since the last send or record. Never throws and never waits for a send.
    void sendProgress(const std::string& fileId, const std::string& bucketId, const std::string& token,
                      std::uint64_t progress) noexcept;
    // The file completed or left its group: its timestamp and any waiting value go.
    void forgetFile(const std::string& fileId);

    // Drops the waiting sends, interrupts the one on the wire and joins the thread; idempotent.
    void stop();

private:
    struct FileEntry {
        std::chrono::steady_clock::time_point last;
        std::optional<ProgressRequestParams> waiting;
    };

    // True when the event made a value wait that no queued send will pick up yet.
    bool recordEvent(const std::string& fileId, const std::string& bucketId, const std::string& token,
                     std::uint64_t progress);
    void sendWaiting(const std::string& fileId);
    void send(const ProgressRequestParams& params) const;

    const NowFunction m_now;
    const RestTimeouts m_timeouts;
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_lock; // guards the two below; taken alone, never held while sending
    int m_intervalSeconds = kDefaultIntervalSeconds;
    std::map<std::string, FileEntry> m_files;
    std::unique_ptr<CEventDispatcher> m_worker;
};

} // namespace fv_transfers
