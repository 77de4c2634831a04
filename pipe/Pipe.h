// CPipe: the pipe component's object. Configure reads the document and
// connects at once; WriteData sends each chunk whole through the transport;
// Finish ends the transfer in order. One object serves one document:
//
//   new --Configure ok--> ready --Finish--> ended
//   ready --WriteData fails--> broken (later WriteData and Finish fail)
//   any --Abort--> ended (later WriteData and Finish fail)
//
// A second Configure, WriteData before Configure, and anything but Abort
// after the end fail with E_UNEXPECTED (or the earlier failure).
// Threads: registered "Both"; calls are serialised by the object's lock.
// IPrinterStatus (PrinterStatus.h) stays outside that lock: it may be asked
// while another thread is inside WriteData.
// Lifetime: reference counted; the last Release closes a transport still
// open, without the orderly end.
#pragma once

#include "framework/Sync.h"
#include "pipe/PrinterStatus.h"
#include "pipe/Transport.h"
#include "printers/PipeInterfaces.h"

#include <atomic>
#include <memory>

class CPipe final : public IPipe, public IPipeConfig, public IPrinterStatus {
public:
    // A new object, handed out through riid.
    static HRESULT Create(REFIID riid, void** ppv);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IPipe
    HRESULT STDMETHODCALLTYPE GetBytesWritten(ULONGLONG* pcbWritten) override;
    HRESULT STDMETHODCALLTYPE WriteData(const BYTE* pData, LONG cbData) override;
    HRESULT STDMETHODCALLTYPE Abort() override;
    HRESULT STDMETHODCALLTYPE Finish(LONG lReserved) override;
    // IPipeConfig
    HRESULT STDMETHODCALLTYPE Configure(BSTR bstrXml) override;
    // IPrinterStatus
    HRESULT STDMETHODCALLTYPE CheckStatus(BSTR bstrXml, LONG* plCode, BSTR* pbstrText) override;
    HRESULT STDMETHODCALLTYPE GetLastStatus(LONG* plCode, BSTR* pbstrText) override;

private:
    enum class State { New, Ready, Broken, Ended };

    CPipe();
    ~CPipe();
    CPipe(const CPipe&) = delete;
    CPipe& operator=(const CPipe&) = delete;

    std::atomic<ULONG> m_cRef{1};
    CCriticalSection m_lock;
    State m_state = State::New;
    HRESULT m_hrFailure = S_OK;
    std::unique_ptr<CTransport> m_pTransport;
    ULONGLONG m_cbWritten = 0;
    CLastPrinterStatus m_lastStatus; // guarded by its own lock
};
