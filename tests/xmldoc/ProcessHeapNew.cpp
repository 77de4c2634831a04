// The test programs that link this file allocate every C++ object on the
// process heap, whose blocks Wine checks (tail and header) when heap
// warnings are on: an overrun then shows up as an "err:heap" line and fails
// the run.
#include "ProcessHeapNew.h"

#include <windows.h>

#include <cstddef>
#include <new>

namespace {
thread_local bool t_bFailNew = false;

void* Allocate(std::size_t cb) {
    return t_bFailNew ? nullptr : HeapAlloc(GetProcessHeap(), 0, cb ? cb : 1);
}
} // namespace

CNoMemoryOnThisThread::CNoMemoryOnThisThread() {
    t_bFailNew = true;
}

CNoMemoryOnThisThread::~CNoMemoryOnThisThread() {
    t_bFailNew = false;
}

void* operator new(std::size_t cb) {
    void* p = Allocate(cb);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void* operator new[](std::size_t cb) {
    return operator new(cb);
}

void* operator new(std::size_t cb, const std::nothrow_t&) noexcept {
    return Allocate(cb);
}

void* operator new[](std::size_t cb, const std::nothrow_t&) noexcept {
    return Allocate(cb);
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
