#include "framework/TransferBufferManagerDynamic.h"

#include <algorithm>

namespace fv_transfers {

std::uint64_t CTRansferBufferManagerDynamic::preferredBufferSize(std::uint64_t sizeHint) const
{
    const std::uint64_t hint = sizeHint == 0 ? kDefaultSizeHint : sizeHint;
    return std::max(hint / 5, kMinBufferSize);
}

} // namespace fv_transfers
