#include "framework/BufferMngrTimeLimitted.h"

#include "core/log/FvTransfersLogger.h"

#include <Poco/Exception.h>

namespace fv_transfers {

CBufferMngrTimeLimitted::TimeoutException::TimeoutException() : CFvTransfersException("Timeout waiting for buffer") {}

CBufferMngrTimeLimitted::CBufferMngrTimeLimitted(std::shared_ptr<ITransferBufferManager> manager, Clock clock,
                                                 std::chrono::steady_clock::duration limit)
    : m_manager(std::move(manager)), m_clock(std::move(clock)), m_limit(limit), m_lastSuccess(now())
{
}

std::chrono::steady_clock::time_point CBufferMngrTimeLimitted::now() const
{
    return m_clock ? m_clock() : std::chrono::steady_clock::now();
}

CTransferBufferHandle CBufferMngrTimeLimitted::getBuffer(std::uint64_t size)
{
    if (!m_manager)
        throw Poco::NullPointerException("fv_transfers::CBufferMngrTimeLimitted::getBuffer");
    try {
        CTransferBufferHandle handle = m_manager->acquire(size);
        if (handle->data && handle->dataSize != handle->capacity) {
            m_lastSuccess = now();
            return handle;
        }
        FV_LOG_WARNING(
            "Received NULL or empty buffer when querying from Buffer Manager! Most likely all buffers are used up!");
        throw ITransferBufferManager::CInsufficientMemoryException();
    } catch (const ITransferBufferManager::CInsufficientMemoryException&) {
        if (now() - m_lastSuccess.load() < m_limit)
            throw;
        throw TimeoutException();
    }
}

} // namespace fv_transfers
