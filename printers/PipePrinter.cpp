#include "printers/PipePrinter.h"

#include "framework/CodePage.h"
#include "framework/MessageBox.h"
#include "framework/UniqueHandle.h"
#include "printers/PipeFactory.h"
#include "xmldoc/XmlDoc.h"

#include <string>
#include <utility>

namespace {

const int kPrinterPort = 9100;

// The program's narrow text (the thread's ANSI code page, as the XML
// layer reads it) as UTF-16.
std::wstring ToWide(const CString& str) {
    std::wstring out;
    NarrowToWide(str.GetString(), str.GetLength(), CP_THREAD_ACP, out);
    return out;
}

// UTF-16 from the component as the program's narrow text.
CString FromWide(const wchar_t* psz) {
    std::string out;
    WideToNarrow(psz, -1, CP_THREAD_ACP, out);
    return CString(out);
}

bool AddText(CXmlDoc& doc, const char* pszName, const CString& value) {
    return doc.AddValue(pszName, ToWide(value).c_str());
}

// Fills the document in its fixed order; bUSB adds the USB printer's name
// and serial number after "USBPort".
bool FillConfig(CXmlDoc& doc, CSpoolerSetup* pSetup, bool bUSB) {
    if (!pSetup || !doc.AddSection("IP-Settings"))
        return false;
    if (!AddText(doc, "IP-Address", pSetup->GetIPAddressText()) ||
        !doc.AddValue("Port", static_cast<int32_t>(kPrinterPort)) || !doc.AddValue("USB", bUSB) ||
        !doc.AddValue("Comms_Method", bUSB ? L"USB" : L"TCP") ||
        !AddText(doc, "USBPort", pSetup->m_strUSBPort))
        return false;
    if (bUSB && (!AddText(doc, "USBPrinterName", pSetup->m_strUSBPrinterName) ||
                 !AddText(doc, "USBPrinterSN", pSetup->m_strUSBPrinterSN)))
        return false;
    return doc.CloseSection();
}

// Configures a new component with the settings' document.
HRESULT ConfigurePipe(IPipe* pPipe, CSpoolerSetup* pSetup, bool bUSB) {
    // The document is built whole before anything reaches the component.
    CXmlDoc doc("VizudoRuduvav");
    if (!FillConfig(doc, pSetup, bUSB))
        return E_INVALIDARG;
    CComPtr<IPipeConfig> pConfig;
    if (FAILED(pPipe->QueryInterface(IID_IPipeConfig, pConfig.PutVoid())) || !pConfig)
        return E_NOINTERFACE;
    UniqueBstr bstrXml;
    if (!doc.GetXml(bstrXml.put()))
        return E_FAIL;
    return pConfig->Configure(bstrXml.get());
}

} // namespace

CString PipeFailureText(PipeStep step, HRESULT hr, bool bUSB) {
    if (hr == E_ABORT || step == PipeStep::None)
        return CString();
    if (step == PipeStep::Create)
        return "Pipe component missing";
    if (step == PipeStep::Configure) {
        if (hr == E_INVALIDARG)
            return "Printer settings incomplete";
        return bUSB ? "USB printer missing" : "No connection";
    }
    // Writing or ending: the send limit passed, or the printer went.
    if (hr == HRESULT_FROM_WIN32(WSAETIMEDOUT) || hr == HRESULT_FROM_WIN32(ERROR_TIMEOUT))
        return "Printer not answering";
    return bUSB ? "USB printer lost" : "Connection dropped";
}

CPipeHolder::~CPipeHolder() {
    // Still held: the document was not finished, so it must not end in
    // order (the printer would print the part it got).
    if (m_pPipe)
        m_pPipe->Abort();
}

IPipe* CPipeHolder::Get() const {
    CLock lock(m_cs);
    return m_pPipe.Get();
}

CString CPipeHolder::GetWaitText() {
    // A reference of our own, so an Abort meanwhile frees nothing under us.
    CComPtr<IPipe> pPipe;
    if (!Borrow(pPipe) || !pPipe)
        return CString();
    CComPtr<IPrinterStatus> pStatus;
    LONG lCode = PRINTER_STATUS_NOT_ANSWERING;
    UniqueBstr bstrText;
    if (SUCCEEDED(pPipe->QueryInterface(IID_IPrinterStatus, pStatus.PutVoid())) && pStatus &&
        FAILED(pStatus->GetLastStatus(&lCode, bstrText.put())))
        lCode = PRINTER_STATUS_NOT_ANSWERING;
    if (bstrText && (lCode == PRINTER_STATUS_PAUSED || lCode == PRINTER_STATUS_WARMING_UP))
        return FromWide(bstrText.get());
    return CString();
}

CString CPipeHolder::GetFailureText() const {
    return PipeFailureText(m_failedStep, m_hrFailed, m_bUSB);
}

void CPipeHolder::Failed(PipeStep step, HRESULT hr) {
    m_failedStep = step;
    m_hrFailed = hr;
}

bool CPipeHolder::Borrow(CComPtr<IPipe>& pPipe) {
    CLock lock(m_cs);
    if (m_bAborted)
        return false;
    pPipe = m_pPipe;
    return true;
}

