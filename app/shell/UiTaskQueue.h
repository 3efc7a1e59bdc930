#pragma once

#include <functional>
#include <memory>
#include <string>

namespace ferrovan {

// The way other threads reach the UI thread: whatever must touch the toolkit is posted here.
class IUiTaskQueue {
public:
    virtual ~IUiTaskQueue() = default;
    // From any thread: runs `task` on the UI thread soon, after the tasks posted before it. A
    // task that throws is logged and the others still run. Tasks still queued when the queue
    // ends are dropped, never run.
    virtual void post(std::function<void()> task) = 0;
};

// On the UI thread.
std::unique_ptr<IUiTaskQueue> createUiTaskQueue();

// Runs `task`, logging instead of passing on what it throws: nothing may unwind through the
// toolkit's loop. `where` opens the log line ("ferrovan::Class::function").
void runLoggingFailure(const std::function<void()>& task, const std::string& where);

} // namespace ferrovan
