#pragma once

#include "core/base/FvTransfersExport.h"

namespace fv_transfers {

// Starts and stops the library's process-wide pieces. The main program fills the
// configuration first, calls initialize once at start-up and unitialize after its message loop.
class FV_TRANSFERS_API CFvTransfersInitializer {
public:
    // Brings up the log, OpenSSL, libcurl and the service thread (power and network events). The
    // transfer database is opened by the first transfer manager that needs it, so helper
    // processes that never transfer do not touch it. True when the library is ready; a missing
    // system bus only costs the power events. A call while the library runs changes nothing.
    static bool initialize();
    // Ends, in reverse order, what initialize started: the sleep notifier, the database, the
    // service thread, libcurl (once the last connection lets go), OpenSSL and the log. A later
    // initialize starts them afresh; without a running library this does nothing.
    static void unitialize();
};

} // namespace fv_transfers
