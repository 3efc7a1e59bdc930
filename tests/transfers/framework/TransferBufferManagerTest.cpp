#include "core/system/SystemResourcesStatus.h"
#include "framework/BufferMngrTimeLimitted.h"
#include "framework/MemoryManager.h"
#include "framework/TransferBufferManagerBase.h"
#include "framework/TransferBufferManagerFactory.h"
#include "support/fixtures/LogCapture.h"
#include "support/fixtures/Watchdog.h"

#include <Poco/Exception.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <vector>

using fv_transfers::CBufferMngrTimeLimitted;
using fv_transfers::CMemoryManager;
using fv_transfers::CTransferBuffer;
using fv_transfers::CTransferBufferHandle;
using fv_transfers::CTransferBufferManagerBase;
using fv_transfers::ISystemResourcesStatus;
using fv_transfers::ITransferBufferManager;
using Insufficient = ITransferBufferManager::CInsufficientMemoryException;
using Timeout = CBufferMngrTimeLimitted::TimeoutException;

namespace {

constexpr std::uint64_t kGiB = 1073741824;
constexpr std::uint64_t kMiB = 1048576;

class FixedMemoryStatus : public ISystemResourcesStatus {
public:
    FixedMemoryStatus(bool known, std::uint64_t bytes) : m_known(known), m_bytes(bytes) {}
    bool getAvailableMemory(std::uint64_t& bytes) override
    {
        if (m_known)
            bytes = m_bytes;
        return m_known;
    }

private:
    bool m_known;
    std::uint64_t m_bytes;
};

// A manager of the factory on a machine with `available` bytes free (nothing known when false).
std::shared_ptr<CTransferBufferManagerBase> makeManager(std::uint64_t fixedSize, bool known = true,
                                                        std::uint64_t available = 8 * kGiB)
{
    auto manager = std::dynamic_pointer_cast<CTransferBufferManagerBase>(
        fv_transfers::createTransferBufferManager(fixedSize, std::make_unique<FixedMemoryStatus>(known, available)));
    EXPECT_TRUE(manager);
    return manager;
}

// Offsets into one manager's pool, which the first buffer of a fresh pool starts.
std::ptrdiff_t offsetOf(const CTransferBufferHandle& handle, const char* base)
{
    return handle->data - base;
}

// `count` buffers of `size` bytes from a static manager's fresh pool of `poolSize` bytes.
std::vector<CTransferBufferHandle> takeBuffers(ITransferBufferManager& manager, std::uint64_t poolSize, int count,
                                               std::uint64_t size)
{
    manager.init(poolSize);
    std::vector<CTransferBufferHandle> handles;
    for (int i = 0; i < count; ++i)
        handles.push_back(manager.acquire(size));
    return handles;
}

} // namespace

TEST(TransferBuffer, CommitRefusesBytesThatDoNotFit)
{
    std::vector<char> bytes(100);
    CTransferBuffer buffer(bytes.data(), bytes.size());
    buffer.commit(60);
    buffer.commit(40);
    EXPECT_EQ(100u, buffer.dataSize);
    try {
        buffer.commit(1);
        FAIL() << "no overflow";
    } catch (const CTransferBuffer::CBufferOverflowException& e) {
        EXPECT_NE(std::string::npos,
                  std::string(e.what()).find("Buffer overflow. Actual buffer size: 100, committed size: 101"));
    }
    buffer.dataSize = 10;
    EXPECT_THROW(buffer.commit(std::numeric_limits<std::uint64_t>::max()), CTransferBuffer::CBufferOverflowException);
    EXPECT_EQ(10u, buffer.dataSize);
}

TEST(MemoryManager, PlacesBlocksFirstFitInAddressOrder)
{
    CMemoryManager memory(1000);
    char* base = nullptr;
    ASSERT_TRUE(memory.allocate(100, base));
    struct Step {
        const char* op;          // "alloc" or "free"
        std::uint64_t value;     // size to allocate, or offset to free
        std::ptrdiff_t expected; // offset of the new block, -1 when none fits
    };
    const Step steps[] = {
        {"alloc", 100, 100}, {"alloc", 100, 200}, {"free", 100, 0},    {"alloc", 50, 100},
        {"alloc", 60, 300},  {"alloc", 50, 150},  {"alloc", 640, 360}, {"alloc", 1, -1},
        {"free", 0, 0},      {"alloc", 101, -1},  {"alloc", 100, 0},   {"alloc", 1001, -1},
    };
    for (const Step& s : steps) {
        if (std::string(s.op) == "free") {
            memory.release(base + s.value);
            continue;
        }
        char* block = nullptr;
        const bool placed = memory.allocate(s.value, block);
        EXPECT_EQ(s.expected >= 0, placed) << s.value;
        if (placed) {
            EXPECT_EQ(s.expected, block - base) << s.value;
        }
    }
}

