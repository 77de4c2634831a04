// Stand-ins for the pipe component, registered in the test's process for
// the component's class id so that the printers create them instead of the
// real one. StandInPipe is the reference counting of an object that is
// both IPipe and IPipeConfig; its last Release deletes it (a derived class
// does its bookkeeping in its destructor). StandInRegistration registers a
// class object that makes one object per CreateInstance, for as long as it
// lives; it must not outlive the test's apartment. The class object itself
// is counted as COM counts: a worker that keeps it past the registration
// (as the print loop does) still holds a live object. Threads: any, the
// reference counts are atomic.
#pragma once

#include "printers/PipeInterfaces.h"

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <functional>

class StandInPipe : public IPipe, public IPipeConfig {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPipe))
            *ppv = static_cast<IPipe*>(this);
        else if (IsEqualIID(riid, IID_IPipeConfig))
            *ppv = static_cast<IPipeConfig*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_cRef;
        if (n == 0)
            delete this;
        return n;
    }

protected:
    virtual ~StandInPipe() = default;

private:
    std::atomic<ULONG> m_cRef{1};
};

class StandInRegistration {
public:
    // Make answers the object for one CreateInstance, holding one
    // reference that CreateInstance hands on, or a failure.
    using Make = std::function<HRESULT(IUnknown** ppObject)>;

    explicit StandInRegistration(Make make) : m_pFactory(new Factory(std::move(make))) {
        m_hr = CoRegisterClassObject(CLSID_MorvanePipe, m_pFactory, CLSCTX_INPROC_SERVER,
                                     REGCLS_MULTIPLEUSE, &m_cookie);
    }
    ~StandInRegistration() {
        if (SUCCEEDED(m_hr))
            CoRevokeClassObject(m_cookie);
        m_pFactory->Release();
    }
    StandInRegistration(const StandInRegistration&) = delete;
    StandInRegistration& operator=(const StandInRegistration&) = delete;
    bool ok() const { return SUCCEEDED(m_hr); }

private:
    class Factory final : public IClassFactory {
    public:
        explicit Factory(Make make) : m_make(std::move(make)) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
                *ppv = this;
                AddRef();
                return S_OK;
            }
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
        ULONG STDMETHODCALLTYPE Release() override {
            const ULONG n = --m_cRef;
            if (n == 0)
                delete this;
            return n;
        }
        HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pOuter, REFIID riid,
                                                 void** ppv) override {
            *ppv = nullptr;
            if (pOuter)
                return CLASS_E_NOAGGREGATION;
            IUnknown* p = nullptr;
            HRESULT hr = m_make(&p);
            if (FAILED(hr))
                return hr;
            hr = p->QueryInterface(riid, ppv);
            p->Release();
            return hr;
        }
        HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    private:
        Make m_make;
        std::atomic<ULONG> m_cRef{1};
    };

    Factory* m_pFactory;
    DWORD m_cookie = 0;
    HRESULT m_hr = E_FAIL;
};
