#pragma once

#include "shell/UiTaskQueue.h"

#include <glib.h>

namespace ferrovan {

// Makes `queue` the target of CefPostTask and the calling thread the UI thread while it
// stands. Delayed tasks become timeouts on `context` (null: the default context), the context
// that runs the queue. Tasks posted once it has ended are dropped, and so are delayed tasks
// still waiting then. One stands at a time, on the UI thread.
class CefUiThreadLinux {
public:
    explicit CefUiThreadLinux(IUiTaskQueue& queue, GMainContext* context = nullptr);
    ~CefUiThreadLinux();
    CefUiThreadLinux(const CefUiThreadLinux&) = delete;
    CefUiThreadLinux& operator=(const CefUiThreadLinux&) = delete;
};

} // namespace ferrovan