TEST(MemoryManager, LargestFreeBlockTakesTheLargestGapFirstOfEquals)
{
    struct Gap {
        std::ptrdiff_t offset;
        std::uint64_t size;
    };
    struct Case {
        std::uint64_t pool;
        std::vector<std::uint64_t> blocks; // placed one after the other from the start
        std::vector<std::ptrdiff_t> freed;
        std::vector<Gap> taken; // what successive calls return, until the pool is full
    };
    const Case cases[] = {
        {1000, {300, 100, 200}, {0, 400}, {{400, 600}, {0, 300}}},
        {300, {100, 100, 100}, {0, 200}, {{0, 100}, {200, 100}}},
        {100, {}, {}, {{0, 100}}},
    };
    for (const Case& c : cases) {
        CMemoryManager memory(c.pool);
        char* base = nullptr;
        ASSERT_TRUE(memory.allocate(1, base));
        memory.release(base);
        for (std::uint64_t size : c.blocks) {
            char* block = nullptr;
            ASSERT_TRUE(memory.allocate(size, block));
        }
        for (std::ptrdiff_t offset : c.freed)
            memory.release(base + offset);
        for (const Gap& gap : c.taken) {
            std::uint64_t size = 0;
            EXPECT_EQ(base + gap.offset, memory.largestFreeBlock(size)) << c.pool;
            EXPECT_EQ(gap.size, size) << c.pool;
        }
        std::uint64_t size = 0;
        EXPECT_EQ(nullptr, memory.largestFreeBlock(size)) << c.pool;
    }
}

TEST(MemoryManager, ReleaseOfAnUnknownPointerChangesNothing)
{
    fv_test::LogCapture log;
    CMemoryManager memory(100);
    char* base = nullptr;
    memory.release(nullptr);
    ASSERT_TRUE(memory.allocate(100, base));
    memory.release(base + 5);
    memory.release(nullptr);
    char* block = nullptr;
    EXPECT_FALSE(memory.allocate(1, block));
    EXPECT_EQ(2, log.count("Incorrect block pointer passed to fv_transfers::CMemoryManager::release"));
}

TEST(TransferBufferManager, PoolSizeFollowsFreeMemory)
{
    struct Case {
        bool known;
        std::uint64_t available;
        std::uint64_t maxPoolSize;
        std::uint64_t pool;
    };
    const Case cases[] = {
        {true, 8 * kGiB, 0, 136314880},
        {true, kGiB, 0, 32212254},
        {false, 0, 0, 31457280},
        {true, 8 * kGiB, kMiB, 1048576},
        {false, 0, kMiB, 1048576},
        {true, kGiB, 64 * kMiB, 32212254},
        {true, std::numeric_limits<std::uint64_t>::max(), 0, 136314880},
    };
    for (const Case& c : cases) {
        auto manager = makeManager(0, c.known, c.available);
        EXPECT_EQ(0u, manager->poolSize());
        EXPECT_FALSE(manager->isInitialized());
        manager->init(c.maxPoolSize);
        EXPECT_TRUE(manager->isInitialized());
        EXPECT_EQ(c.pool, manager->poolSize()) << c.available << " " << c.maxPoolSize;
    }
}

TEST(TransferBufferManager, NoFreeMemoryGivesAPoolThatHandsOutNothing)
{
    auto manager = makeManager(0, true, 0);
    manager->init(0);
    EXPECT_EQ(0u, manager->poolSize());
    EXPECT_THROW(manager->acquire(4096), Insufficient);
}

TEST(TransferBufferManager, BufferSizeFollowsTheHintUpToOneMiB)
{
    struct Case {
        std::uint64_t fixedSize; // 0: dynamic
        std::uint64_t hint;
        std::uint64_t bufferSize;
    };
    const Case cases[] = {
        {0, 0, 20480},          {0, 10000, 4096},       {0, 1000000, 200000},   {0, 10000000, 1048576},
        {0, 52428800, 1048576}, {4096, 10000000, 4096}, {52428800, 0, 1048576},
    };
    for (const Case& c : cases) {
        auto manager = makeManager(c.fixedSize);
        manager->setSizeHint(c.hint);
        EXPECT_EQ(c.bufferSize, manager->maxBufferSize()) << c.fixedSize << " " << c.hint;
        manager->init(0);
        CTransferBufferHandle handle = manager->acquire(std::numeric_limits<std::uint64_t>::max());
        EXPECT_EQ(c.bufferSize, handle->capacity) << c.fixedSize << " " << c.hint;
    }
}

