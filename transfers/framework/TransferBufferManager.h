#pragma once

#include "core/base/FvTransfersException.h"
#include "framework/TransferBuffer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace fv_transfers {

class CTransferBufferHandle;

// Hands out buffers from one pool. Thread-safe, so one manager can serve every channel of every
// file of an engine. Always owned through std::shared_ptr: a handle keeps its manager, and with
// it the pool its buffer points into, alive.
class ITransferBufferManager : public std::enable_shared_from_this<ITransferBufferManager> {
public:
    // "Unable to allocate memory from memory pool, all memory is used up"
    class CInsufficientMemoryException : public CFvTransfersException {
    public:
        CInsufficientMemoryException();
    };
    // "Invalid param <name>: <value> passed to function <function>"
    class CInvalidParamException : public CFvTransfersException {
    public:
        CInvalidParamException(const std::string& name, const std::string& value, const std::string& function);
    };

    // No single buffer is larger: the transport moves at most 256 KiB per call, and a buffer the
    // size of a whole range would hold the range back until it is full.
    static constexpr std::uint64_t kMaxBufferSize = 1048576;

    virtual ~ITransferBufferManager() = default;

    // Creates the pool, at most `maxPoolSize` bytes (0: as the free memory allows).
    virtual void init(std::uint64_t maxPoolSize) = 0;
    // Frees the pool, or with buffers still out, once the last of them comes back.
    virtual void uninit() = 0;
    virtual bool isInitialized() = 0;
    // A buffer of at most `maxSize` bytes (or within 10 % of it when one is reused), given back
    // when the handle ends. Throws CInsufficientMemoryException or CInvalidParamException.
    virtual CTransferBufferHandle acquire(std::uint64_t maxSize) = 0;
    // As `acquire`, to be given back with `releaseBuffer`.
    virtual CTransferBuffer* getBuffer(std::uint64_t maxSize) = 0;
    virtual void releaseBuffer(CTransferBuffer* buffer) = 0;
    // The expected transfer size, from which a dynamic manager sizes its buffers.
    virtual void setSizeHint(std::uint64_t hint) = 0;
    virtual std::uint64_t maxBufferSize() = 0;
};

// Sole holder of one handed-out buffer; gives it back to its manager when it ends.
class CTransferBufferHandle {
public:
    CTransferBufferHandle() = default;
    CTransferBufferHandle(std::shared_ptr<CTransferBuffer> buffer, std::shared_ptr<ITransferBufferManager> manager);
    ~CTransferBufferHandle();
    CTransferBufferHandle(CTransferBufferHandle&& other) noexcept = default;
    CTransferBufferHandle& operator=(CTransferBufferHandle&& other) noexcept;
    CTransferBufferHandle(const CTransferBufferHandle&) = delete;
    CTransferBufferHandle& operator=(const CTransferBufferHandle&) = delete;

    // Gives the buffer back now.
    void reset();

    CTransferBuffer* get() const { return m_buffer.get(); }
    CTransferBuffer* operator->() const { return m_buffer.get(); }
    CTransferBuffer& operator*() const { return *m_buffer; }
    explicit operator bool() const { return static_cast<bool>(m_buffer); }

private:
    std::shared_ptr<CTransferBuffer> m_buffer;
    std::shared_ptr<ITransferBufferManager> m_manager;
};

} // namespace fv_transfers
