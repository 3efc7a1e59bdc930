#pragma once

#include "framework/StopToken.h"
#include "framework/TaskCompletion.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace fv_transfers {

// Runs the slow REST work of the framework (file preparation, bucket status queries) on a few
// worker threads of its own, away from the engine and the caller. One per manager.
//
// A task has at most one waiting entry: queuing it again merges into that entry (newest
// parameters, every caller's callback, one completion), so each queued flight runs once and
// wakes all its waiters. A task queued while it runs waits behind that run; the same task never
// runs on two workers at once. No call here blocks on a task: what must end is cancelled under
// the lock and handed back to be waited for outside it.
class CTrasfersAsyncTasksExecutor {
public:
    class IAsyncTaskParams {
    public:
        virtual ~IAsyncTaskParams() = default;
    };

    class IAsyncTask {
    public:
        virtual ~IAsyncTask() = default;
        // Runs on a worker. `stop` trips when the run is removed or the executor ends; a long
        // task checks it between steps.
        virtual int exec(std::shared_ptr<IAsyncTaskParams>& params, const CStopToken& stop) = 0;
    };

    using Callback = std::function<void(int)>;

    static constexpr std::chrono::milliseconds kDefaultIdleTime{60000};

    // Workers are named `threadNamePrefix` + their number ("fv-ul-task-1"); none starts before
    // the first task. A worker with nothing to do for `idleTime` leaves.
    CTrasfersAsyncTasksExecutor(unsigned maxWorkers, std::string threadNamePrefix,
                                std::chrono::milliseconds idleTime = kDefaultIdleTime);
    // Drops the waiting tasks (their waiters are woken), stops the running ones through their
    // tokens and joins every worker, however long they take. Not from one of its own workers.
    ~CTrasfersAsyncTasksExecutor();
    // What the destructor does, for an owner that must know the tasks have ended while others
    // still hold the executor: later tasks are dropped at once. Not from one of its own workers.
    void stop();
    CTrasfersAsyncTasksExecutor(const CTrasfersAsyncTasksExecutor&) = delete;
    CTrasfersAsyncTasksExecutor& operator=(const CTrasfersAsyncTasksExecutor&) = delete;

    // The callback runs on the worker after the run, before the completion's waiters wake; it is
    // not called when the task is dropped before it runs. Never blocks.
    std::shared_ptr<TaskCompletion> queueTask(std::shared_ptr<IAsyncTask> task,
                                              std::shared_ptr<IAsyncTaskParams> params = nullptr,
                                              Callback callback = nullptr);
    // Drops the task's waiting entry; a run already started goes on.
    void cancelTask(const IAsyncTask* task);
    // Drops the waiting entry and asks a running run to stop. Returns that run's completion (null
    // when none runs), to be waited for once the caller holds no lock the task may take.
    std::shared_ptr<TaskCompletion> removeTask(const IAsyncTask* task);
    // Below 1 counts as 1. Surplus workers leave when their run ends.
    void setCapacity(unsigned capacity);

    unsigned capacity() const;
    // Workers started and not yet left.
    std::size_t workerCount() const;

private:
    struct Entry {
        std::shared_ptr<IAsyncTask> task;
        std::shared_ptr<IAsyncTaskParams> params;
        std::shared_ptr<TaskCompletion> completion;
        std::shared_ptr<CStopToken> stop;
        bool taken = false;
    };
    struct Worker {
        std::thread thread;
        bool finished = false;
    };
    using Entries = std::list<Entry>;
    using Lock = std::unique_lock<std::mutex>;

    // What a change under the lock leaves to be done after it: completions of dropped entries
    // to wake, entries and finished threads to free.
    struct Released {
        Entries dropped;
        std::list<Worker> finishedWorkers;
        ~Released();
    };

    void run(Worker* self);
    // Takes the first runnable entry, runs it without the lock and removes it; false when none.
    bool runNext(Lock& lock);
    static int execute(Entry& entry);
    Entries::iterator find(const IAsyncTask* task, bool taken);
    Entries::iterator firstRunnable();
    std::size_t runnableCount();
    bool isRunning(const IAsyncTask* task);
    void dropWaiting(const IAsyncTask* task, Released& released);
    // Starts workers while runnable entries outnumber the free ones and the capacity allows;
    // how many started.
    unsigned startWorkers(Released& released);
    bool startWorker();

    const std::string m_threadNamePrefix;
    const std::chrono::milliseconds m_idleTime;

    mutable std::mutex m_lock; // guards everything below
    std::condition_variable m_taskAvailable;
    Entries m_entries; // in queuing order
    std::list<Worker> m_workers;
    unsigned m_capacity;
    std::size_t m_liveWorkers = 0;
    std::size_t m_freeWorkers = 0; // live and not running a task
    unsigned m_startedWorkers = 0; // numbers the thread names
    bool m_stopping = false;
};

} // namespace fv_transfers
