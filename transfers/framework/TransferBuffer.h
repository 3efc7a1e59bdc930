#pragma once

#include "core/base/FvTransfersException.h"

#include <cstdint>

namespace fv_transfers {

// One buffer carved out of a manager's pool. The manager keeps it in its list for reuse; a
// channel fills it through `commit` and gives it back through its handle.
class CTransferBuffer {
public:
    // "Buffer overflow. Actual buffer size: <capacity>, committed size: <size>"
    class CBufferOverflowException : public CFvTransfersException {
    public:
        CBufferOverflowException(std::uint64_t capacity, std::uint64_t committedSize);
    };

    CTransferBuffer(char* data, std::uint64_t capacity) : data(data), capacity(capacity) {}

    // Counts `n` more bytes as filled; throws when they do not fit.
    void commit(std::uint64_t n);

    char* data;
    std::uint64_t capacity;
    std::uint64_t dataSize = 0;
    bool isFree = false;
};

} // namespace fv_transfers
