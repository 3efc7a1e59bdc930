#include "framework/BucketGroupStateSynchronizer.h"

#include "core/log/FvTransfersLogger.h"
#include "framework/BucketStatusAction.h"
#include "framework/BucketStatusUpdateTask.h"
#include "framework/TrasfersAsyncTasksExecutor.h"

#include <condition_variable>
#include <map>
#include <mutex>

namespace fv_transfers {

namespace {

constexpr const char* kInitSync = "fv_transfers::CBucketGroupStateSynchronizer::initSync";

std::int64_t wallClockMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

struct CBucketGroupStateSynchronizer::State {
    struct Entry {
        std::shared_ptr<ITransferGroup> group;
        std::string bucketId;
        std::shared_ptr<CBucketStatusUpdateTask> task;
        std::uint64_t ticket = 0; // which request an answer belongs to
        bool answered = false;
        BucketStatusInfo status;
    };

    CGroupManagerBase* groupManager = nullptr;
    std::shared_ptr<CTrasfersAsyncTasksExecutor> executor;

    std::mutex lock; // everything below
    std::condition_variable changed;
    std::map<std::int32_t, Entry> schedule; // by group id: actions run in id order
    std::map<std::int32_t, int> results;    // by group id: the task's code
    bool stop = false;
    int waiters = 0; // threads inside initSync
    std::uint64_t tickets = 0;
};

CBucketGroupStateSynchronizer::CBucketGroupStateSynchronizer(CGroupManagerBase& groupManager,
                                                             std::shared_ptr<CTrasfersAsyncTasksExecutor> executor,
                                                             bool download, std::chrono::milliseconds bound)
    : m_groupManager(groupManager), m_executor(std::move(executor)), m_download(download), m_bound(bound),
      m_state(std::make_shared<State>())
{
    m_state->groupManager = &m_groupManager;
    m_state->executor = m_executor;
    std::lock_guard<std::mutex> lock(m_state->lock);
    scheduleStatusUpdatesLocked(m_state);
}

CBucketGroupStateSynchronizer::~CBucketGroupStateSynchronizer()
{
    std::vector<std::shared_ptr<CBucketStatusUpdateTask>> tasks;
    {
        std::unique_lock<std::mutex> lock(m_state->lock);
        m_state->stop = true;
        m_state->changed.notify_all();
        // A wait in initSync on another thread ends now; it must leave before this object goes.
        m_state->changed.wait(lock, [&] { return m_state->waiters == 0; });
        for (const auto& entry : m_state->schedule)
            tasks.push_back(entry.second.task);
        m_state->schedule.clear();
        m_state->results.clear();
    }
    cancelRequests(tasks);
}

void CBucketGroupStateSynchronizer::scheduleStatusUpdatesLocked(const std::shared_ptr<State>& state)
{
    if (!state->executor || !state->groupManager)
        return;
    const std::weak_ptr<State> weak = state;
    // The entry a late answer belongs to, or null when it is no longer scheduled.
    const auto entryOf = [](State& shared, std::int32_t groupId, std::uint64_t ticket) -> State::Entry* {
        const auto found = shared.schedule.find(groupId);
        return found != shared.schedule.end() && found->second.ticket == ticket ? &found->second : nullptr;
    };
    for (const CGroupManagerBase::GroupPtr& group : state->groupManager->getGroups()) {
        State::Entry entry;
        entry.group = group;
        entry.ticket = ++state->tickets;
        group->getBucketId(entry.bucketId);
        std::string token;
        group->getBucketToken(token);
        const std::int32_t groupId = group->getGroupId();
        const std::uint64_t ticket = entry.ticket;
        entry.task = std::make_shared<CBucketStatusUpdateTask>(
            entry.bucketId, token, [weak, entryOf, groupId, ticket](const BucketStatusInfo& status) {
                const auto shared = weak.lock();
                if (!shared)
                    return;
                std::lock_guard<std::mutex> lock(shared->lock);
                if (State::Entry* found = entryOf(*shared, groupId, ticket)) {
                    found->status = status;
                    found->answered = true;
                }
            });
        const std::shared_ptr<CBucketStatusUpdateTask> task = entry.task;
        state->schedule[groupId] = std::move(entry);
        state->executor->queueTask(task, nullptr, [weak, entryOf, groupId, ticket](int code) {
            const auto shared = weak.lock();
            if (!shared)
                return;
            std::lock_guard<std::mutex> lock(shared->lock);
            if (!entryOf(*shared, groupId, ticket))
                return;
            shared->results[groupId] = code;
            if (shared->results.size() == shared->schedule.size()) {
                FV_LOG_INFO("Bucket status updated for all active groups");
                shared->changed.notify_all();
            }
        });
    }
    state->results.clear();
}

void CBucketGroupStateSynchronizer::cancelRequests(const std::vector<std::shared_ptr<CBucketStatusUpdateTask>>& tasks)
{
    if (!m_executor)
        return;
    // A running request is asked to stop; its late answer finds no entry. Nothing waits here.
    for (const auto& task : tasks)
        m_executor->removeTask(task.get());
}

void CBucketGroupStateSynchronizer::initSync()
{
    const std::shared_ptr<State> state = m_state;
    std::map<std::int32_t, State::Entry> schedule;
    std::map<std::int32_t, int> results;
    {
        std::unique_lock<std::mutex> lock(state->lock);
        if (state->stop)
            return;
        if (state->schedule.empty())
            scheduleStatusUpdatesLocked(state);
        if (state->schedule.empty()) {
            FV_LOG_INFO(kInitSync << ": No groups scheduled for bucket status update");
            return;
        }
        ++state->waiters;
        if (state->results.size() < state->schedule.size()) {
            FV_LOG_INFO(kInitSync << ": Start waiting for bucket status update");
            state->changed.wait_for(lock, m_bound,
                                    [&] { return state->stop || state->results.size() >= state->schedule.size(); });
        }
        --state->waiters;
        state->changed.notify_all();
        if (state->stop)
            return;
        schedule.swap(state->schedule);
        results.swap(state->results);
    }

    std::vector<std::shared_ptr<CBucketStatusUpdateTask>> unanswered;
    for (auto& scheduled : schedule) {
        State::Entry& entry = scheduled.second;
        const auto result = results.find(scheduled.first);
        if (result == results.end() || result->second != 0 || !entry.answered) {
            if (result == results.end()) {
                unanswered.push_back(entry.task);
                FV_LOG_WARNING("CBucketGroupStateSynchronizer: No answer about bucket with id: "
                               << entry.bucketId << " within " << m_bound.count() << " ms");
            }
            FV_LOG_WARNING("CBucketGroupStateSynchronizer: Failed to update status of bucket with id: "
                           << entry.bucketId << ". No action will be performed on this bucket");
            continue;
        }
        if (std::unique_ptr<IBucketStatusAction> action =
                createBucketStatusAction(entry.status, entry.group, m_download, wallClockMs()))
            action->execute();
    }
    cancelRequests(unanswered);
}

} // namespace fv_transfers
