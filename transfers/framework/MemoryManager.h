#pragma once

#include <cstdint>
#include <functional>
#include <map>

namespace fv_transfers {

// A first-fit block allocator over one pool of address space. The pool is an anonymous mapping,
// so its pages cost memory only once a buffer in them is written: a 130 MiB pool of an idle
// transfer stays nearly free. No lock of its own: its manager calls it under the manager's lock.
class CMemoryManager {
public:
    // Maps the pool; throws std::bad_alloc when the system refuses. A size of 0 maps nothing.
    explicit CMemoryManager(std::uint64_t size);
    ~CMemoryManager();
    CMemoryManager(const CMemoryManager&) = delete;
    CMemoryManager& operator=(const CMemoryManager&) = delete;

    // Places a block of exactly `size` bytes at the start of the first gap, in address order,
    // that holds it; false when none does.
    bool allocate(std::uint64_t size, char*& block);
    // Takes the whole largest gap (the first of equal ones) as a block; null when the pool is full.
    char* largestFreeBlock(std::uint64_t& size);
    // Frees the block that starts at `pointer`; any other pointer changes nothing.
    void release(char* pointer);

    std::uint64_t size() const { return m_size; }

private:
    // Calls `visit(start, size)` for each gap in address order until it returns true.
    void forEachGap(const std::function<bool(char*, std::uint64_t)>& visit) const;

    char* m_pool = nullptr;
    std::uint64_t m_size;
    std::map<char*, std::uint64_t> m_blocks; // start → size, in address order
};

} // namespace fv_transfers
