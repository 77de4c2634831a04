#include "pipe/ClassFactory.h"

#include "pipe/Pipe.h"
#include "pipe/PipeModule.h"

CPipeClassFactory& PipeClassFactory() {
    static CPipeClassFactory factory;
    return factory;
}

HRESULT CPipeClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// A held factory keeps the module loaded, as a lock does.
ULONG CPipeClassFactory::AddRef() {
    PipeModuleLock(true);
    return 2;
}

ULONG CPipeClassFactory::Release() {
    PipeModuleLock(false);
    return 1;
}

HRESULT CPipeClassFactory::CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pOuter)
        return CLASS_E_NOAGGREGATION;
    return CPipe::Create(riid, ppv);
}

HRESULT CPipeClassFactory::LockServer(BOOL bLock) {
    PipeModuleLock(bLock != FALSE);
    return S_OK;
}
