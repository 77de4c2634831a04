// CPipe: the pipe component's object. Configure reads the document and
// connects at once; WriteData sends each chunk whole through the transport;
// Finish ends the transfer in order. One object serves one document:
//
//   new --Configure ok--> ready --Finish--> ended
//   ready --WriteData fails--> broken (later WriteData and Finish fail)
//   any --Abort--> ended (later WriteData and Finish fail)
//
// A second Configure, WriteData before Configure, and anything but Abort
// after the end fail with E_UNEXPECTED (or the earlier failure); WriteData
// and Finish after Abort fail with E_ABORT.
// Threads: registered "Both". Configure, WriteData, Finish and
// GetBytesWritten are serialised by the object's lock (m_lock). Abort never
// waits for that lock, so that it can come from another thread while a
// WriteData or Finish is blocked inside the transport: it marks the object
// aborted and cancels the transport (CTransport::Cancel, thread-safe),
// which makes the blocked call fail within about a second. If m_lock is
// free, Abort then drops the connection itself; otherwise the call that
// holds it does so on its way out, or the next call, or the last Release.
// m_csTransport guards the transport's lifetime against Abort: it is held
// to set, reset or cancel m_pTransport, never across a blocking call.
// Lock order: m_lock, then m_csTransport.
// IPrinterStatus and IPrinterPageCounter (PrinterStatus.h) stay outside both locks: it may be asked
// while another thread is inside WriteData. A TCP transport keeps what a
// stalled send learns of the printer's state in m_lastStatus (which guards
// itself), so GetLastStatus shows it while the send waits.
// Failures: every method reports them by its result, never by an
// exception; running out of memory inside one is E_OUTOFMEMORY (a document
// cut short by it is dropped, its connection reset).
// Lifetime: reference counted; the last Release closes a transport still
// open, without the orderly end (the connection is reset).
#pragma once

#include "framework/Sync.h"
#include "pipe/PrinterStatus.h"
#include "pipe/Transport.h"
#include "printers/PipeInterfaces.h"

#include <atomic>
#include <memory>

class CPipe final : public IPipe,
                    public IPipeConfig,
                    public IPrinterStatus,
                    public IPrinterPageCounter {
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
    // IPrinterPageCounter
    HRESULT STDMETHODCALLTYPE ReadPageCounter(BSTR bstrXml, ULONGLONG* pullPages,
                                              BOOL* pbIdle) override;

private:
    enum class State { New, Ready, Broken, Ended };

    CPipe();
    ~CPipe();
    CPipe(const CPipe&) = delete;
    CPipe& operator=(const CPipe&) = delete;

    // Under m_lock: drops the connection of an aborted object and ends it.
    HRESULT EndAborted();

    std::atomic<ULONG> m_cRef{1};
    CCriticalSection m_lock;
    State m_state = State::New;
    HRESULT m_hrFailure = S_OK;
    std::unique_ptr<CTransport> m_pTransport;
    ULONGLONG m_cbWritten = 0;
    CLastPrinterStatus m_lastStatus; // guarded by its own lock
    CCriticalSection m_csTransport;
    std::atomic<bool> m_bAborted{false};
};
