#pragma once

#include "core/http/CryptoInitializerOpenSsl.h"

#include <memory>

namespace fv_transfers {

class CCurlGlobal;

// What the library starts for a process, owned by one object: made by
// CFvTransfersInitializer::initialize, ended by unitialize. It starts, in this order, the log,
// the crypto library, libcurl's global state, the service thread, the database holder (opened
// by its first user), the sleep notifier holder, the failed-group restarter and the file
// progress sender (each made by its first user), and ends them in the reverse order. Holders of
// a part (a table, a notifier, a connection's handle) keep what they hold working after the
// end; a restarter or progress sender they hold is stopped.
class CTransfersRuntime {
public:
    // Throws std::runtime_error naming the part that could not start, after ending the parts
    // already started.
    CTransfersRuntime();
    ~CTransfersRuntime();
    CTransfersRuntime(const CTransfersRuntime&) = delete;
    CTransfersRuntime& operator=(const CTransfersRuntime&) = delete;

private:
    enum class Part { none, log, crypto, curl, serviceThread, database, sleepNotifier, restarter, progressSender };

    void start();
    void end();

    Part m_started = Part::none;
    CCryptoInitializerOpenSsl m_crypto;
    std::shared_ptr<CCurlGlobal> m_curl;
};

} // namespace fv_transfers
