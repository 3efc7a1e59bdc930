#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace fv_transfers {

class CTrasfersAsyncTasksExecutor;

// The end of one queued run of a task, shared by the executor and everyone who queued it.
// Every waiter is woken once: when the run ends, or when the task will not run (cancelled,
// removed, or the executor stopped), so no wait outlives the executor.
class TaskCompletion {
public:
    TaskCompletion() = default;
    TaskCompletion(const TaskCompletion&) = delete;
    TaskCompletion& operator=(const TaskCompletion&) = delete;

    void wait() const;
    // True when finished within `timeout`.
    bool waitFor(std::chrono::milliseconds timeout) const;
    bool isFinished() const;
    // Whether the task ran; false when it was dropped before it started.
    bool ran() const;
    // The run's result code; dt_cancelled when it did not run.
    int result() const;

private:
    friend class CTrasfersAsyncTasksExecutor;

    void addCallback(std::function<void(int)> callback);
    // Each caller's callback, on the calling (worker) thread; exceptions are logged.
    void runCallbacks(int code);
    void finish(int code, bool ran);

    mutable std::mutex m_lock;
    mutable std::condition_variable m_finished;
    std::vector<std::function<void(int)>> m_callbacks;
    bool m_done = false;
    bool m_ran = false;
    int m_result = 0;
};

} // namespace fv_transfers
