#pragma once

#include <memory>
#include <mutex>

namespace fv_transfers {

// A process-wide instance that the library's start-up makes and its shut-down drops, while
// holders keep what they already have alive. Meant to be a function-local static.
template <typename T> class CSharedInstanceSlot {
public:
    std::shared_ptr<T> get() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_instance;
    }

    // Makes the instance with `make` unless there is one; `make` may throw.
    template <typename Make> std::shared_ptr<T> getOrCreate(Make make)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_instance)
            m_instance = make();
        return m_instance;
    }

    // Makes a new instance with `make` unless `keep(current)` holds; the current one ends first,
    // under the lock, for instances that must never overlap (two connections writing one file).
    // False when the current one was kept.
    template <typename Keep, typename Make> bool replaceUnless(Keep keep, Make make)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_instance && keep(m_instance))
            return false;
        m_instance.reset();
        m_instance = make();
        return true;
    }

    // Empties the slot and hands over what it held, so the caller ends it outside the lock.
    std::shared_ptr<T> take()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        std::shared_ptr<T> instance;
        instance.swap(m_instance);
        return instance;
    }

private:
    mutable std::mutex m_lock;
    std::shared_ptr<T> m_instance;
};

} // namespace fv_transfers
