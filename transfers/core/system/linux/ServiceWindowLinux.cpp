#include "core/system/linux/ServiceWindowLinux.h"

#include "core/system/linux/NetworkMonitorLinux.h"
#include "core/system/linux/PowerEventSourceLinux.h"

namespace fv_transfers {

namespace {

// The listeners attach to the thread-default context: ours, for as long as the loop runs.
class ThreadDefaultContext {
public:
    explicit ThreadDefaultContext(GMainContext* context) : m_context(context)
    {
        g_main_context_push_thread_default(m_context);
    }
    ~ThreadDefaultContext() { g_main_context_pop_thread_default(m_context); }
    ThreadDefaultContext(const ThreadDefaultContext&) = delete;
    ThreadDefaultContext& operator=(const ThreadDefaultContext&) = delete;

private:
    GMainContext* m_context;
};

} // namespace

CServiceWindowLinux::CServiceWindowLinux() : m_context(g_main_context_new()), m_cancel(g_cancellable_new()) {}

CServiceWindowLinux::~CServiceWindowLinux() = default;

void CServiceWindowLinux::run(const PowerHandler& power, const std::shared_ptr<CConnectivityBroadcaster>& connectivity,
                              const ReadyHandler& ready)
{
    const ThreadDefaultContext threadDefault(m_context.get());
    CPowerEventSourceLinux powerSource(power, m_cancel.get());
    CNetworkMonitorLinux network(connectivity, m_cancel.get());
    ready(powerSource.isListening());
    while (!m_stopping)
        g_main_context_iteration(m_context.get(), TRUE);
}

void CServiceWindowLinux::stop()
{
    m_stopping = true;
    g_cancellable_cancel(m_cancel.get());
    // The loop checks the flag after every wake-up, so this ends it at once.
    g_main_context_wakeup(m_context.get());
}

} // namespace fv_transfers
