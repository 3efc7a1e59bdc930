#pragma once

#include "framework/TransferBufferManagerBase.h"

namespace fv_transfers {

// Buffers of one fixed size (still capped at kMaxBufferSize); the size hint is ignored.
class CTransferBufferManagerStatic : public CTransferBufferManagerBase {
public:
    CTransferBufferManagerStatic(std::uint64_t fixedSize, std::unique_ptr<ISystemResourcesStatus> systemStatus);

protected:
    std::uint64_t preferredBufferSize(std::uint64_t sizeHint) const override;

private:
    std::uint64_t m_fixedSize;
};

} // namespace fv_transfers
