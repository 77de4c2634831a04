// CPipeClassFactory: makes CPipe objects for COM. No aggregation. A static
// object: its reference count only keeps the module loaded while a caller
// holds it. Threads: any.
#pragma once

#include <objbase.h>

class CPipeClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL bLock) override;
};

CPipeClassFactory& PipeClassFactory();
