#pragma once

#include "shell/UpdaterLoop.h"
#include "shell/linux/UiTaskQueueLinux.h"

#include <glib.h>

#include <functional>

namespace ferrovan {

// GLib's default main context: posted tasks go through the program's UI task queue, the tick
// is a timeout source of the same context.
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
    static gboolean onTick(gpointer self);

    UiTaskQueueLinux m_queue;
    guint m_timer = 0;
    std::function<void()> m_tick;
};

} // namespace ferrovan
