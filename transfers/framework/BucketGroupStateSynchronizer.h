#pragma once

#include "core/rest/TransferRestRecords.h"
#include "framework/GroupManagerBase.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

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
    // Shared with the tasks' callbacks, so an answer arriving after the synchroniser has gone
    // meets live state and is dropped.
    struct State;
    // With the state's lock held.
    static void scheduleStatusUpdatesLocked(const std::shared_ptr<State>& state);
    // Drops the queued requests and asks running ones to stop; never waits.
    void cancelRequests(const std::vector<std::shared_ptr<CBucketStatusUpdateTask>>& tasks);

    CGroupManagerBase& m_groupManager;
    const std::shared_ptr<CTrasfersAsyncTasksExecutor> m_executor;
    const bool m_download;
    const std::chrono::milliseconds m_bound;
    const std::shared_ptr<State> m_state;
};

} // namespace fv_transfers
