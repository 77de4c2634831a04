// The XML tests allocate every C++ object on the process heap, whose blocks
// Wine checks (tail and header) when heap warnings are on: an overrun in
// the library then shows up as an "err:heap" line and fails the run.
#include <windows.h>

#include <cstddef>
#include <new>

void* operator new(std::size_t cb) {
    void* p = HeapAlloc(GetProcessHeap(), 0, cb ? cb : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void* operator new[](std::size_t cb) {
    return operator new(cb);
}

void* operator new(std::size_t cb, const std::nothrow_t&) noexcept {
    return HeapAlloc(GetProcessHeap(), 0, cb ? cb : 1);
}

void* operator new[](std::size_t cb, const std::nothrow_t&) noexcept {
    return HeapAlloc(GetProcessHeap(), 0, cb ? cb : 1);
}

void operator delete(void* p) noexcept {
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
}

void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    operator delete(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    operator delete(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    operator delete(p);
}
