#pragma once

#include "framework/TransferBufferManagerBase.h"

namespace fv_transfers {

// Buffers of a fifth of the size hint (102400 when there is none), at least 4096 bytes.
class CTRansferBufferManagerDynamic : public CTransferBufferManagerBase {
public:
    static constexpr std::uint64_t kDefaultSizeHint = 102400;
    static constexpr std::uint64_t kMinBufferSize = 4096;

    using CTransferBufferManagerBase::CTransferBufferManagerBase;

protected:
    std::uint64_t preferredBufferSize(std::uint64_t sizeHint) const override;
};

} // namespace fv_transfers
