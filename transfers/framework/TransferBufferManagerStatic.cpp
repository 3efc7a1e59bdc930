#include "framework/TransferBufferManagerStatic.h"

namespace fv_transfers {

CTransferBufferManagerStatic::CTransferBufferManagerStatic(std::uint64_t fixedSize,
                                                           std::unique_ptr<ISystemResourcesStatus> systemStatus)
    : CTransferBufferManagerBase(std::move(systemStatus)), m_fixedSize(fixedSize)
{
}

std::uint64_t CTransferBufferManagerStatic::preferredBufferSize(std::uint64_t) const
{
    return m_fixedSize;
}

} // namespace fv_transfers