TEST(TransferBufferManager, UntouchedPoolPagesStayNonResident)
{
    auto manager = makeManager(0);
    manager->setSizeHint(52428800);
    manager->init(0);
    ASSERT_EQ(136314880u, manager->poolSize());
    CTransferBufferHandle handle = manager->acquire(kMiB);
    std::memset(handle->data, 0x5a, handle->capacity);

    // The first buffer of a fresh pool starts it.
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((136314880 + page - 1) / page);
    ASSERT_EQ(0, ::mincore(handle->data, 136314880, resident.data())) << std::strerror(errno);
    std::size_t residentPages = 0;
    for (unsigned char r : resident)
        residentPages += r & 1;
    // The written MiB, and at most a huge page or two around it.
    EXPECT_LT(residentPages * page, 8 * kMiB);
}

TEST(TransferBufferManager, ReusesAFreeBufferWithinTenPercent)
{
    struct Case {
        std::uint64_t freeCapacity;
        std::uint64_t request;
        bool reused;
    };
    const Case cases[] = {
        {10900, 10000, true}, {11000, 10000, false}, {9100, 10000, true},
        {9000, 10000, false}, {10000, 10000, true},  {4, 5, false},
    };
    for (const Case& c : cases) {
        auto manager = makeManager(kMiB);
        manager->init(kMiB);
        char* freed = manager->acquire(c.freeCapacity)->data;
        CTransferBufferHandle handle = manager->acquire(c.request);
        EXPECT_EQ(c.reused, handle->data == freed) << c.freeCapacity << " for " << c.request;
        EXPECT_EQ(c.reused ? c.freeCapacity : c.request, handle->capacity);
    }
}

TEST(TransferBufferManager, ReusedBufferComesBackEmpty)
{
    auto manager = makeManager(kMiB);
    manager->init(kMiB);
    CTransferBuffer* buffer = manager->getBuffer(1000);
    buffer->commit(500);
    manager->releaseBuffer(buffer);
    CTransferBufferHandle again = manager->acquire(1000);
    EXPECT_EQ(buffer, again.get());
    EXPECT_EQ(0u, again->dataSize);
    EXPECT_FALSE(again->isFree);
}

TEST(TransferBufferManager, EvictsFreeBuffersOfOtherSizesOldestFirst)
{
    auto manager = makeManager(kMiB);
    std::vector<CTransferBufferHandle> handles = takeBuffers(*manager, 40000, 4, 10000);
    char* const base = handles[0]->data;
    handles.clear();

    CTransferBufferHandle big = manager->acquire(20000);
    EXPECT_EQ(0, offsetOf(big, base));
    EXPECT_EQ(20000u, big->capacity);
    CTransferBufferHandle small = manager->acquire(10000);
    EXPECT_EQ(20000, offsetOf(small, base)); // the oldest free buffer left
}

TEST(TransferBufferManager, FullPoolHandsOutItsLargestGapThenRunsOut)
{
    auto manager = makeManager(kMiB);
    std::vector<CTransferBufferHandle> handles = takeBuffers(*manager, 40000, 3, 12000);
    CTransferBufferHandle rest = manager->acquire(12000);
    EXPECT_EQ(36000, offsetOf(rest, handles[0]->data));
    EXPECT_EQ(4000u, rest->capacity);
    try {
        manager->acquire(12000);
        FAIL() << "pool not exhausted";
    } catch (const Insufficient& e) {
        EXPECT_NE(std::string::npos,
                  std::string(e.what()).find("Unable to allocate memory from memory pool, all memory is used up"));
    }
    handles.pop_back();
    EXPECT_EQ(12000u, manager->acquire(12000)->capacity);
}

TEST(TransferBufferManager, RefusesARequestOfNoBytesAndAManagerWithoutPool)
{
    fv_test::LogCapture log;
    auto manager = makeManager(0);
    EXPECT_THROW(manager->acquire(4096), Insufficient);
    EXPECT_EQ(1, log.count("fv_transfers::CTransferBufferManagerBase::getBuffer: Memory pool does not seem to be "
                           "allocated!"));
    manager->init(0);
    try {
        manager->getBuffer(0);
        FAIL() << "0 accepted";
    } catch (const ITransferBufferManager::CInvalidParamException& e) {
        EXPECT_NE(
            std::string::npos,
            std::string(e.what()).find(
                "Invalid param maxSize: 0 passed to function fv_transfers::CTransferBufferManagerBase::getBuffer"));
    }
}

