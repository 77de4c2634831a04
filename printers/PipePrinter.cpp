#include "printers/PipePrinter.h"

#include "framework/MessageBox.h"
#include "xmldoc/XmlDoc.h"

#include <string>

namespace {

const int kPrinterPort = 9100;

// The program's narrow text (ANSI code page) as UTF-16.
std::wstring ToWide(const CString& str) {
    if (str.IsEmpty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, str.GetString(), str.GetLength(), nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, str.GetString(), str.GetLength(), &out[0], n);
    return out;
}

// UTF-16 from the component as the program's narrow text.
CString FromWide(const wchar_t* psz) {
    const int n = WideCharToMultiByte(CP_ACP, 0, psz, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return CString();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, psz, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
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

// Creates the component into *ppPipe and configures it with the document.
// The component stays in *ppPipe on every failure after its creation.
BOOL OpenPipe(IPipe** ppPipe, CSpoolerSetup* pSetup, bool bUSB) {
    if (*ppPipe) {
        // Opened again: the earlier component goes, without ending.
        (*ppPipe)->Release();
        *ppPipe = nullptr;
    }
    if (FAILED(CoCreateInstance(CLSID_MorvanePipe, nullptr, CLSCTX_ALL, IID_IPipe,
                                reinterpret_cast<void**>(ppPipe)))) {
        *ppPipe = nullptr;
        return FALSE;
    }
    // The document is built whole before anything reaches the component.
    CXmlDoc doc("VizudoRuduvav");
    if (!FillConfig(doc, pSetup, bUSB))
        return FALSE;
    IPipeConfig* pConfig = nullptr;
    if (FAILED((*ppPipe)->QueryInterface(IID_IPipeConfig, reinterpret_cast<void**>(&pConfig))) ||
        !pConfig)
        return FALSE;
    BSTR bstrXml = nullptr;
    HRESULT hr = E_FAIL;
    if (doc.GetXml(&bstrXml))
        hr = pConfig->Configure(bstrXml);
    SysFreeString(bstrXml);
    pConfig->Release();
    return SUCCEEDED(hr) ? TRUE : FALSE;
}

int SendToPipe(IPipe* pPipe, const void* pData, int nLength) {
    if (!pPipe)
        return nLength;
    if (FAILED(pPipe->WriteData(static_cast<const BYTE*>(pData), nLength))) {
        AfxMessageBox("CIP_Pipe_Printer::Send_Data failed", MB_OK, 0);
        return -1;
    }
    return nLength;
}

BOOL ClosePipe(IPipe*& pPipe) {
    if (!pPipe)
        return TRUE;
    if (FAILED(pPipe->Finish(0)))
        return FALSE;
    IPipe* p = pPipe;
    pPipe = nullptr;
    p->Release();
    return TRUE;
}

void ReleasePipe(IPipe*& pPipe) {
    if (pPipe) {
        pPipe->Release();
        pPipe = nullptr;
    }
}

} // namespace

CIP_Pipe_Printer::CIP_Pipe_Printer() : m_pPipe(nullptr) {}

CIP_Pipe_Printer::~CIP_Pipe_Printer() {
    ReleasePipe(m_pPipe);
}

BOOL CIP_Pipe_Printer::Open(CSpoolerSetup* pSetup, CString /*strJobName*/) {
    return OpenPipe(&m_pPipe, pSetup, false);
}

BOOL CIP_Pipe_Printer::Close() {
    return ClosePipe(m_pPipe);
}

int CIP_Pipe_Printer::Send_Data(const void* pData, int nLength) {
    return SendToPipe(m_pPipe, pData, nLength);
}

PrinterState CIP_Pipe_Printer::QueryState(CSpoolerSetup* pSetup, CString& strText) {
    strText.Empty();
    // A component of its own, so the question never disturbs a document.
    IPrinterStatus* pStatus = nullptr;
    if (FAILED(CoCreateInstance(CLSID_MorvanePipe, nullptr, CLSCTX_ALL, IID_IPrinterStatus,
                                reinterpret_cast<void**>(&pStatus))) ||
        !pStatus)
        return PrinterState::Unknown; // an older component: go on as ever
    CXmlDoc doc("VizudoRuduvav");
    BSTR bstrXml = nullptr;
    LONG lCode = PRINTER_STATUS_NOT_ANSWERING;
    BSTR bstrText = nullptr;
    HRESULT hr = E_FAIL;
    if (FillConfig(doc, pSetup, false) && doc.GetXml(&bstrXml))
        hr = pStatus->CheckStatus(bstrXml, &lCode, &bstrText);
    SysFreeString(bstrXml);
    pStatus->Release();
    if (bstrText) {
        strText = FromWide(bstrText);
        SysFreeString(bstrText);
    }
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

CUSB_Pipe_Printer::CUSB_Pipe_Printer() : m_pPipe(nullptr) {}

CUSB_Pipe_Printer::~CUSB_Pipe_Printer() {
    ReleasePipe(m_pPipe);
}

BOOL CUSB_Pipe_Printer::Open(CSpoolerSetup* pSetup, CString /*strJobName*/) {
    return OpenPipe(&m_pPipe, pSetup, true);
}

BOOL CUSB_Pipe_Printer::Close() {
    return ClosePipe(m_pPipe);
}

int CUSB_Pipe_Printer::Send_Data(const void* pData, int nLength) {
    return SendToPipe(m_pPipe, pData, nLength);
}
