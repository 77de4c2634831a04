// Making the pipe component. CoCreateInstance looks the class up in the
// registry on every call: about ten server round trips, for each copy and
// each status question, which is most of what a small network job costs
// besides its connection. A thread that makes many components keeps the
// class object instead, for as long as a CPipeFactoryScope lives on it.
//
// Rules: a scope is made on a thread after its CoInitializeEx and goes
// before that thread's CoUninitialize: the class object lives in the
// component's DLL, which COM may unload once the apartment is gone, so a
// class object kept past it would be called in a module no longer there.
// At most one scope per thread; the class object is asked for at the first
// component made inside the scope, so a thread that never makes one never
// loads the DLL. A thread without a scope, or whose class object could not
// be had, makes each component the ordinary way.
// Threads: each thread has its own; nothing is shared.
#pragma once

#include <objbase.h>

class CPipeFactoryScope {
public:
    CPipeFactoryScope();
    ~CPipeFactoryScope();
    CPipeFactoryScope(const CPipeFactoryScope&) = delete;
    CPipeFactoryScope& operator=(const CPipeFactoryScope&) = delete;
};

// A new pipe component, asked for the interface riid (as CoCreateInstance).
HRESULT CreatePipeObject(REFIID riid, void** ppv);
