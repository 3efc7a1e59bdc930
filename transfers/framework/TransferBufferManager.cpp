#include "framework/TransferBufferManager.h"

namespace fv_transfers {

ITransferBufferManager::CInsufficientMemoryException::CInsufficientMemoryException()
    : CFvTransfersException("Unable to allocate memory from memory pool, all memory is used up")
{
}

ITransferBufferManager::CInvalidParamException::CInvalidParamException(const std::string& name,
                                                                       const std::string& value,
                                                                       const std::string& function)
    : CFvTransfersException("Invalid param " + name + ": " + value + " passed to function " + function)
{
}

CTransferBufferHandle::CTransferBufferHandle(std::shared_ptr<CTransferBuffer> buffer,
                                             std::shared_ptr<ITransferBufferManager> manager)
    : m_buffer(std::move(buffer)), m_manager(std::move(manager))
{
}

CTransferBufferHandle::~CTransferBufferHandle()
{
    reset();
}

CTransferBufferHandle& CTransferBufferHandle::operator=(CTransferBufferHandle&& other) noexcept
{
    if (this != &other) {
        reset();
        m_buffer = std::move(other.m_buffer);
        m_manager = std::move(other.m_manager);
    }
    return *this;
}

void CTransferBufferHandle::reset()
{
    if (m_buffer && m_manager)
        m_manager->releaseBuffer(m_buffer.get());
    m_buffer.reset();
    m_manager.reset();
}

} // namespace fv_transfers
