#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace fv_transfers {

// One owned thread that runs posted tasks in order. Events of the library's monitors leave
// through it, so a subscriber never runs on a shared pool that outlives the event's owner.
class CEventDispatcher {
public:
    explicit CEventDispatcher(const std::string& threadName);
    // stop(), and joins the thread. Destroyed by one of its own tasks, it cannot wait for itself:
    // the thread is then handed to the process's joiner of finished threads.
    ~CEventDispatcher();
    CEventDispatcher(const CEventDispatcher&) = delete;
    CEventDispatcher& operator=(const CEventDispatcher&) = delete;

    // Joins the threads of dispatchers that their own tasks destroyed (the library's runtime
    // calls it at its end). Not from inside a dispatcher's task: that thread is skipped.
    static void joinHandedOverThreads();

    // False once stopped; the task is then dropped.
    bool post(std::function<void()> task);

    // Drops the queued tasks and waits for the running one, so that nothing posted here runs
    // after the return. Called from inside one of its own tasks it cannot wait for itself: the
    // join is then left to the destructor or to a stop from another thread.
    void stop();

private:
    struct State {
        std::mutex lock;
        std::condition_variable wake;
        std::deque<std::function<void()>> tasks;
        bool stopping = false;
        std::atomic<bool> ended{false}; // the loop has returned: a join takes no time
    };
    static void run(std::shared_ptr<State> state);
    static void runTasks(State& state);

    std::shared_ptr<State> m_state;
    std::mutex m_threadLock;
    std::thread m_thread;
    std::thread::id m_threadId;
};

} // namespace fv_transfers
