// CComPtr<T>: the owner of one reference to a COM object. The reference
// goes (Release) when the owner is destroyed, reset or given another one;
// a copy takes a reference of its own (AddRef); a move hands the reference
// on without touching the count. Attach adopts a reference the caller
// already holds; Detach hands the owner's reference back to the caller.
// Put and PutVoid give the address an out-parameter API (QueryInterface,
// CoCreateInstance) writes a new reference to, after letting go of the old.
// Threads: an owner belongs to one thread at a time; the object it points
// to follows its own rules. Locks: none.
#pragma once

#include <unknwn.h>

#include <utility>

template <typename T> class CComPtr {
public:
    CComPtr() = default;
    CComPtr(const CComPtr& other) : m_p(other.m_p) {
        if (m_p)
            m_p->AddRef();
    }
    CComPtr(CComPtr&& other) noexcept : m_p(other.Detach()) {}
    CComPtr& operator=(const CComPtr& other) {
        if (other.m_p)
            other.m_p->AddRef();
        Attach(other.m_p);
        return *this;
    }
    CComPtr& operator=(CComPtr&& other) noexcept {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }
    ~CComPtr() { Reset(); }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // Out-parameters: the old reference goes first.
    T** Put() {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    // Takes over a reference the caller holds (no AddRef).
    void Attach(T* p) {
        T* old = std::exchange(m_p, p);
        if (old)
            old->Release();
    }
    // Gives the reference to the caller (no Release).
    T* Detach() { return std::exchange(m_p, nullptr); }
    void Reset() { Attach(nullptr); }

private:
    T* m_p = nullptr;
};
