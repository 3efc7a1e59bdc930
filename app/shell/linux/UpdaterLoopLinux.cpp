#include "shell/linux/UpdaterLoopLinux.h"

#include <utility>

namespace ferrovan {

UpdaterLoopLinux::UpdaterLoopLinux() = default;

UpdaterLoopLinux::~UpdaterLoopLinux()
{
    stopRepeating();
}

void UpdaterLoopLinux::post(std::function<void()> task)
{
    m_queue.post(std::move(task));
}

void UpdaterLoopLinux::startRepeating(unsigned seconds, std::function<void()> tick)
{
    stopRepeating();
    m_tick = std::move(tick);
    m_timer = g_timeout_add_seconds(seconds, &UpdaterLoopLinux::onTick, this);
}

void UpdaterLoopLinux::stopRepeating()
{
    if (m_timer != 0)
        g_source_remove(m_timer);
    m_timer = 0;
}

gboolean UpdaterLoopLinux::onTick(gpointer self)
{
    // A failing check must not end the schedule, nor unwind through GLib.
    runLoggingFailure(static_cast<UpdaterLoopLinux*>(self)->m_tick, "ferrovan::UpdaterLoopLinux::onTick");
    return G_SOURCE_CONTINUE;
}

std::unique_ptr<IUpdaterLoop> createUpdaterLoop()
{
    return std::make_unique<UpdaterLoopLinux>();
}

} // namespace ferrovan
