#include "framework/TrasfersAsyncTasksExecutor.h"

#include "core/base/DtError.h"
#include "core/base/FvTransfersException.h"
#include "core/log/FvTransfersLogger.h"

#include <pthread.h>

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

namespace fv_transfers {

CTrasfersAsyncTasksExecutor::Released::~Released()
{
    for (const Entry& entry : dropped)
        entry.completion->finish(dt_cancelled, false);
    // Only threads whose loop has returned are here: the joins take no time.
    for (Worker& worker : finishedWorkers)
        worker.thread.join();
}

CTrasfersAsyncTasksExecutor::CTrasfersAsyncTasksExecutor(unsigned maxWorkers, std::string threadNamePrefix,
                                                         std::chrono::milliseconds idleTime)
    : m_threadNamePrefix(std::move(threadNamePrefix)), m_idleTime(idleTime), m_capacity(std::max(1u, maxWorkers))
{
}

CTrasfersAsyncTasksExecutor::~CTrasfersAsyncTasksExecutor()
{
    FV_LOG_INFO("Destroying task executor");
    stop();
    FV_LOG_INFO("Task executor destroyed");
}

void CTrasfersAsyncTasksExecutor::stop()
{
    std::list<Worker> workers;
    {
        Released released;
        Lock lock(m_lock);
        m_stopping = true;
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            auto next = std::next(it);
            if (it->taken)
                it->stop->requestStop();
            else
                released.dropped.splice(released.dropped.end(), m_entries, it);
            it = next;
        }
        workers.splice(workers.end(), m_workers);
        m_taskAvailable.notify_all();
    }
    // No time-out: a task still running uses this executor until it returns.
    for (Worker& worker : workers)
        worker.thread.join();
}

std::shared_ptr<TaskCompletion> CTrasfersAsyncTasksExecutor::queueTask(std::shared_ptr<IAsyncTask> task,
                                                                       std::shared_ptr<IAsyncTaskParams> params,
                                                                       Callback callback)
{
    if (!task)
        throw CInvalidParamException("fv_transfers::CTrasfersAsyncTasksExecutor::queueTask", "task");
    Released released;
    Lock lock(m_lock);
    if (m_stopping) {
        auto completion = std::make_shared<TaskCompletion>();
        completion->finish(dt_cancelled, false);
        return completion;
    }
    auto waiting = find(task.get(), false);
    if (waiting != m_entries.end()) {
        // The replaced parameters end with this call's argument, after the lock is released.
        std::swap(waiting->params, params);
        waiting->completion->addCallback(std::move(callback));
        return waiting->completion;
    }
    Entry entry;
    entry.task = std::move(task);
    entry.params = std::move(params);
    entry.completion = std::make_shared<TaskCompletion>();
    entry.completion->addCallback(std::move(callback));
    entry.stop = std::make_shared<CStopToken>();
    m_entries.push_back(std::move(entry));
    std::shared_ptr<TaskCompletion> completion = m_entries.back().completion;
    startWorkers(released);
    m_taskAvailable.notify_one();
    return completion;
}

void CTrasfersAsyncTasksExecutor::cancelTask(const IAsyncTask* task)
{
    Released released;
    Lock lock(m_lock);
    dropWaiting(task, released);
}

std::shared_ptr<TaskCompletion> CTrasfersAsyncTasksExecutor::removeTask(const IAsyncTask* task)
{
    Released released;
    Lock lock(m_lock);
    dropWaiting(task, released);
    auto running = find(task, true);
    if (running == m_entries.end())
        return nullptr;
    running->stop->requestStop();
    return running->completion;
}

void CTrasfersAsyncTasksExecutor::setCapacity(unsigned capacity)
{
    capacity = std::max(1u, capacity);
    Released released;
    Lock lock(m_lock);
    const long long delta = static_cast<long long>(capacity) - m_capacity;
    m_capacity = capacity;
    FV_LOG_INFO("Task Executor: "
                << "Added thread pool capacity: " << delta);
    if (m_liveWorkers > m_capacity) {
        FV_LOG_INFO("Task Executor: "
                    << "Decreasing number of running workers by " << m_liveWorkers - m_capacity);
        // Idle workers leave at once; busy ones when their run ends.
        m_taskAvailable.notify_all();
        return;
    }
    const unsigned started = startWorkers(released);
    if (started > 0)
        FV_LOG_INFO("Task Executor: "
                    << "Increasing number of workers by " << started);
}

unsigned CTrasfersAsyncTasksExecutor::capacity() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_capacity;
}

std::size_t CTrasfersAsyncTasksExecutor::workerCount() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_liveWorkers;
}

