#include "framework/MemoryManager.h"

#include "core/log/FvTransfersLogger.h"

#include <limits>
#include <new>
#include <sys/mman.h>

namespace fv_transfers {

CMemoryManager::CMemoryManager(std::uint64_t size) : m_size(size)
{
    if (size == 0)
        return;
    if (size > std::numeric_limits<std::size_t>::max())
        throw std::bad_alloc();
    // Never value-initialised: zeroing would make every page of the pool resident at once.
    void* pool =
        ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pool == MAP_FAILED)
        throw std::bad_alloc();
    m_pool = static_cast<char*>(pool);
    FV_LOG_INFO("Memory pool allocated: " << static_cast<void*>(m_pool) << ", size: " << m_size);
}

CMemoryManager::~CMemoryManager()
{
    if (!m_pool)
        return;
    FV_LOG_INFO("Deallocating memory pool: " << static_cast<void*>(m_pool));
    ::munmap(m_pool, static_cast<std::size_t>(m_size));
}

void CMemoryManager::forEachGap(const std::function<bool(char*, std::uint64_t)>& visit) const
{
    char* start = m_pool;
    for (const auto& block : m_blocks) {
        if (block.first > start && visit(start, static_cast<std::uint64_t>(block.first - start)))
            return;
        start = block.first + block.second;
    }
    char* const end = m_pool + m_size;
    if (end > start)
        visit(start, static_cast<std::uint64_t>(end - start));
}

bool CMemoryManager::allocate(std::uint64_t size, char*& block)
{
    if (size > m_size) {
        FV_LOG_ERROR("Too big memory block requested. Requested size: " << size
                                                                        << ", full memory pool size: " << m_size);
        return false;
    }
    if (size == 0)
        return false; // a block of no bytes would share its address with the next one
    char* found = nullptr;
    forEachGap([&](char* start, std::uint64_t gap) {
        if (gap < size)
            return false;
        found = start;
        return true;
    });
    if (!found)
        return false;
    m_blocks.emplace(found, size);
    block = found;
    return true;
}

char* CMemoryManager::largestFreeBlock(std::uint64_t& size)
{
    char* largest = nullptr;
    std::uint64_t largestSize = 0;
    forEachGap([&](char* start, std::uint64_t gap) {
        if (gap > largestSize) {
            largest = start;
            largestSize = gap;
        }
        return false;
    });
    if (!largest)
        return nullptr;
    m_blocks.emplace(largest, largestSize);
    size = largestSize;
    return largest;
}

void CMemoryManager::release(char* pointer)
{
    if (!pointer || m_blocks.empty()) {
        FV_LOG_ERROR("Incorrect block pointer passed to fv_transfers::CMemoryManager::release");
        return;
    }
    m_blocks.erase(pointer);
}

} // namespace fv_transfers
