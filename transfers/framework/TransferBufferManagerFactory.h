#pragma once

#include "core/system/SystemResourcesStatus.h"
#include "framework/TransferBufferManager.h"

#include <cstdint>
#include <memory>

namespace fv_transfers {

// A manager without a pool until `init`: dynamic for a size of 0 (what transfers pass), else of
// buffers of that fixed size. The free memory comes from `systemStatus`, by default the
// platform's own query.
std::shared_ptr<ITransferBufferManager>
createTransferBufferManager(std::uint64_t size, std::unique_ptr<ISystemResourcesStatus> systemStatus = nullptr);

} // namespace fv_transfers