void CTrasfersAsyncTasksExecutor::run(Worker* self)
{
    Lock lock(m_lock);
    for (;;) {
        if (m_stopping)
            break;
        if (m_liveWorkers > m_capacity) {
            FV_LOG_INFO("Task Executor: stopping worker thread to fit the capacity");
            break;
        }
        if (runNext(lock))
            continue;
        const bool woken = m_taskAvailable.wait_for(lock, m_idleTime, [this] {
            return m_stopping || m_liveWorkers > m_capacity || firstRunnable() != m_entries.end();
        });
        if (!woken)
            break;
    }
    --m_liveWorkers;
    --m_freeWorkers;
    self->finished = true;
    lock.unlock();
    FV_LOG_INFO("Exiting task executor thread");
}

bool CTrasfersAsyncTasksExecutor::runNext(Lock& lock)
{
    const auto it = firstRunnable();
    if (it == m_entries.end())
        return false;
    it->taken = true;
    --m_freeWorkers;
    Entry entry = *it;
    lock.unlock();

    const int code = execute(entry);

    // Only waiting entries are ever dropped by others: `it` still names this run.
    Entries done;
    lock.lock();
    done.splice(done.end(), m_entries, it);
    ++m_freeWorkers;
    lock.unlock();
    entry.completion->finish(code, true);
    done.clear();
    entry = Entry();
    lock.lock();
    return true;
}

int CTrasfersAsyncTasksExecutor::execute(Entry& entry)
{
    int code = dt_general_error;
    try {
        code = entry.task->exec(entry.params, *entry.stop);
    } catch (const std::exception& e) {
        FV_LOG_ERROR("fv_transfers::CTrasfersAsyncTasksExecutor::run: Exception: " << e.what());
    } catch (...) {
        FV_LOG_ERROR("fv_transfers::CTrasfersAsyncTasksExecutor::run: unknown exception");
    }
    entry.completion->runCallbacks(code);
    return code;
}

CTrasfersAsyncTasksExecutor::Entries::iterator CTrasfersAsyncTasksExecutor::find(const IAsyncTask* task, bool taken)
{
    return std::find_if(m_entries.begin(), m_entries.end(),
                        [&](const Entry& entry) { return entry.task.get() == task && entry.taken == taken; });
}

bool CTrasfersAsyncTasksExecutor::isRunning(const IAsyncTask* task)
{
    return find(task, true) != m_entries.end();
}

CTrasfersAsyncTasksExecutor::Entries::iterator CTrasfersAsyncTasksExecutor::firstRunnable()
{
    return std::find_if(m_entries.begin(), m_entries.end(),
                        [&](const Entry& entry) { return !entry.taken && !isRunning(entry.task.get()); });
}

std::size_t CTrasfersAsyncTasksExecutor::runnableCount()
{
    return static_cast<std::size_t>(std::count_if(m_entries.begin(), m_entries.end(), [&](const Entry& entry) {
        return !entry.taken && !isRunning(entry.task.get());
    }));
}

void CTrasfersAsyncTasksExecutor::dropWaiting(const IAsyncTask* task, Released& released)
{
    const auto waiting = find(task, false);
    if (waiting != m_entries.end())
        released.dropped.splice(released.dropped.end(), m_entries, waiting);
}

unsigned CTrasfersAsyncTasksExecutor::startWorkers(Released& released)
{
    for (auto it = m_workers.begin(); it != m_workers.end();) {
        auto next = std::next(it);
        if (it->finished)
            released.finishedWorkers.splice(released.finishedWorkers.end(), m_workers, it);
        it = next;
    }
    unsigned started = 0;
    const std::size_t runnable = runnableCount();
    while (!m_stopping && runnable > m_freeWorkers && m_liveWorkers < m_capacity && startWorker())
        ++started;
    return started;
}

bool CTrasfersAsyncTasksExecutor::startWorker()
{
    m_workers.emplace_back();
    Worker* worker = &m_workers.back();
    try {
        worker->thread = std::thread([this, worker] { run(worker); });
    } catch (const std::system_error& e) {
        m_workers.pop_back();
        FV_LOG_WARNING("Task Executor: Exception caught when starting a new worker: " << e.what());
        return false;
    }
    // The new thread waits for the lock this call holds, so it sees these counts.
    ++m_liveWorkers;
    ++m_freeWorkers;
    const std::string name = m_threadNamePrefix + std::to_string(++m_startedWorkers);
    // Linux limits thread names to 15 characters.
    ::pthread_setname_np(worker->thread.native_handle(), name.substr(0, 15).c_str());
    return true;
}

} // namespace fv_transfers
