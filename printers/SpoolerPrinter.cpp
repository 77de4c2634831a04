#include "printers/SpoolerPrinter.h"

#include "printers/SpoolerApi.h"

#include <vector>

namespace {
const SpoolerApi g_realApi = {OpenPrinterA,   StartDocPrinterA, StartPagePrinter, WritePrinter,
                              EndPagePrinter, EndDocPrinter,    ClosePrinter};
const SpoolerApi* g_pApi = &g_realApi;
} // namespace

const SpoolerApi& RealSpoolerApi() {
    return g_realApi;
}
const SpoolerApi& CurrentSpoolerApi() {
    return *g_pApi;
}
void SetSpoolerApi(const SpoolerApi* pApi) {
    g_pApi = pApi ? pApi : &g_realApi;
}

CSpooler_Printer::~CSpooler_Printer() {
    if (m_nState != 0)
        CSpooler_Printer::Close();
}

BOOL CSpooler_Printer::Open(CSpoolerSetup* pSetup, CString strJobName) {
    if (m_nState != 0)
        Close();
    const SpoolerApi& api = CurrentSpoolerApi();

    CString name = pSetup ? pSetup->m_strSpoolerName : CString();
    std::vector<char> printerName(name.GetString(), name.GetString() + name.GetLength() + 1);
    if (!api.OpenPrinter(printerName.data(), &m_hPrinter, nullptr)) {
        Close();
        return FALSE;
    }
    m_nState = 1;

    std::vector<char> docName(strJobName.GetString(),
                              strJobName.GetString() + strJobName.GetLength() + 1);
    char dataType[] = "RAW";
    DOC_INFO_1A info = {};
    info.pDocName = docName.data();
    info.pOutputFile = nullptr;
    info.pDatatype = dataType;
    if (api.StartDocPrinter(m_hPrinter, 1, reinterpret_cast<LPBYTE>(&info)) == 0) {
        Close();
        return FALSE;
    }
    m_nState = 2;

    if (!api.StartPagePrinter(m_hPrinter)) {
        Close();
        return FALSE;
    }
    m_nState = 3;
    return TRUE;
}

int CSpooler_Printer::Send_Data(const void* pData, int nLength) {
    if (nLength <= 0)
        return nLength < 0 ? -1 : 0;
    const SpoolerApi& api = CurrentSpoolerApi();
    auto* p = static_cast<BYTE*>(const_cast<void*>(pData));
    DWORD left = static_cast<DWORD>(nLength);
    // A short write is not the end: write the rest until it is all gone or a
    // write fails or stops making progress.
    while (left > 0) {
        DWORD written = 0;
        if (!api.WritePrinter(m_hPrinter, p, left, &written) || written == 0 || written > left)
            return -1;
        p += written;
        left -= written;
    }
    return nLength;
}

BOOL CSpooler_Printer::Close() {
    const SpoolerApi& api = CurrentSpoolerApi();
    // Ending the document is what hands it to the printer: when that fails
    // the document did not get through, and the caller must hear it.
    BOOL ok = TRUE;
    if (m_nState >= 3) {
        ok = api.EndPagePrinter(m_hPrinter) && ok;
        m_nState = 2;
    }
    if (m_nState >= 2) {
        ok = api.EndDocPrinter(m_hPrinter) && ok;
        m_nState = 1;
    }
    if (m_nState >= 1)
        api.ClosePrinter(m_hPrinter);
    m_hPrinter = nullptr;
    m_nState = 0;
    return ok;
}
