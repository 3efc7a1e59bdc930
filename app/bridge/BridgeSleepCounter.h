#pragma once

#include <memory>
#include <mutex>

namespace fv_transfers {
class CSleepPreventerCounterProxy;
}

namespace ferrovan {

// The page's own hold on the machine's sleep: one counter of the library, apart from the ones
// its transfers keep, and the number of holds the page took on it. The page cannot give back
// more than it took, and what it still holds is given back when it is gone, so a page that
// asked and then went away never keeps the machine awake. Any thread may call.
class BridgeSleepCounter {
public:
    // The process's one counter of the bridge.
    static BridgeSleepCounter& getInstance();

    BridgeSleepCounter();
    ~BridgeSleepCounter();
    BridgeSleepCounter(const BridgeSleepCounter&) = delete;
    BridgeSleepCounter& operator=(const BridgeSleepCounter&) = delete;

    // One more hold: the machine stays awake from the first.
    void startPreventing();
    // One hold fewer; nothing when the page holds none.
    void stopPreventing();
    // Gives back every hold the page took. The browser host calls it when the page reloads or
    // navigates away, when the page's process ends and when the browser closes; the bridge's
    // handler does when it is destroyed.
    void releaseAll();
    // The holds taken and not given back.
    int held() const;

private:
    // Created on first use. Both under m_mutex.
    fv_transfers::CSleepPreventerCounterProxy& counter();
    void giveBackOne();

    mutable std::mutex m_mutex;
    std::unique_ptr<fv_transfers::CSleepPreventerCounterProxy> m_counter;
    int m_held = 0;
};

} // namespace ferrovan
