#include "bridge/BridgeSleepCounter.h"

#include "core/system/SleepPreventerCounterProxy.h"

namespace ferrovan {

BridgeSleepCounter& BridgeSleepCounter::getInstance()
{
    static BridgeSleepCounter instance;
    return instance;
}

BridgeSleepCounter::BridgeSleepCounter() = default;

BridgeSleepCounter::~BridgeSleepCounter() = default;

// The counter logs its own failures and the page is told nothing of them, so an exception ends
// here. A hold is counted only once the counter took it.
void BridgeSleepCounter::startPreventing()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    try {
        counter().sleepCounterIncrement();
        ++m_held;
    } catch (const std::exception&) {
    }
}

void BridgeSleepCounter::stopPreventing()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_held > 0)
        giveBackOne();
}

void BridgeSleepCounter::releaseAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    while (m_held > 0)
        giveBackOne();
}

int BridgeSleepCounter::held() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_held;
}

fv_transfers::CSleepPreventerCounterProxy& BridgeSleepCounter::counter()
{
    if (!m_counter)
        m_counter = std::make_unique<fv_transfers::CSleepPreventerCounterProxy>();
    return *m_counter;
}

void BridgeSleepCounter::giveBackOne()
{
    // Counted as given back even when the counter failed: asking again could only take away a
    // hold of another party.
    --m_held;
    try {
        counter().sleepCounterDecrement();
    } catch (const std::exception&) {
    }
}

} // namespace ferrovan
