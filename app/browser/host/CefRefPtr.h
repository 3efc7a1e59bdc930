#pragma once

#include <cstddef>
#include <utility>

namespace fvcef {

// Holds one reference of an intrusively counted object (AddRef/Release); copies share it.
template <class T> class CefRefPtr {
public:
    CefRefPtr() = default;
    CefRefPtr(std::nullptr_t) {}
    CefRefPtr(T* object) : m_object(object) { acquire(); }
    CefRefPtr(const CefRefPtr& other) : m_object(other.m_object) { acquire(); }
    CefRefPtr(CefRefPtr&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    template <class U> CefRefPtr(const CefRefPtr<U>& other) : m_object(other.get()) { acquire(); }
    ~CefRefPtr() { release(); }

    CefRefPtr& operator=(CefRefPtr other) noexcept
    {
        std::swap(m_object, other.m_object);
        return *this;
    }

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    bool operator==(const CefRefPtr& other) const { return m_object == other.m_object; }
    bool operator!=(const CefRefPtr& other) const { return m_object != other.m_object; }
    bool operator==(std::nullptr_t) const { return m_object == nullptr; }
    bool operator!=(std::nullptr_t) const { return m_object != nullptr; }

private:
    void acquire() const
    {
        if (m_object)
            m_object->AddRef();
    }
    void release() const
    {
        if (m_object)
            m_object->Release();
    }

    T* m_object = nullptr;
};

} // namespace fvcef
