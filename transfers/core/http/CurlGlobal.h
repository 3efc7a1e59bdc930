#pragma once

namespace fv_transfers {

// libcurl's process-wide set-up; sets `initialised` and returns it. Safe to call again.
bool initializeCurlGlobal(bool& initialised);

} // namespace fv_transfers
