#pragma once

#include "core/base/FvTransfersExport.h"

namespace fv_transfers {

// Starts and stops the library's process-wide pieces. The main program fills the
// configuration first, calls initialize once at start-up and unitialize after its message loop.
class FV_TRANSFERS_API CFvTransfersInitializer {
public:
    // Brings up the service thread (power and network events), OpenSSL and libcurl. The
    // transfer database is opened by the first transfer manager that needs it, so helper
    // processes that never transfer do not touch it. True when the library is ready; a missing
    // system bus only costs the power events.
    static bool initialize();
    // Closes the database, the sleep notifier, the log and the service thread.
    static void unitialize();
};

} // namespace fv_transfers