TEST(TransferBufferManager, ReleaseOfAForeignBufferIsLoggedAndIgnored)
{
    fv_test::LogCapture log;
    auto manager = makeManager(0);
    manager->init(kMiB);
    char outside[16];
    CTransferBuffer foreign(outside, sizeof(outside));
    manager->releaseBuffer(&foreign);
    EXPECT_EQ(1,
              log.count("fv_transfers::CTransferBufferManagerBase::releaseBuffer called, but buffers list is empty!"));
    CTransferBufferHandle handle = manager->acquire(4096);
    manager->releaseBuffer(&foreign);
    EXPECT_EQ(1, log.count("Buffer passed to fv_transfers::CTransferBufferManagerBase::releaseBuffer not found in "
                           "buffers list!"));
    EXPECT_FALSE(handle->isFree);
}

TEST(TransferBufferManager, UninitWithBuffersOutFreesThePoolOnTheLastRelease)
{
    fv_test::LogCapture log;
    auto manager = makeManager(0);
    manager->init(kMiB);
    CTransferBufferHandle first = manager->acquire(4096);
    CTransferBufferHandle second = manager->acquire(4096);

    manager->uninit();
    EXPECT_EQ(1, log.count("Buffer Manager: received request for buffer deallocation, but there are active buffers!"));
    EXPECT_FALSE(manager->isInitialized());
    EXPECT_THROW(manager->acquire(4096), Insufficient);
    std::memset(first->data, 1, first->capacity); // still the caller's
    std::memset(second->data, 2, second->capacity);

    first.reset();
    EXPECT_EQ(0, log.count("Deallocating memory pool: "));
    EXPECT_EQ(kMiB, manager->poolSize());
    second.reset();
    EXPECT_EQ(1, log.count("Deallocating memory pool: "));
    EXPECT_EQ(0u, manager->poolSize());

    manager->init(kMiB);
    EXPECT_TRUE(manager->isInitialized());
    EXPECT_EQ(4096u, manager->acquire(4096)->capacity);
}

TEST(TransferBufferManager, InitCancelsAPendingRelease)
{
    fv_test::LogCapture log;
    auto manager = makeManager(0);
    manager->init(kMiB);
    CTransferBufferHandle held = manager->acquire(4096);
    manager->uninit();
    manager->init(2 * kMiB);
    EXPECT_TRUE(manager->isInitialized());
    EXPECT_EQ(kMiB, manager->poolSize()); // the pool the buffer lives in
    held.reset();
    EXPECT_EQ(0, log.count("Deallocating memory pool: "));
    EXPECT_EQ(4096u, manager->acquire(4096)->capacity);
}

TEST(TransferBufferManager, UninitWithEveryBufferBackFreesAtOnce)
{
    fv_test::LogCapture log;
    auto manager = makeManager(0);
    manager->init(kMiB);
    manager->acquire(4096);
    manager->uninit();
    EXPECT_EQ(1, log.count("Deallocating memory pool: "));
    EXPECT_FALSE(manager->isInitialized());
}

TEST(TransferBufferManager, HandleKeepsItsManagerAndPoolAlive)
{
    fv_test::LogCapture log;
    auto manager = makeManager(0);
    manager->init(kMiB);
    CTransferBufferHandle handle = manager->acquire(4096);
    CTransferBufferHandle moved = std::move(handle);
    EXPECT_FALSE(handle);
    manager.reset();
    std::memset(moved->data, 3, moved->capacity);
    EXPECT_EQ(0, log.count("Deallocating memory pool: "));
    moved.reset();
    EXPECT_EQ(1, log.count("Deallocating memory pool: "));
}

namespace {

// A monotonic clock the test moves by hand.
class ManualClock {
public:
    std::chrono::steady_clock::time_point now() const { return m_start + std::chrono::seconds(m_seconds.load()); }
    void set(int seconds) { m_seconds = seconds; }

private:
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::atomic<int> m_seconds{0};
};

enum class Outcome { buffer, shortage, timeout };

Outcome tryGet(CBufferMngrTimeLimitted& front, std::vector<CTransferBufferHandle>& held)
{
    try {
        held.push_back(front.getBuffer(10000));
        return Outcome::buffer;
    } catch (const Timeout&) {
        return Outcome::timeout;
    } catch (const Insufficient&) {
        return Outcome::shortage;
    }
}

} // namespace

