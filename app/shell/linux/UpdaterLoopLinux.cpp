#include "shell/linux/UpdaterLoopLinux.h"

#include <utility>

namespace ferrovan {

struct UpdaterLoopLinux::QueueSource {
    GSource base; // first: GLib allocates and frees the whole struct as a GSource
    UpdaterLoopLinux* owner;
};

UpdaterLoopLinux::UpdaterLoopLinux()
{
    static GSourceFuncs funcs{&UpdaterLoopLinux::prepare,
                              &UpdaterLoopLinux::checkQueue,
                              &UpdaterLoopLinux::dispatch,
                              nullptr,
                              nullptr,
                              nullptr};
    m_queueSource = g_source_new(&funcs, sizeof(QueueSource));
    reinterpret_cast<QueueSource*>(m_queueSource)->owner = this;
    g_source_attach(m_queueSource, nullptr);
}

UpdaterLoopLinux::~UpdaterLoopLinux()
{
    stopRepeating();
    g_source_destroy(m_queueSource);
    g_source_unref(m_queueSource);
}

void UpdaterLoopLinux::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    g_main_context_wakeup(nullptr);
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

gboolean UpdaterLoopLinux::prepare(GSource* source, gint* timeout)
{
    *timeout = -1;
    return reinterpret_cast<QueueSource*>(source)->owner->hasTasks();
}

gboolean UpdaterLoopLinux::checkQueue(GSource* source)
{
    return reinterpret_cast<QueueSource*>(source)->owner->hasTasks();
}

gboolean UpdaterLoopLinux::dispatch(GSource* source, GSourceFunc, gpointer)
{
    reinterpret_cast<QueueSource*>(source)->owner->runTasks();
    return G_SOURCE_CONTINUE;
}

gboolean UpdaterLoopLinux::onTick(gpointer self)
{
    static_cast<UpdaterLoopLinux*>(self)->m_tick();
    return G_SOURCE_CONTINUE;
}

bool UpdaterLoopLinux::hasTasks()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_tasks.empty();
}

void UpdaterLoopLinux::runTasks()
{
    std::deque<std::function<void()>> tasks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        tasks.swap(m_tasks);
    }
    // Outside the lock: a task may post again.
    for (std::function<void()>& task : tasks)
        task();
}

std::unique_ptr<IUpdaterLoop> createUpdaterLoop()
{
    return std::make_unique<UpdaterLoopLinux>();
}

} // namespace ferrovan
