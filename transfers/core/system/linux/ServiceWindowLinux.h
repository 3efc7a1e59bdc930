#pragma once

#include "core/system/ConnectivityBroadcaster.h"
#include "core/system/linux/SystemBusLinux.h"

#include <gio/gio.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace fv_transfers {

// The service window's Linux half: a GLib main context of its own, where logind's sleep signals
// and GIO's network changes arrive, so the main program's loop is never used.
class CServiceWindowLinux {
public:
    using PowerHandler = std::function<void(std::uint32_t powerMode)>;
    using ReadyHandler = std::function<void(bool listensToPower)>;

    CServiceWindowLinux();
    ~CServiceWindowLinux();
    CServiceWindowLinux(const CServiceWindowLinux&) = delete;
    CServiceWindowLinux& operator=(const CServiceWindowLinux&) = delete;

    // On the window's thread: listens until stop(), calling `ready` once the listeners are in
    // place (or failed to be).
    void run(const PowerHandler& power, const std::shared_ptr<CConnectivityBroadcaster>& connectivity,
             const ReadyHandler& ready);
    // From any thread, before or during run(): ends a bus set-up that hangs, then the loop.
    void stop();

private:
    struct ContextUnref {
        void operator()(GMainContext* context) const { g_main_context_unref(context); }
    };

    std::unique_ptr<GMainContext, ContextUnref> m_context;
    std::unique_ptr<GCancellable, GObjectUnref> m_cancel; // ends a bus set-up that hangs
    std::atomic<bool> m_stopping{false};
};

} // namespace fv_transfers
