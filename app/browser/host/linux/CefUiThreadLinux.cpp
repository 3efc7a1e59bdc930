#include "browser/host/linux/CefUiThreadLinux.h"

#include "browser/host/CefTask.h"
#include "shell/linux/AppRuntimeLinux.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>

namespace ferrovan {

namespace {

constexpr const char* kDelayedWhere = "fvcef::CefPostDelayedTask";

// What CefPostTask reaches. Posting threads read it under the mutex, so the queue cannot end
// while a post is in it; the timeouts are touched on the UI thread only.
struct UiThreadState {
    std::mutex mutex;
    IUiTaskQueue* queue = nullptr;
    GMainContext* context = nullptr;
    std::thread::id thread;
    std::uint64_t generation = 0; // changes at each install and uninstall
    std::set<GSource*> timeouts;
};

UiThreadState& state()
{
    static UiThreadState instance;
    return instance;
}

bool isCurrent(std::uint64_t generation)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().queue != nullptr && state().generation == generation;
}

struct DelayedTask {
    std::function<void()> task;
    GSource* source = nullptr;
};

gboolean runDelayed(gpointer data)
{
    auto* delayed = static_cast<DelayedTask*>(data);
    state().timeouts.erase(delayed->source);
    runLoggingFailure(delayed->task, kDelayedWhere);
    return G_SOURCE_REMOVE;
}

// On the UI thread.
void armTimeout(std::function<void()> task, std::int64_t delayMs, GMainContext* context)
{
    auto* delayed = new DelayedTask{std::move(task)};
    GSource* source = g_timeout_source_new(static_cast<guint>(std::max<std::int64_t>(delayMs, 0)));
    delayed->source = source;
    g_source_set_callback(source, runDelayed, delayed, [](gpointer data) { delete static_cast<DelayedTask*>(data); });
    state().timeouts.insert(source);
    g_source_attach(source, context);
    // The context holds it from now on; the set's pointers are valid until it fires or ends.
    g_source_unref(source);
}

bool post(std::function<void()> task)
{
    UiThreadState& ui = state();
    std::lock_guard<std::mutex> lock(ui.mutex);
    if (ui.queue == nullptr)
        return false;
    const std::uint64_t generation = ui.generation;
    ui.queue->post([generation, task = std::move(task)] {
        if (isCurrent(generation))
            task();
    });
    return true;
}

std::function<void()> taskFunction(fvcef::CefRefPtr<fvcef::CefTask> task)
{
    if (!task)
        throw std::invalid_argument("No task to post");
    return [task] { task->Execute(); };
}

} // namespace

CefUiThreadLinux::CefUiThreadLinux(IUiTaskQueue& queue, GMainContext* context)
{
    UiThreadState& ui = state();
    std::lock_guard<std::mutex> lock(ui.mutex);
    if (ui.queue != nullptr)
        throw std::logic_error("A UI thread is installed already");
    ui.queue = &queue;
    ui.context = g_main_context_ref(context != nullptr ? context : g_main_context_default());
    ui.thread = std::this_thread::get_id();
    ++ui.generation;
}

CefUiThreadLinux::~CefUiThreadLinux()
{
    UiThreadState& ui = state();
    GMainContext* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(ui.mutex);
        ui.queue = nullptr;
        ui.thread = std::thread::id();
        ++ui.generation;
        context = std::exchange(ui.context, nullptr);
    }
    // Destroying a source frees its task, which may post: outside the lock.
    const std::set<GSource*> timeouts = std::exchange(ui.timeouts, {});
    for (GSource* source : timeouts)
        g_source_destroy(source);
    g_main_context_unref(context);
}

} // namespace ferrovan

namespace fvcef {

bool CefPostTask(CefThreadId, CefRefPtr<CefTask> task)
{
    return ferrovan::post(ferrovan::taskFunction(std::move(task)));
}

bool CefPostTask(CefThreadId, std::function<void()> task)
{
    if (!task)
        throw std::invalid_argument("No task to post");
    return ferrovan::post(std::move(task));
}

bool CefPostDelayedTask(CefThreadId thread, CefRefPtr<CefTask> task, std::int64_t delay_ms)
{
    return CefPostDelayedTask(thread, ferrovan::taskFunction(std::move(task)), delay_ms);
}

// Armed through the queue even on the UI thread: the timeout then starts after the tasks posted
// before it, so a zero delay still runs after them.
bool CefPostDelayedTask(CefThreadId, std::function<void()> task, std::int64_t delay_ms)
{
    if (!task)
        throw std::invalid_argument("No task to post");
    GMainContext* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(ferrovan::state().mutex);
        context = ferrovan::state().context;
    }
    return ferrovan::post(
        [task = std::move(task), delay_ms, context] { ferrovan::armTimeout(task, delay_ms, context); });
}

bool CefCurrentlyOn(CefThreadId)
{
    std::lock_guard<std::mutex> lock(ferrovan::state().mutex);
    return ferrovan::state().queue != nullptr && ferrovan::state().thread == std::this_thread::get_id();
}

void cef_quit_message_loop()
{
    if (CefCurrentlyOn(TID_UI))
        ferrovan::AppRuntimeLinux::quitMessageLoop();
    else
        CefPostTask(TID_UI, [] { ferrovan::AppRuntimeLinux::quitMessageLoop(); });
}

} // namespace fvcef

namespace fvcef {

namespace {

class ProgramUiThread : public CefUiThread {
public:
    ProgramUiThread() : m_queue(ferrovan::createUiTaskQueue()), m_thread(*m_queue) {}

private:
    std::unique_ptr<ferrovan::IUiTaskQueue> m_queue;
    ferrovan::CefUiThreadLinux m_thread; // after the queue it posts to
};

} // namespace

std::unique_ptr<CefUiThread> CefStartUiThread()
{
    return std::make_unique<ProgramUiThread>();
}

} // namespace fvcef
