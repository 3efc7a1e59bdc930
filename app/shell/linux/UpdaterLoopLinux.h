#pragma once

#include "shell/UpdaterLoop.h"

#include <glib.h>

#include <deque>
#include <functional>
#include <mutex>

namespace ferrovan {

// GLib's default main context. Tasks from other threads wait in a queue under our own mutex
// and are run by one source of the context, woken with g_main_context_wakeup: handing
// closures to GLib from another thread would pass them through locks the thread sanitizer
// cannot see.
class UpdaterLoopLinux : public IUpdaterLoop {
public:
    // On the UI thread, whose default context then runs the tasks.
    UpdaterLoopLinux();
    ~UpdaterLoopLinux() override;
    UpdaterLoopLinux(const UpdaterLoopLinux&) = delete;
    UpdaterLoopLinux& operator=(const UpdaterLoopLinux&) = delete;

    void post(std::function<void()> task) override;
    void startRepeating(unsigned seconds, std::function<void()> tick) override;
    void stopRepeating() override;

private:
    struct QueueSource;

    static gboolean prepare(GSource* source, gint* timeout);
    static gboolean checkQueue(GSource* source);
    static gboolean dispatch(GSource* source, GSourceFunc, gpointer);
    static gboolean onTick(gpointer self);
    bool hasTasks();
    void runTasks();

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    GSource* m_queueSource = nullptr;
    guint m_timer = 0;
    std::function<void()> m_tick;
};

} // namespace ferrovan
