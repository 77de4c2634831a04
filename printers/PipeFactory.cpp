#include "printers/PipeFactory.h"

#include "printers/PipeInterfaces.h"

namespace {

struct ThreadFactory {
    bool bInScope = false;
    bool bAsked = false;
    IClassFactory* pFactory = nullptr;
};

thread_local ThreadFactory t_factory;

} // namespace

CPipeFactoryScope::CPipeFactoryScope() {
    t_factory = ThreadFactory();
    t_factory.bInScope = true;
}

CPipeFactoryScope::~CPipeFactoryScope() {
    if (t_factory.pFactory)
        t_factory.pFactory->Release();
    t_factory = ThreadFactory();
}

HRESULT CreatePipeObject(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    ThreadFactory& f = t_factory;
    if (f.bInScope && !f.bAsked) {
        f.bAsked = true;
        void* p = nullptr;
        if (SUCCEEDED(
                CoGetClassObject(CLSID_MorvanePipe, CLSCTX_ALL, nullptr, IID_IClassFactory, &p)))
            f.pFactory = static_cast<IClassFactory*>(p);
    }
    if (f.pFactory)
        return f.pFactory->CreateInstance(nullptr, riid, ppv);
    return CoCreateInstance(CLSID_MorvanePipe, nullptr, CLSCTX_ALL, riid, ppv);
}
