#pragma once

#include "core/base/FvTransfersExport.h"
#include "core/system/SleepPreventer.h"

#include <Poco/Mutex.h>

#include <memory>

namespace fv_transfers {

// Counts the parties that need the machine awake; the machine is kept awake while the count is
// above zero. Increments and decrements may come from any threads.
class FV_TRANSFERS_API CSleepPreventerCounterProxy {
public:
    CSleepPreventerCounterProxy();
    // The library's own counter, shared by its transfer managers; not exported.
    __attribute__((visibility("hidden"))) static CSleepPreventerCounterProxy& getInstance();
    // Counts with the given preventer; not exported.
    __attribute__((visibility("hidden"))) explicit CSleepPreventerCounterProxy(
        std::shared_ptr<ISleepPreventer> preventer);
    ~CSleepPreventerCounterProxy();
    CSleepPreventerCounterProxy(const CSleepPreventerCounterProxy&) = delete;
    CSleepPreventerCounterProxy& operator=(const CSleepPreventerCounterProxy&) = delete;

    void sleepCounterIncrement();
    void sleepCounterDecrement();

private:
    std::shared_ptr<ISleepPreventer> m_preventer;
    int m_counter = 0;
    Poco::FastMutex m_mutex;
};

} // namespace fv_transfers
