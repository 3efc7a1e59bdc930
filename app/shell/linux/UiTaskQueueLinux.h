#pragma once

#include "shell/UiTaskQueue.h"

#include <glib.h>

#include <deque>
#include <functional>
#include <mutex>

namespace ferrovan {

// Tasks wait in a queue under our own mutex and are run by one source of a GLib main context,
// woken with g_main_context_wakeup: handing closures to GLib from another thread
// (g_main_context_invoke, g_idle_add) would pass them through locks the thread sanitizer
// cannot see.
class UiTaskQueueLinux : public IUiTaskQueue {
public:
    // On the thread that iterates `context` (null: the default context, the UI thread's).
    explicit UiTaskQueueLinux(GMainContext* context = nullptr);
    ~UiTaskQueueLinux() override;
    UiTaskQueueLinux(const UiTaskQueueLinux&) = delete;
    UiTaskQueueLinux& operator=(const UiTaskQueueLinux&) = delete;

    void post(std::function<void()> task) override;

private:
    struct QueueSource;

    static gboolean prepare(GSource* source, gint* timeout);
    static gboolean checkQueue(GSource* source);
    static gboolean dispatch(GSource* source, GSourceFunc, gpointer);
    bool hasTasks();
    void runTasks();

    GMainContext* m_context; // owns a reference
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    GSource* m_source = nullptr;
};

} // namespace ferrovan
