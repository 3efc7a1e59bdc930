#include "shell/linux/UiTaskQueueLinux.h"

#include <utility>

namespace ferrovan {

struct UiTaskQueueLinux::QueueSource {
    GSource base; // first: GLib allocates and frees the whole struct as a GSource
    UiTaskQueueLinux* owner;
};

std::unique_ptr<IUiTaskQueue> createUiTaskQueue()
{
    return std::make_unique<UiTaskQueueLinux>();
}

UiTaskQueueLinux::UiTaskQueueLinux(GMainContext* context)
    : m_context(g_main_context_ref(context != nullptr ? context : g_main_context_default()))
{
    static GSourceFuncs funcs{&UiTaskQueueLinux::prepare,
                              &UiTaskQueueLinux::checkQueue,
                              &UiTaskQueueLinux::dispatch,
                              nullptr,
                              nullptr,
                              nullptr};
    m_source = g_source_new(&funcs, sizeof(QueueSource));
    reinterpret_cast<QueueSource*>(m_source)->owner = this;
    g_source_attach(m_source, m_context);
}

UiTaskQueueLinux::~UiTaskQueueLinux()
{
    g_source_destroy(m_source);
    g_source_unref(m_source);
    g_main_context_unref(m_context);
}

void UiTaskQueueLinux::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    g_main_context_wakeup(m_context);
}

gboolean UiTaskQueueLinux::prepare(GSource* source, gint* timeout)
{
    *timeout = -1;
    return reinterpret_cast<QueueSource*>(source)->owner->hasTasks();
}

gboolean UiTaskQueueLinux::checkQueue(GSource* source)
{
    return reinterpret_cast<QueueSource*>(source)->owner->hasTasks();
}

gboolean UiTaskQueueLinux::dispatch(GSource* source, GSourceFunc, gpointer)
{
    reinterpret_cast<QueueSource*>(source)->owner->runTasks();
    return G_SOURCE_CONTINUE;
}

bool UiTaskQueueLinux::hasTasks()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_tasks.empty();
}

void UiTaskQueueLinux::runTasks()
{
    std::deque<std::function<void()>> tasks;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        tasks.swap(m_tasks);
    }
    // Outside the lock: a task may post again; it runs in a later dispatch, after these.
    for (const std::function<void()>& task : tasks)
        runLoggingFailure(task, "ferrovan::UiTaskQueueLinux::runTasks");
}

} // namespace ferrovan
