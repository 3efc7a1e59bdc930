#pragma once

#include "browser/host/CefBaseRefCounted.h"
#include "browser/host/CefRefPtr.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace fvcef {

// The threads a task may be posted to; the program has one, the UI thread.
enum CefThreadId { TID_UI };

// A unit of work posted to a thread.
class CefTask : public virtual CefBaseRefCounted {
public:
    virtual void Execute() = 0;
};

// From any thread. A posted task always runs later on the UI thread, never inside the call,
// after the tasks posted before it; false when it was dropped (no UI thread to run it).
bool CefPostTask(CefThreadId thread, CefRefPtr<CefTask> task);
bool CefPostTask(CefThreadId thread, std::function<void()> task);
// As CefPostTask, at the earliest `delay_ms` milliseconds from now.
bool CefPostDelayedTask(CefThreadId thread, CefRefPtr<CefTask> task, std::int64_t delay_ms);
bool CefPostDelayedTask(CefThreadId thread, std::function<void()> task, std::int64_t delay_ms);
bool CefCurrentlyOn(CefThreadId thread);

// Ends the program's message loop; from any thread.
void cef_quit_message_loop();

// While it stands, the calling thread is the UI thread the tasks above run on, through the
// program's UI task queue; made on that thread once the toolkit runs. Tasks still queued when it
// ends are dropped.
class CefUiThread {
public:
    virtual ~CefUiThread() = default;
};
std::unique_ptr<CefUiThread> CefStartUiThread();

} // namespace fvcef