BOOL CPipeHolder::Open(CSpoolerSetup* pSetup, bool bUSB) {
    m_bUSB = bUSB;
    m_failedStep = PipeStep::None;
    CComPtr<IPipe> pOld;
    {
        CLock lock(m_cs);
        if (m_bAborted)
            return FALSE;
        pOld = std::move(m_pPipe);
    }
    if (pOld) {
        // Opened again: the earlier document goes, dropped.
        pOld->Abort();
        pOld.Reset();
    }
    CComPtr<IPipe> pNew;
    const HRESULT hrCreate = CreatePipeObject(IID_IPipe, pNew.PutVoid());
    if (FAILED(hrCreate) || !pNew) {
        Failed(PipeStep::Create, FAILED(hrCreate) ? hrCreate : E_NOINTERFACE);
        return FALSE;
    }
    // Held from here on (also when the configuration fails), so that an
    // Abort from another thread reaches it while it connects.
    bool aborted;
    {
        CLock lock(m_cs);
        aborted = m_bAborted;
        if (!aborted)
            m_pPipe = pNew;
    }
    if (aborted) {
        pNew->Abort();
        return FALSE;
    }
    const HRESULT hr = ConfigurePipe(pNew.Get(), pSetup, bUSB);
    if (FAILED(hr))
        Failed(PipeStep::Configure, hr);
    return SUCCEEDED(hr) && Get() == pNew.Get() ? TRUE : FALSE;
}

int CPipeHolder::Send(const void* pData, int nLength, bool bQuiet) {
    CComPtr<IPipe> pPipe;
    if (!Borrow(pPipe))
        return -1;
    if (!pPipe)
        return nLength;
    const HRESULT hr = pPipe->WriteData(static_cast<const BYTE*>(pData), nLength);
    pPipe.Reset();
    bool aborted;
    {
        CLock lock(m_cs);
        aborted = m_bAborted;
    }
    if (aborted)
        return -1; // dropped on purpose: no message
    if (FAILED(hr)) {
        Failed(PipeStep::Write, hr);
        if (!bQuiet)
            AfxMessageBox("CIP_Pipe_Printer::Send_Data failed", MB_OK, 0);
        return -1;
    }
    return nLength;
}

BOOL CPipeHolder::Close() {
    CComPtr<IPipe> pPipe;
    if (!Borrow(pPipe))
        return FALSE;
    if (!pPipe)
        return TRUE;
    const HRESULT hrFinish = pPipe->Finish(0);
    bool ok = SUCCEEDED(hrFinish);
    if (!ok)
        Failed(PipeStep::Finish, hrFinish);
    // Released after the lock is left, like every reference here.
    CComPtr<IPipe> pDone;
    {
        CLock lock(m_cs);
        if (m_bAborted)
            ok = false;
        else if (ok && m_pPipe.Get() == pPipe.Get())
            pDone = std::move(m_pPipe);
    }
    return ok ? TRUE : FALSE;
}

BOOL CPipeHolder::Abort() {
    CComPtr<IPipe> pPipe;
    {
        CLock lock(m_cs);
        if (m_bAborted)
            return TRUE;
        m_bAborted = true;
        pPipe = std::move(m_pPipe);
    }
    if (!pPipe)
        return TRUE;
    // The reference taken out of m_pPipe is this call's own; a WriteData
    // or Finish running on the worker holds another, so its release never
    // frees the component under it.
    return SUCCEEDED(pPipe->Abort()) ? TRUE : FALSE;
}

BOOL CPipePrinter::Open(CSpoolerSetup* pSetup, CString /*strJobName*/) {
    return m_pipe.Open(pSetup, m_bUSB);
}

BOOL CPipePrinter::Close() {
    return m_pipe.Close();
}

int CPipePrinter::Send_Data(const void* pData, int nLength) {
    return m_pipe.Send(pData, nLength, IsQuiet());
}

BOOL CPipePrinter::Abort() {
    return m_pipe.Abort();
}

PrinterState CPipePrinter::QueryState(CSpoolerSetup* pSetup, CString& strText) {
    strText.Empty();
    // A component of its own, so the question never disturbs a document.
    CComPtr<IPrinterStatus> pStatus;
    if (FAILED(CreatePipeObject(IID_IPrinterStatus, pStatus.PutVoid())) || !pStatus)
        return PrinterState::Unknown; // an older component: go on as ever
    CXmlDoc doc("VizudoRuduvav");
    UniqueBstr bstrXml;
    LONG lCode = PRINTER_STATUS_NOT_ANSWERING;
    UniqueBstr bstrText;
    HRESULT hr = E_FAIL;
    if (FillConfig(doc, pSetup, m_bUSB) && doc.GetXml(bstrXml.put()))
        hr = pStatus->CheckStatus(bstrXml.get(), &lCode, bstrText.put());
    if (bstrText)
        strText = FromWide(bstrText.get());
    if (FAILED(hr))
        return PrinterState::Unknown;
    switch (lCode) {
    case PRINTER_STATUS_PAUSED:
        return PrinterState::Paused;
    case PRINTER_STATUS_NOT_ANSWERING:
        return PrinterState::NotAnswering;
    default:
        return PrinterState::Ready;
    }
}

std::unique_ptr<IPageCountSource> CIP_Pipe_Printer::MakePageCountSource(CSpoolerSetup* pSetup) {
    CComPtr<IPrinterPageCounter> pCounter;
    if (FAILED(CreatePipeObject(IID_IPrinterPageCounter, pCounter.PutVoid())) || !pCounter)
        return nullptr; // an older component: no page counts
    CXmlDoc doc("VizudoRuduvav");
    UniqueBstr bstrXml;
    if (!FillConfig(doc, pSetup, false) || !doc.GetXml(bstrXml.put()))
        return nullptr;
    std::wstring xml(bstrXml.get(), SysStringLen(bstrXml.get()));
    return std::make_unique<CPipePageCountSource>(std::move(pCounter), std::move(xml));
}
