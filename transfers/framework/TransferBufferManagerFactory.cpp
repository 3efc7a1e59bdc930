#include "framework/TransferBufferManagerFactory.h"

#include "core/system/linux/SystemResourceStatusLinux.h"
#include "framework/TransferBufferManagerDynamic.h"
#include "framework/TransferBufferManagerStatic.h"

namespace fv_transfers {

std::shared_ptr<ITransferBufferManager>
createTransferBufferManager(std::uint64_t size, std::unique_ptr<ISystemResourcesStatus> systemStatus)
{
    if (!systemStatus)
        systemStatus = std::make_unique<CSystemResourceStatusLinux>();
    if (size == 0)
        return std::make_shared<CTRansferBufferManagerDynamic>(std::move(systemStatus));
    return std::make_shared<CTransferBufferManagerStatic>(size, std::move(systemStatus));
}

} // namespace fv_transfers
