#pragma once

#include <atomic>

namespace fvcef {

// What every reference-counted object of the browser layer offers. A class with several such
// bases keeps one count for all of them: it derives through CefRefCounted, which overrides the
// three operations once.
class CefBaseRefCounted {
public:
    virtual void AddRef() const = 0;
    // True when this call dropped the last reference (the object is gone).
    virtual bool Release() const = 0;
    virtual bool HasOneRef() const = 0;

protected:
    virtual ~CefBaseRefCounted() = default;
};

// The count itself: new objects start at zero, and the first CefRefPtr takes them.
template <class... Bases> class CefRefCounted : public Bases... {
public:
    void AddRef() const final { m_count.fetch_add(1, std::memory_order_relaxed); }
    bool Release() const final
    {
        // acq_rel: the last owner's writes happen before the destructor runs on this thread.
        if (m_count.fetch_sub(1, std::memory_order_acq_rel) != 1)
            return false;
        delete this;
        return true;
    }
    bool HasOneRef() const final { return m_count.load(std::memory_order_acquire) == 1; }

protected:
    ~CefRefCounted() override = default;

private:
    mutable std::atomic<int> m_count{0};
};

} // namespace fvcef
