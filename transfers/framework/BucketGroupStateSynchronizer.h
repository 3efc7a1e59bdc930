#pragma once

#include "core/rest/TransferRestRecords.h"
#include "framework/GroupManagerBase.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace fv_transfers {

class CBucketStatusUpdateTask;
class CTrasfersAsyncTasksExecutor;
class TaskCompletion;

// Asks the service for the bucket of every restored group before the engine starts, and cancels
// the groups of buckets that are gone, or pauses upload groups that may no longer upload. The
// questions go out at construction, on the proxy's executor; initSync waits for the answers, but
// never longer than its bound: a group without an answer by then is left alone.
class CBucketGroupStateSynchronizer {
public:
    static constexpr std::chrono::milliseconds kDefaultBound{15000};

    // Schedules a status request for every group the manager holds.
    CBucketGroupStateSynchronizer(CGroupManagerBase& groupManager,
                                  std::shared_ptr<CTrasfersAsyncTasksExecutor> executor, bool download,
                                  std::chrono::milliseconds bound = kDefaultBound);
    // Ends a wait in initSync on another thread, drops the queued requests and waits for the
    // running ones; a late answer is dropped.
    ~CBucketGroupStateSynchronizer();
    CBucketGroupStateSynchronizer(const CBucketGroupStateSynchronizer&) = delete;
    CBucketGroupStateSynchronizer& operator=(const CBucketGroupStateSynchronizer&) = delete;

    // Waits (at most the bound) until every scheduled group's bucket has answered, applies the
    // actions in group-id order and forgets the schedule; a later call schedules afresh.
    void initSync();

private:
    struct Entry {
        std::shared_ptr<ITransferGroup> group;
        std::shared_ptr<CBucketStatusUpdateTask> task;
        std::shared_ptr<TaskCompletion> completion;
        bool answered = false;
        BucketStatusInfo status;
    };

    // With m_lock held.
    void scheduleStatusUpdatesLocked();
    void onTaskCompleted(std::int32_t groupId, const std::shared_ptr<CBucketStatusUpdateTask>& task, int code);
    // Takes the schedule out under the lock; cancels and waits outside it.
    void dropSchedule();

    CGroupManagerBase& m_groupManager;
    const std::shared_ptr<CTrasfersAsyncTasksExecutor> m_executor;
    const bool m_download;
    const std::chrono::milliseconds m_bound;

    std::mutex m_lock; // the schedule, the results and the stop flag
    std::condition_variable m_answered;
    std::map<std::int32_t, Entry> m_schedule; // by group id
    std::map<std::int32_t, int> m_results;    // by group id: the task's code
    bool m_stop = false;
    int m_waiters = 0; // threads inside initSync; the destructor waits for them to leave
    std::condition_variable m_left;
};

} // namespace fv_transfers
