#pragma once

#include "framework/TransferGroup.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace fv_transfers {

// Gives an errored group a second chance without the user: a registered group is asked to
// resume itself (automatically) once its delay has passed. Groups are held weakly, so a group
// destroyed while it waits is dropped, never used. One worker thread "fv-restarter", owned by
// this object and joined by stop(); the library's runtime stops the process-wide instance when
// it ends. Due times run on the monotonic clock, so a suspended machine does not count.
class CFailedGroupsRestarter {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds kDefaultInterval{300000};

    // The process's restarter, made (and its worker started) on first use.
    static std::shared_ptr<CFailedGroupsRestarter> getInstance();
    // The process's restarter if there is one; never makes it.
    static std::shared_ptr<CFailedGroupsRestarter> findInstance();
    // Forgets the process's restarter and stops its worker; holders keep a stopped restarter
    // that stores registrations and resumes nothing.
    static void destroyInstance();

    explicit CFailedGroupsRestarter(std::chrono::milliseconds interval = kDefaultInterval);
    ~CFailedGroupsRestarter();
    CFailedGroupsRestarter(const CFailedGroupsRestarter&) = delete;
    CFailedGroupsRestarter& operator=(const CFailedGroupsRestarter&) = delete;

    // Due one interval from now; a later registration of the same group replaces the earlier.
    void registerGroup(const std::shared_ptr<ITransferGroup>& group);
    void unregisterGroup(const ITransferGroup* group);
    bool isRegistered(const ITransferGroup* group) const;
    // The delay given to later registrations.
    void setInterval(std::chrono::milliseconds interval);
    // Ends the worker and joins it; idempotent. Never call it from a group's requestResume.
    void stop();
    bool isRunning() const;

private:
    struct Entry {
        std::weak_ptr<ITransferGroup> group;
        Clock::time_point due;
    };

    void run();
    // The groups due by `now`, taken out of the map; gone groups are dropped.
    std::vector<std::shared_ptr<ITransferGroup>> takeDueGroups(Clock::time_point now);

    mutable std::mutex m_lock; // guards everything below; never held while a group is called
    std::condition_variable m_wake;
    bool m_stop = false;
    std::chrono::milliseconds m_interval;
    // Keyed by address only to find a group's entry; the weak pointer decides whether it lives.
    std::map<const ITransferGroup*, Entry> m_due;
    std::mutex m_joinLock; // serialises stop() callers around the join
    std::thread m_thread;
};

} // namespace fv_transfers
