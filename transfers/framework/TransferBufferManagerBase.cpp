#include "framework/TransferBufferManagerBase.h"

#include "core/log/FvTransfersLogger.h"

#include <algorithm>

namespace fv_transfers {

namespace {

const char* const kGetBuffer = "fv_transfers::CTransferBufferManagerBase::getBuffer";
const char* const kReleaseBuffer = "fv_transfers::CTransferBufferManagerBase::releaseBuffer";
const char* const kValidateBuffer = "fv_transfers::CTransferBufferManagerBase::validateBuffer";

std::uint64_t difference(std::uint64_t a, std::uint64_t b)
{
    return a > b ? a - b : b - a;
}

} // namespace

CTransferBufferManagerBase::CTransferBufferManagerBase(std::unique_ptr<ISystemResourcesStatus> systemStatus)
    : m_systemStatus(std::move(systemStatus))
{
}

CTransferBufferManagerBase::~CTransferBufferManagerBase() = default;

void CTransferBufferManagerBase::init(std::uint64_t maxPoolSize)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_memory) {
        // A pending release is cancelled; the pool keeps its size, which the buffers out rely on.
        m_releasePending = false;
        return;
    }
    std::uint64_t size = getMemoryPoolSizeBasedOnFreeMemory();
    if (maxPoolSize != 0)
        size = std::min(size, maxPoolSize);
    m_memory = std::make_unique<CMemoryManager>(size);
}

void CTransferBufferManagerBase::uninit()
{
    std::unique_ptr<CMemoryManager> ended;
    std::lock_guard<std::mutex> lock(m_lock);
    if (allBuffersFree()) {
        ended = freeAll();
        return;
    }
    FV_LOG_WARNING("Buffer Manager: received request for buffer deallocation, but there are active buffers!");
    m_releasePending = true;
}

bool CTransferBufferManagerBase::isInitialized()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return initializedLocked();
}

CTransferBufferHandle CTransferBufferManagerBase::acquire(std::uint64_t maxSize)
{
    std::shared_ptr<ITransferBufferManager> self = shared_from_this();
    return CTransferBufferHandle(takeBuffer(maxSize), std::move(self));
}

CTransferBuffer* CTransferBufferManagerBase::getBuffer(std::uint64_t maxSize)
{
    return takeBuffer(maxSize).get(); // the list keeps it until it is released and evicted
}

void CTransferBufferManagerBase::releaseBuffer(CTransferBuffer* buffer)
{
    std::unique_ptr<CMemoryManager> ended;
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_buffers.empty()) {
        FV_LOG_ERROR(kReleaseBuffer << " called, but buffers list is empty!");
        return;
    }
    const auto found = std::find_if(m_buffers.begin(), m_buffers.end(),
                                    [buffer](const auto& listed) { return buffer && listed->data == buffer->data; });
    if (found == m_buffers.end()) {
        FV_LOG_ERROR("Buffer passed to " << kReleaseBuffer << " not found in buffers list!");
        return;
    }
    (*found)->dataSize = 0;
    (*found)->isFree = true;
    if (m_releasePending && allBuffersFree())
        ended = freeAll();
}

void CTransferBufferManagerBase::setSizeHint(std::uint64_t hint)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_sizeHint = hint;
}

std::uint64_t CTransferBufferManagerBase::maxBufferSize()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return cappedBufferSize();
}

std::uint64_t CTransferBufferManagerBase::poolSize()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_memory ? m_memory->size() : 0;
}

std::uint64_t CTransferBufferManagerBase::cappedBufferSize() const
{
    return std::min(preferredBufferSize(m_sizeHint), kMaxBufferSize);
}

