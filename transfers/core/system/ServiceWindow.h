#pragma once

#include "core/system/ConnectivityBroadcaster.h"
#include "core/system/EventDispatcher.h"
#include "core/system/PowerMode.h"

#include <Poco/BasicEvent.h>
#include <Poco/Mutex.h>
#include <Poco/Runnable.h>
#include <Poco/Thread.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>

namespace fv_transfers {

class CServiceWindowLinux;

// The library's service thread: there the platform half learns of sleep and wake and of network
// changes, and the power event is raised on a thread of its own.
class CServiceWindow : public Poco::Runnable {
public:
    static constexpr std::uint32_t kPowerModeSuspending = fv_transfers::kPowerModeSuspending;
    static constexpr std::uint32_t kPowerModeResumed = fv_transfers::kPowerModeResumed;
    using PowerModeChangeData = fv_transfers::PowerModeChangeData;

    class CNotInitializedException : public std::exception {
    public:
        const char* what() const noexcept override;
    };

    // The process's instance, used by the library's start-up and shut-down:
    // create() makes and publishes one unless one exists, and is false only when none could be
    // made (a missing system bus is not a failure: the window then reports no power events).
    static bool create();
    // Stops the thread and forgets the instance; holders of it keep a stopped, silent object.
    static void destroy();
    // Throws CNotInitializedException when there is none.
    static std::shared_ptr<CServiceWindow> getInstance();

    // Starts the thread and waits, at most `readyWait`, until it listens, so no event after the
    // return is missed. Connecting to a live bus takes milliseconds; a hung one must not hold up
    // the library's start.
    explicit CServiceWindow(std::chrono::milliseconds readyWait = std::chrono::seconds(10));
    ~CServiceWindow() override;
    CServiceWindow(const CServiceWindow&) = delete;
    CServiceWindow& operator=(const CServiceWindow&) = delete;

    // Stops the event thread (waiting for a delivery under way, dropping the queued ones), then
    // wakes the loop and joins the thread: no power event starts once stop has begun.
    // Idempotent.
    void stop();

    // Whether logind's signal is subscribed (false without a system bus).
    bool listensToPower() const;
    std::shared_ptr<CConnectivityBroadcaster> connectivity() const { return m_connectivity; }

    // Raised on the window's event thread, never on the caller's, never after stop().
    // A subscriber must not take a lock held where the window is stopped or destroyed.
    Poco::BasicEvent<const PowerModeChangeData, Poco::FastMutex> powerEvent;

    void run() override;

private:
    void raisePowerEvent(std::uint32_t powerMode);
    void markReady(bool listensToPower);

    std::unique_ptr<CServiceWindowLinux> m_platform;
    std::shared_ptr<CConnectivityBroadcaster> m_connectivity;
    CEventDispatcher m_events;
    Poco::Thread m_thread;
    std::mutex m_joinLock;
    bool m_joined = false;

    mutable std::mutex m_readyLock;
    std::condition_variable m_readyCondition;
    bool m_ready = false;
    bool m_listensToPower = false;
};

} // namespace fv_transfers
