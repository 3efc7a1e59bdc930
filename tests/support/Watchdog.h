#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

namespace fv_test {

// Fails the test process when its scope has not ended by the deadline, so a hang is reported as
// a failure instead of stalling the run.
class Watchdog {
public:
    Watchdog(std::string what, std::chrono::seconds deadline = std::chrono::seconds(20))
        : m_thread([this, what, deadline] {
              std::unique_lock<std::mutex> lock(m_lock);
              if (m_done.wait_for(lock, deadline, [this] { return m_finished; }))
                  return;
              std::fprintf(stderr, "Failure: %s did not return\n", what.c_str());
              std::fflush(stderr);
              std::_Exit(EXIT_FAILURE);
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_finished = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    bool m_finished = false;
    std::thread m_thread; // last: started once the members it uses exist
};

} // namespace fv_test