std::uint64_t CTransferBufferManagerBase::getMemoryPoolSizeBasedOnFreeMemory()
{
    std::uint64_t available = 0;
    if (!m_systemStatus || !m_systemStatus->getAvailableMemory(available)) {
        FV_LOG_WARNING("Failed to obtain available system memory! Default memory pool size will be used");
        return kDefaultPoolSize;
    }
    FV_LOG_INFO("fv_transfers::CTransferBufferManagerBase::getMemoryPoolSizeBasedOnFreeMemory"
                << ": Ammount of system memory available:" << available);
    // 3 % in two steps, so no amount of memory can overflow the product.
    const std::uint64_t share = available / 100 * 3 + available % 100 * 3 / 100;
    return std::min(share, kMaxPoolSize);
}

std::shared_ptr<CTransferBuffer> CTransferBufferManagerBase::takeBuffer(std::uint64_t maxSize)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (maxSize == 0)
        throw CInvalidParamException("maxSize", "0", kGetBuffer);
    if (!initializedLocked()) {
        FV_LOG_ERROR(kGetBuffer << ": Memory pool does not seem to be allocated!");
        throw CInsufficientMemoryException();
    }
    const std::uint64_t wanted = std::min({maxSize, cappedBufferSize(), m_memory->size()});
    if (wanted == 0)
        throw CInsufficientMemoryException(); // a pool of no bytes
    if (std::shared_ptr<CTransferBuffer> reused = reuseBuffer(wanted))
        return reused;
    return allocateBuffer(wanted);
}

std::shared_ptr<CTransferBuffer> CTransferBufferManagerBase::reuseBuffer(std::uint64_t wanted)
{
    const std::uint64_t tolerance = wanted * 10 / 100;
    for (auto it = m_buffers.begin(); it != m_buffers.end();) {
        const std::shared_ptr<CTransferBuffer> buffer = *it;
        if (!buffer->isFree || difference(buffer->capacity, wanted) >= tolerance) {
            ++it;
            continue;
        }
        buffer->isFree = false;
        if (validateBuffer(*buffer))
            return buffer;
        m_memory->release(buffer->data);
        it = m_buffers.erase(it);
    }
    return nullptr;
}

std::shared_ptr<CTransferBuffer> CTransferBufferManagerBase::allocateBuffer(std::uint64_t wanted)
{
    char* block = nullptr;
    std::uint64_t capacity = wanted;
    // Free buffers of other sizes give their blocks back, oldest first, until the request fits.
    while (!m_memory->allocate(wanted, block)) {
        const auto evicted = std::find_if(m_buffers.begin(), m_buffers.end(), [](const auto& b) { return b->isFree; });
        if (evicted == m_buffers.end()) {
            block = m_memory->largestFreeBlock(capacity);
            if (!block)
                throw CInsufficientMemoryException();
            break;
        }
        m_memory->release((*evicted)->data);
        m_buffers.erase(evicted);
    }
    auto buffer = std::make_shared<CTransferBuffer>(block, capacity);
    m_buffers.push_back(buffer);
    return buffer;
}

bool CTransferBufferManagerBase::validateBuffer(CTransferBuffer& buffer)
{
    if (!buffer.data || buffer.capacity == 0) {
        FV_LOG_WARNING(kValidateBuffer << ": found invalid buffer: " << static_cast<void*>(buffer.data)
                                       << ", size: " << buffer.capacity);
        return false;
    }
    if (buffer.dataSize != 0) {
        FV_LOG_WARNING(kValidateBuffer << ": found buffer with non-discarded data: " << static_cast<void*>(buffer.data)
                                       << ", size: " << buffer.capacity << ", data size: " << buffer.dataSize);
        buffer.dataSize = 0;
    }
    return true;
}

bool CTransferBufferManagerBase::allBuffersFree() const
{
    return std::all_of(m_buffers.begin(), m_buffers.end(), [](const auto& b) { return b->isFree; });
}

std::unique_ptr<CMemoryManager> CTransferBufferManagerBase::freeAll()
{
    m_buffers.clear();
    m_releasePending = false;
    return std::move(m_memory);
}

} // namespace fv_transfers
