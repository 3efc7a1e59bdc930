#pragma once

#include <functional>
#include <memory>

namespace ferrovan {

// What the updater needs of the UI thread's loop.
class IUpdaterLoop {
public:
    virtual ~IUpdaterLoop() = default;
    // From any thread: runs `task` on the UI thread soon. Tasks still queued when the loop
    // object ends are dropped.
    virtual void post(std::function<void()> task) = 0;
    // UI thread: calls `tick` on the UI thread every `seconds` until stopRepeating.
    virtual void startRepeating(unsigned seconds, std::function<void()> tick) = 0;
    virtual void stopRepeating() = 0;
};

std::unique_ptr<IUpdaterLoop> createUpdaterLoop();

} // namespace ferrovan
