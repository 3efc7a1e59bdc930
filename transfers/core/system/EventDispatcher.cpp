#include "core/system/EventDispatcher.h"

#include "core/log/FvTransfersLogger.h"

#include <pthread.h>

namespace fv_transfers {

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
        m_thread.detach(); // destroyed by its own task: the thread holds its own share of the state
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
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(state->lock);
            state->wake.wait(lock, [&] { return state->stopping || !state->tasks.empty(); });
            if (state->stopping)
                return;
            task = std::move(state->tasks.front());
            state->tasks.pop_front();
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
