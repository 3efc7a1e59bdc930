#include "framework/TransferBuffer.h"

#include <string>

namespace fv_transfers {

CTransferBuffer::CBufferOverflowException::CBufferOverflowException(std::uint64_t capacity, std::uint64_t committedSize)
    : CFvTransfersException("Buffer overflow. Actual buffer size: " + std::to_string(capacity) +
                            ", committed size: " + std::to_string(committedSize))
{
}

void CTransferBuffer::commit(std::uint64_t n)
{
    // Compared as free space, so a huge `n` cannot wrap the sum.
    if (n > capacity - dataSize)
        throw CBufferOverflowException(capacity, dataSize + n);
    dataSize += n;
}

} // namespace fv_transfers
