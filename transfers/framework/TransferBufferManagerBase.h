#pragma once

#include "core/system/SystemResourcesStatus.h"
#include "framework/MemoryManager.h"
#include "framework/TransferBufferManager.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

namespace fv_transfers {

// The pool, its buffers and their reuse; subclasses choose only the preferred buffer size. One
// lock covers every operation, so channels of several files may share a manager.
class CTransferBufferManagerBase : public ITransferBufferManager {
public:
    static constexpr std::uint64_t kMaxPoolSize = 136314880;    // 130 MiB
    static constexpr std::uint64_t kDefaultPoolSize = 31457280; // 30 MiB, when free memory is unknown

    // A null status counts as a failed query.
    explicit CTransferBufferManagerBase(std::unique_ptr<ISystemResourcesStatus> systemStatus);
    ~CTransferBufferManagerBase() override;

    void init(std::uint64_t maxPoolSize) override;
    void uninit() override;
    bool isInitialized() override;
    CTransferBufferHandle acquire(std::uint64_t maxSize) override;
    CTransferBuffer* getBuffer(std::uint64_t maxSize) override;
    void releaseBuffer(CTransferBuffer* buffer) override;
    void setSizeHint(std::uint64_t hint) override;
    // The preferred size, never above kMaxBufferSize.
    std::uint64_t maxBufferSize() final;

    // The size of the pool, 0 while there is none.
    std::uint64_t poolSize();

protected:
    // The size this manager would like its buffers to have, before the cap.
    virtual std::uint64_t preferredBufferSize(std::uint64_t sizeHint) const = 0;

private:
    std::uint64_t getMemoryPoolSizeBasedOnFreeMemory();
    std::shared_ptr<CTransferBuffer> takeBuffer(std::uint64_t maxSize);
    std::shared_ptr<CTransferBuffer> reuseBuffer(std::uint64_t wanted);
    std::shared_ptr<CTransferBuffer> allocateBuffer(std::uint64_t wanted);
    // False when the buffer is unusable and must leave the list.
    static bool validateBuffer(CTransferBuffer& buffer);
    bool initializedLocked() const { return m_memory && !m_releasePending; }
    bool allBuffersFree() const;
    // Empties the list and hands over the pool, so the caller unmaps it outside the lock.
    std::unique_ptr<CMemoryManager> freeAll();
    std::uint64_t cappedBufferSize() const;

    std::mutex m_lock;
    std::list<std::shared_ptr<CTransferBuffer>> m_buffers; // in creation order
    std::unique_ptr<CMemoryManager> m_memory;
    std::uint64_t m_sizeHint = 0;
    bool m_releasePending = false;
    std::unique_ptr<ISystemResourcesStatus> m_systemStatus;
};

} // namespace fv_transfers
