#include "core/system/EventDispatcher.h"

#include "core/log/FvTransfersLogger.h"

#include <pthread.h>

#include <utility>
#include <vector>

namespace fv_transfers {

namespace {

// A thread cannot join itself. A dispatcher destroyed by one of its own tasks hands its thread
// here: it is joined as soon as a later hand-over finds its loop returned, when the library's
// runtime ends, and at the latest when the process exits.
class FinishedThreadJoiner {
public:
    static FinishedThreadJoiner& instance()
    {
        static FinishedThreadJoiner joiner;
        return joiner;
    }

    ~FinishedThreadJoiner() { joinAll(); }

    // A thread still running its last task is waited for: its dispatcher is already stopped.
    void joinAll()
    {
        std::vector<std::thread> adopted; // joined outside the lock
        {
            std::lock_guard<std::mutex> lock(m_lock);
            for (auto it = m_threads.begin(); it != m_threads.end();) {
                if (it->thread.get_id() != std::this_thread::get_id()) {
                    adopted.push_back(std::move(it->thread));
                    it = m_threads.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (std::thread& thread : adopted)
            thread.join();
    }

    void adopt(std::thread thread, std::shared_ptr<const std::atomic<bool>> ended)
    {
        std::vector<std::thread> finished; // joined outside the lock
        {
            std::lock_guard<std::mutex> lock(m_lock);
            for (auto it = m_threads.begin(); it != m_threads.end();) {
                if (*it->ended) {
                    finished.push_back(std::move(it->thread));
                    it = m_threads.erase(it);
                } else {
                    ++it;
                }
            }
            m_threads.push_back(Entry{std::move(thread), std::move(ended)});
        }
        for (std::thread& done : finished)
            done.join();
    }

private:
    struct Entry {
        std::thread thread;
        std::shared_ptr<const std::atomic<bool>> ended;
    };
    std::mutex m_lock;
    std::vector<Entry> m_threads;
};

} // namespace

void CEventDispatcher::joinHandedOverThreads()
{
    FinishedThreadJoiner::instance().joinAll();
}

CEventDispatcher::CEventDispatcher(const std::string& threadName) : m_state(std::make_shared<State>())
{
    std::shared_ptr<State> state = m_state;
    m_thread = std::thread([state] { run(state); });
    m_threadId = m_thread.get_id();
    // Linux limits thread names to 15 characters.
    ::pthread_setname_np(m_thread.native_handle(), threadName.substr(0, 15).c_str());
}

CEventDispatcher::~CEventDispatcher()
{
    stop();
    std::lock_guard<std::mutex> lock(m_threadLock);
    if (m_thread.joinable())
        FinishedThreadJoiner::instance().adopt(std::move(m_thread),
                                               std::shared_ptr<const std::atomic<bool>>(m_state, &m_state->ended));
}

bool CEventDispatcher::post(std::function<void()> task)
{
    // The task may destroy this dispatcher's owner before post returns: only the shared state is
    // used once the task is queued.
    const std::shared_ptr<State> state = m_state;
    {
        std::lock_guard<std::mutex> lock(state->lock);
        if (state->stopping)
            return false;
        state->tasks.push_back(std::move(task));
    }
    state->wake.notify_one();
    return true;
}

void CEventDispatcher::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_state->lock);
        m_state->stopping = true;
        m_state->tasks.clear();
    }
    m_state->wake.notify_one();
    if (std::this_thread::get_id() == m_threadId)
        return;
    // A task that stops its own dispatcher takes no lock here, so joining under it is safe, and a
    // concurrent stop returns only once the thread has ended too.
    std::lock_guard<std::mutex> lock(m_threadLock);
    if (m_thread.joinable())
        m_thread.join();
}

void CEventDispatcher::run(std::shared_ptr<State> state)
{
    runTasks(*state);
    state->ended = true;
}

void CEventDispatcher::runTasks(State& state)
{
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(state.lock);
            state.wake.wait(lock, [&] { return state.stopping || !state.tasks.empty(); });
            if (state.stopping)
                return;
            task = std::move(state.tasks.front());
            state.tasks.pop_front();
        }
        try {
            task();
        } catch (const std::exception& e) {
            FV_LOG_ERROR("fv_transfers::CEventDispatcher::run: Exception: " << e.what());
        } catch (...) {
            FV_LOG_ERROR("fv_transfers::CEventDispatcher::run: unknown exception");
        }
    }
}

} // namespace fv_transfers
