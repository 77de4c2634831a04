#include "pipe/Pipe.h"

#include "framework/ComPtr.h"
#include "pipe/PipeModule.h"
#include "pipe/PipeSettings.h"
#include "pipe/TcpTransport.h"
#include "pipe/UsbTransport.h"

#include <new>

namespace {

// A method's body: an exception (out of memory, in practice) becomes its
// result; none ever leaves a COM method.
template <typename Body> HRESULT NoThrow(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace

CPipe::CPipe() {
    PipeModuleAddObject();
}

CPipe::~CPipe() {
    m_pTransport.reset();
    PipeModuleReleaseObject();
}

HRESULT CPipe::Create(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    // The new object's first reference goes when this returns; the one
    // QueryInterface hands out keeps it.
    CComPtr<CPipe> p;
    p.Attach(new (std::nothrow) CPipe);
    if (!p)
        return E_OUTOFMEMORY;
    return p->QueryInterface(riid, ppv);
}

HRESULT CPipe::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPipe)) {
        *ppv = static_cast<IPipe*>(this);
    } else if (IsEqualIID(riid, IID_IPipeConfig)) {
        *ppv = static_cast<IPipeConfig*>(this);
    } else if (IsEqualIID(riid, IID_IPrinterStatus)) {
        *ppv = static_cast<IPrinterStatus*>(this);
    } else if (IsEqualIID(riid, IID_IPrinterPageCounter)) {
        *ppv = static_cast<IPrinterPageCounter*>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CPipe::AddRef() {
    return ++m_cRef;
}

ULONG CPipe::Release() {
    const ULONG n = --m_cRef;
    if (n == 0)
        delete this;
    return n;
}

HRESULT CPipe::GetBytesWritten(ULONGLONG* pcbWritten) {
    if (!pcbWritten)
        return E_POINTER;
    CLock lock(m_lock);
    *pcbWritten = m_cbWritten;
    return S_OK;
}

HRESULT CPipe::Configure(BSTR bstrXml) {
    CLock lock(m_lock);
    if (m_bAborted)
        return EndAborted();
    if (m_state != State::New)
        return E_UNEXPECTED;
    std::unique_ptr<CTransport> pTransport;
    const HRESULT hr = NoThrow([&] {
        PipeSettings settings;
        const HRESULT hrRead = ReadPipeSettings(bstrXml, GetPipeDefaultTimeouts(), settings);
        if (FAILED(hrRead))
            return hrRead;
        if (settings.method == PipeSettings::Method::Tcp) {
            // A stalled send asks the printer's state through the same
            // document and keeps each answer where GetLastStatus reads it.
            PrinterWatch watch;
            watch.pLast = &m_lastStatus;
            const bool bWatch = SUCCEEDED(ReadSnmpTarget(bstrXml, watch.target));
            return CTcpTransport::Connect(settings.strAddress.c_str(), settings.nPort,
                                          settings.timeouts, pTransport, bWatch ? &watch : nullptr);
        }
        // A stalled write asks the status byte and keeps the answers there
        // too.
        if (!settings.strUsbPort.empty())
            return CUsbTransport::OpenPath(settings.strUsbPort, settings.timeouts, pTransport,
                                           &m_lastStatus);
        return CUsbTransport::OpenBySerialNumber(settings.strUsbSerial, settings.timeouts,
                                                 pTransport, &m_lastStatus);
    });
    if (FAILED(hr))
        return hr;
    {
        CLock transportLock(m_csTransport);
        m_pTransport = std::move(pTransport);
    }
    // Aborted while connecting: the new connection goes at once.
    if (m_bAborted)
        return EndAborted();
    m_state = State::Ready;
    return S_OK;
}

HRESULT CPipe::WriteData(const BYTE* pData, LONG cbData) {
    CLock lock(m_lock);
    if (m_bAborted)
        return EndAborted();
    if (m_state == State::Broken)
        return m_hrFailure;
    if (m_state != State::Ready)
        return E_UNEXPECTED;
    if (cbData < 0)
        return E_INVALIDARG;
    if (cbData == 0)
        return S_OK;
    if (!pData)
        return E_POINTER;
    bool bThrown = true;
    const HRESULT hr = NoThrow([&] {
        const HRESULT hrWrite = m_pTransport->Write(pData, static_cast<DWORD>(cbData));
        bThrown = false;
        return hrWrite;
    });
    // Aborted meanwhile (the write may have been cut short by it).
    if (m_bAborted)
        return EndAborted();
    if (FAILED(hr)) {
        // Left midway by an exception: the connection goes at once, so the
        // printer never sees the end of a document cut short.
        if (bThrown) {
            CLock transportLock(m_csTransport);
            m_pTransport->Abort();
        }
        m_state = State::Broken;
        m_hrFailure = hr;
        return hr;
    }
    m_cbWritten += static_cast<ULONGLONG>(cbData);
    return S_OK;
}

HRESULT CPipe::Finish(LONG lReserved) {
    CLock lock(m_lock);
    if (lReserved != 0)
        return E_INVALIDARG;
    if (m_bAborted)
        return EndAborted();
    if (m_state != State::Ready && m_state != State::Broken)
        return E_UNEXPECTED;
    bool bThrown = true;
    HRESULT hr = NoThrow([&] {
        const HRESULT hrFinish = m_pTransport->Finish();
        bThrown = false;
        return hrFinish;
    });
    // Not counted, so not ended in order either.
    if (bThrown) {
        CLock transportLock(m_csTransport);
        m_pTransport->Abort();
    }
    if (m_bAborted && SUCCEEDED(hr))
        hr = E_ABORT;
    if (m_state == State::Broken && SUCCEEDED(hr))
        hr = m_hrFailure;
    {
        CLock transportLock(m_csTransport);
        m_pTransport.reset();
    }
    m_state = State::Ended;
    return hr;
}

HRESULT CPipe::Abort() {
    m_bAborted = true;
    {
        CLock transportLock(m_csTransport);
        if (m_pTransport)
            m_pTransport->Cancel();
    }
    // Never waits for a call in progress: the one holding the lock ends the
    // transfer on its way out.
    if (TryEnterCriticalSection(m_lock.Get())) {
        EndAborted();
        m_lock.Unlock();
    }
    return S_OK;
}

// Outside m_lock on purpose: the program asks while a send may be blocked.
HRESULT CPipe::CheckStatus(BSTR bstrXml, LONG* plCode, BSTR* pbstrText) {
    return NoThrow([&] {
        PipeSettings settings;
        if (!plCode || !pbstrText ||
            FAILED(ReadPipeSettings(bstrXml, GetPipeDefaultTimeouts(), settings)) ||
            settings.method != PipeSettings::Method::Usb)
            return CheckPrinterStatus(bstrXml, m_lastStatus, plCode, pbstrText);
        // A USB printer: its status byte, through a device opened for the
        // question alone.
        PrinterStatus status;
        const HRESULT hr =
            CUsbTransport::AskStatus(settings.strUsbPort, settings.strUsbSerial, status);
        if (FAILED(hr)) {
            *plCode = PRINTER_STATUS_NOT_ANSWERING;
            *pbstrText = nullptr;
            return hr;
        }
        if (status.code != PRINTER_STATUS_NOT_ANSWERING)
            m_lastStatus.Set(status);
        *plCode = status.code;
        *pbstrText = SysAllocString(status.text.c_str());
        return *pbstrText ? S_OK : E_OUTOFMEMORY;
    });
}

HRESULT CPipe::GetLastStatus(LONG* plCode, BSTR* pbstrText) {
    return NoThrow([&] { return GetLastPrinterStatus(m_lastStatus, plCode, pbstrText); });
}

HRESULT CPipe::ReadPageCounter(BSTR bstrXml, ULONGLONG* pullPages, BOOL* pbIdle) {
    return NoThrow([&] { return CheckPageCounter(bstrXml, pullPages, pbIdle); });
}

HRESULT CPipe::EndAborted() {
    {
        CLock transportLock(m_csTransport);
        if (m_pTransport) {
            m_pTransport->Abort();
            m_pTransport.reset();
        }
    }
    m_state = State::Ended;
    return E_ABORT;
}