TEST(BufferMngrTimeLimitted, ShortageBecomesATimeoutSixtySecondsAfterTheLastBuffer)
{
    static_assert(!std::is_base_of<Insufficient, Timeout>::value, "a retry on shortage would swallow the time-out");
    ManualClock clock;
    auto manager = makeManager(kMiB);
    manager->init(20000);
    CBufferMngrTimeLimitted front(manager, [&clock] { return clock.now(); });
    std::vector<CTransferBufferHandle> held;

    struct Step {
        int seconds;
        bool releaseOne;
        Outcome outcome;
    };
    const Step steps[] = {
        {0, false, Outcome::buffer},    {0, false, Outcome::buffer},      {1, false, Outcome::shortage},
        {59, false, Outcome::shortage}, {60, false, Outcome::timeout},    {3600, false, Outcome::timeout},
        {3601, true, Outcome::buffer},  {3660, false, Outcome::shortage}, {3661, false, Outcome::timeout},
    };
    for (const Step& s : steps) {
        clock.set(s.seconds);
        if (s.releaseOne)
            held.pop_back();
        EXPECT_EQ(s.outcome, tryGet(front, held)) << "at " << s.seconds << " s";
    }
    try {
        throw Timeout();
    } catch (const Timeout& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find("Timeout waiting for buffer"));
    }
}

TEST(BufferMngrTimeLimitted, WithoutAManagerThrowsNullPointer)
{
    CBufferMngrTimeLimitted front(nullptr);
    EXPECT_THROW(front.getBuffer(10), Poco::NullPointerException);
}

namespace {

// The address ranges handed out and not yet given back, over every thread.
class HeldRanges {
public:
    bool add(const char* start, std::uint64_t size)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const char* end = start + size;
        auto next = m_ranges.lower_bound(start);
        if (next != m_ranges.end() && next->first < end)
            return false;
        if (next != m_ranges.begin() && std::prev(next)->second > start)
            return false;
        m_ranges.emplace(start, end);
        return true;
    }
    void remove(const char* start)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_ranges.erase(start);
    }

private:
    std::mutex m_lock;
    std::map<const char*, const char*> m_ranges;
};

bool filledWith(const CTransferBuffer& buffer, char pattern)
{
    for (std::uint64_t i = 0; i < buffer.capacity; ++i) {
        if (buffer.data[i] != pattern)
            return false;
    }
    return true;
}

} // namespace

TEST(TransferBufferManager, BuffersTakenFromManyThreadsNeverOverlap)
{
    fv_test::Watchdog watchdog("the buffer threads", std::chrono::seconds(100));
    fv_test::LogCapture log;
    auto manager = makeManager(0);
    manager->init(262144);
    HeldRanges ranges;
    std::atomic<int> overlaps{0};
    std::atomic<int> overwritten{0};
    std::atomic<int> handedOut{0};
    std::atomic<bool> done{false};

    auto worker = [&](unsigned seed) {
        std::mt19937 random(seed);
        const char pattern = static_cast<char>('a' + seed);
        std::vector<CTransferBufferHandle> held;
        auto giveBack = [&](std::size_t index) {
            if (!filledWith(*held[index], pattern))
                ++overwritten;
            ranges.remove(held[index]->data);
            held.erase(held.begin() + static_cast<std::ptrdiff_t>(index));
        };
        for (int i = 0; i < 3000; ++i) {
            if (held.size() < 4 && random() % 3 != 0) {
                try {
                    CTransferBufferHandle handle = manager->acquire(1 + random() % 70000);
                    if (!ranges.add(handle->data, handle->capacity)) {
                        ++overlaps;
                        continue;
                    }
                    std::memset(handle->data, pattern, handle->capacity);
                    held.push_back(std::move(handle));
                    ++handedOut;
                } catch (const Insufficient&) {
                    while (!held.empty())
                        giveBack(held.size() - 1);
                }
            } else if (!held.empty()) {
                giveBack(random() % held.size());
            }
            if (random() % 50 == 0)
                manager->setSizeHint(random() % 2000000);
        }
        while (!held.empty())
            giveBack(0);
    };
    // Pool teardown and set-up race the workers: a pending release must wait for their buffers.
    // Paced by the workers' progress, so the workers also meet a pool that stays.
    auto cycler = [&] {
        int last = 0;
        while (!done) {
            const int now = handedOut;
            if (now - last < 25) {
                std::this_thread::yield();
                continue;
            }
            last = now;
            manager->uninit();
            manager->init(262144);
        }
    };

    std::thread cycling(cycler);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < 4; ++t)
        workers.emplace_back(worker, t + 1);
    for (std::thread& w : workers)
        w.join();
    done = true;
    cycling.join();

    EXPECT_EQ(0, overlaps.load());
    EXPECT_EQ(0, overwritten.load());
    EXPECT_GT(handedOut.load(), 0);
    manager->init(262144);
    EXPECT_TRUE(manager->isInitialized());
}
