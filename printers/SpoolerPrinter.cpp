#include "printers/SpoolerPrinter.h"

#include "printers/SpoolerApi.h"

#include <vector>

namespace {
const SpoolerApi g_realApi = {OpenPrinterA,   StartDocPrinterA, StartPagePrinter, WritePrinter,
                              EndPagePrinter, EndDocPrinter,    ClosePrinter,     AbortPrinter,
                              GetJobA,        GetPrinterA};

// The spooler's device conditions that hold a copy, most important first.
const struct {
    DWORD dwStatus;
    const char* pszText;
} kHoldingConditions[] = {
    {PRINTER_STATUS_PAPER_OUT, "Paper out"},
    {PRINTER_STATUS_PAPER_JAM, "Jammed"},
    {PRINTER_STATUS_DOOR_OPEN, "Cover open"},
    {PRINTER_STATUS_NO_TONER, "Toner out"},
    {PRINTER_STATUS_OUTPUT_BIN_FULL, "Output tray full"},
    {PRINTER_STATUS_PAPER_PROBLEM, "Paper problem"},
    {PRINTER_STATUS_OFFLINE, "Offline"},
    {PRINTER_STATUS_USER_INTERVENTION, "Needs attention"},
    {PRINTER_STATUS_NOT_AVAILABLE, "Not available"},
    {PRINTER_STATUS_ERROR, "Printer error"},
};

// Asks the spooler to drop the job and whether it did: true when the job is
// gone or marked for deletion afterwards.
bool DropJob(HANDLE hPrinter, DWORD dwJobId) {
    const SpoolerApi& api = CurrentSpoolerApi();
    api.AbortPrinter(hPrinter);
    std::vector<BYTE> info(1024);
    DWORD cbNeeded = 0;
    BOOL found =
        api.GetJob(hPrinter, dwJobId, 1, info.data(), static_cast<DWORD>(info.size()), &cbNeeded);
    if (!found && GetLastError() == ERROR_INSUFFICIENT_BUFFER && cbNeeded > info.size()) {
        info.resize(cbNeeded);
        found = api.GetJob(hPrinter, dwJobId, 1, info.data(), cbNeeded, &cbNeeded);
    }
    if (!found)
        return true;
    const DWORD status = reinterpret_cast<const JOB_INFO_1A*>(info.data())->Status;
    return (status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED)) != 0;
}
const SpoolerApi* g_pApi = &g_realApi;
} // namespace

PrinterState SpoolerPrinterState(DWORD dwStatus, DWORD dwAttributes, DWORD cJobs,
                                 CString& strText) {
    strText.Empty();
    if (dwStatus & PRINTER_STATUS_PAUSED) {
        strText = "Paused";
        return PrinterState::Paused;
    }
    if (dwAttributes & PRINTER_ATTRIBUTE_WORK_OFFLINE) {
        strText = "Offline";
        return PrinterState::Paused;
    }
    for (const auto& condition : kHoldingConditions) {
        if (dwStatus & condition.dwStatus) {
            strText = condition.pszText;
            return PrinterState::Paused;
        }
    }
    // The spooler learns a device's state only while it despools a job:
    // with none, a status of 0 tells nothing.
    if (dwStatus == 0 && cJobs == 0)
        return PrinterState::Unknown;
    strText = (dwStatus & PRINTER_STATUS_PRINTING) ? "Printing" : "Ready";
    return PrinterState::Ready;
}

IHandedDocument::Fate SpoolerJobFate(bool bListed, DWORD dwStatus, CString& strWord) {
    strWord.Empty();
    if (!bListed)
        return IHandedDocument::Fate::Done;
    const struct {
        DWORD dwStatus;
        const char* pszWord;
    } errors[] = {
        {JOB_STATUS_PAPEROUT, "spooler reports: paper out"},
        {JOB_STATUS_OFFLINE, "spooler reports: offline"},
        {JOB_STATUS_USER_INTERVENTION, "spooler reports: needs attention"},
        {JOB_STATUS_BLOCKED_DEVQ, "spooler reports: blocked"},
        {JOB_STATUS_ERROR, "spooler reports: error"},
    };
    for (const auto& error : errors) {
        if (dwStatus & error.dwStatus) {
            strWord = error.pszWord;
            return IHandedDocument::Fate::Error;
        }
    }
    if (dwStatus & (JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE | JOB_STATUS_RETAINED))
        return IHandedDocument::Fate::Done;
    return IHandedDocument::Fate::Pending;
}

CSpoolerHandedJob::~CSpoolerHandedJob() {
    if (m_hPrinter)
        CurrentSpoolerApi().ClosePrinter(m_hPrinter);
}

IHandedDocument::Fate CSpoolerHandedJob::Check(CString& strWord) {
    strWord.Empty();
    const SpoolerApi& api = CurrentSpoolerApi();
    if (!m_hPrinter) {
        std::vector<char> name(m_strPrinter.GetString(),
                               m_strPrinter.GetString() + m_strPrinter.GetLength() + 1);
        if (!api.OpenPrinter(name.data(), &m_hPrinter, nullptr)) {
            m_hPrinter = nullptr;
            return Fate::Done;
        }
    }
    std::vector<BYTE> info(1024);
    DWORD cbNeeded = 0;
    BOOL found = api.GetJob(m_hPrinter, m_dwJobId, 1, info.data(), static_cast<DWORD>(info.size()),
                            &cbNeeded);
    if (!found && GetLastError() == ERROR_INSUFFICIENT_BUFFER && cbNeeded > info.size()) {
        info.resize(cbNeeded);
        found = api.GetJob(m_hPrinter, m_dwJobId, 1, info.data(), cbNeeded, &cbNeeded);
    }
    const DWORD status = found ? reinterpret_cast<const JOB_INFO_1A*>(info.data())->Status : 0;
    return SpoolerJobFate(found != FALSE, status, strWord);
}

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
    // A document still open was not finished: dropped, never handed on.
    const int state = GetState();
    if (state >= 2)
        CSpooler_Printer::Abort();
    else if (state == 1)
        EndInOrder();
}

int CSpooler_Printer::GetState() const {
    CLock lock(m_cs);
    return m_nState;
}

bool CSpooler_Printer::IsAborted() const {
    CLock lock(m_cs);
    return m_bAborted;
}

void CSpooler_Printer::SetState(int nState) {
    CLock lock(m_cs);
    m_nState = nState;
}

bool CSpooler_Printer::EnterCall(HANDLE& hPrinter) {
    CLock lock(m_cs);
    if (m_bAborted)
        return false;
    ++m_nInCall;
    hPrinter = m_hPrinter;
    return true;
}

void CSpooler_Printer::LeaveCall() {
    HANDLE h;
    DWORD dwJobId;
    bool drop;
    {
        CLock lock(m_cs);
        --m_nInCall;
        if (!m_bAborted || m_nInCall > 0 || !m_hPrinter)
            return;
        h = m_hPrinter;
        dwJobId = m_dwJobId;
        drop = m_nState >= 2 && !m_bDropped;
        m_bDropped = true;
        m_hPrinter = nullptr;
        m_nState = 0;
    }
    if (drop && !DropJob(h, dwJobId)) {
        CLock lock(m_cs);
        m_bJobKept = true;
    }
    bool keep;
    {
        CLock lock(m_cs);
        keep = m_bJobKept;
    }
    // A spooler that kept the job would end it, and hand it on, when the
    // handle is closed: the handle is left open instead (see the header).
    if (!keep)
        CurrentSpoolerApi().ClosePrinter(h);
}

BOOL CSpooler_Printer::Open(CSpoolerSetup* pSetup, CString strJobName) {
    if (GetState() != 0)
        Close();
    if (IsAborted())
        return FALSE;
    const SpoolerApi& api = CurrentSpoolerApi();

    CString name = pSetup ? pSetup->m_strSpoolerName : CString();
    m_strPrinterName = name;
    std::vector<char> printerName(name.GetString(), name.GetString() + name.GetLength() + 1);
    HANDLE hOpened = nullptr;
    if (!api.OpenPrinter(printerName.data(), &hOpened, nullptr)) {
        m_pszFailure = "Printer not found";
        return FALSE;
    }
    bool aborted;
    {
        CLock lock(m_cs);
        aborted = m_bAborted;
        if (!aborted) {
            m_hPrinter = hOpened;
            m_bDropped = false;
            m_nState = 1;
        }
    }
    if (aborted) {
        api.ClosePrinter(hOpened);
        return FALSE;
    }

    std::vector<char> docName(strJobName.GetString(),
                              strJobName.GetString() + strJobName.GetLength() + 1);
    char dataType[] = "RAW";
    DOC_INFO_1A info = {};
    info.pDocName = docName.data();
    info.pOutputFile = nullptr;
    info.pDatatype = dataType;
    HANDLE h;
    if (!EnterCall(h))
        return FALSE;
    const DWORD dwJobId = api.StartDocPrinter(h, 1, reinterpret_cast<LPBYTE>(&info));
    const bool started = dwJobId != 0;
    if (started) {
        CLock lock(m_cs);
        m_dwJobId = dwJobId;
        m_nState = 2;
    }
    LeaveCall();
    if (!started) {
        m_pszFailure = "Spooler refused the job";
        EndInOrder();
        return FALSE;
    }

    if (!EnterCall(h))
        return FALSE;
    const bool paged = api.StartPagePrinter(h) != FALSE;
    if (paged)
        SetState(3);
    LeaveCall();
    if (!paged) {
        m_pszFailure = "Spooler refused the job";
        EndInOrder();
        return FALSE;
    }
    return IsAborted() ? FALSE : TRUE;
}

int CSpooler_Printer::Send_Data(const void* pData, int nLength) {
    if (IsAborted() || nLength < 0)
        return -1;
    if (nLength == 0)
        return 0;
    const SpoolerApi& api = CurrentSpoolerApi();
    HANDLE h;
    if (!EnterCall(h))
        return -1;
    auto* p = static_cast<BYTE*>(const_cast<void*>(pData));
    DWORD left = GetState() >= 3 ? static_cast<DWORD>(nLength) : 0;
    bool failed = left == 0;
    // A short write is not the end: write the rest until it is all gone or a
    // write fails or stops making progress (or the document was aborted).
    while (left > 0 && !IsAborted()) {
        DWORD written = 0;
        if (!api.WritePrinter(h, p, left, &written) || written == 0 || written > left) {
            failed = true;
            break;
        }
        p += written;
        left -= written;
    }
    failed = failed || left > 0 || IsAborted();
    if (failed)
        m_pszFailure = "Spooler refused the data";
    LeaveCall();
    return failed ? -1 : nLength;
}

BOOL CSpooler_Printer::Close() {
    const BOOL ok = EndInOrder();
    if (!ok)
        m_pszFailure = "Spooler refused the job";
    return ok;
}

CString CSpooler_Printer::GetFailureText() {
    if (IsAborted() || !m_pszFailure)
        return CString();
    return m_pszFailure;
}

BOOL CSpooler_Printer::EndInOrder() {
    const SpoolerApi& api = CurrentSpoolerApi();
    HANDLE h;
    if (!EnterCall(h))
        return FALSE;
    // Ending the document is what hands it to the printer: when that fails
    // the document did not get through, and the caller must hear it.
    BOOL ok = TRUE;
    if (GetState() >= 3) {
        ok = api.EndPagePrinter(h) && ok;
        SetState(2);
    }
    if (GetState() >= 2 && !IsAborted()) {
        const bool ended = api.EndDocPrinter(h) != FALSE;
        // Handed on whole: the spooler's job from now on, to be followed.
        if (ended && ok) {
            CLock lock(m_cs);
            m_dwHandedJobId = m_dwJobId;
        }
        ok = ended && ok;
        SetState(1);
    }
    HANDLE hClose = nullptr;
    {
        CLock lock(m_cs);
        if (!m_bAborted) {
            // The handle is taken out with the last step: an Abort from now
            // on finds nothing open.
            hClose = m_hPrinter;
            m_hPrinter = nullptr;
            m_nState = 0;
            --m_nInCall;
        }
    }
    if (IsAborted() && !hClose) {
        // Aborted while ending: not handed over as a whole.
        LeaveCall();
        return FALSE;
    }
    if (hClose)
        api.ClosePrinter(hClose);
    return ok;
}

std::unique_ptr<IHandedDocument> CSpooler_Printer::TakeHandedDocument() {
    DWORD dwJobId;
    {
        CLock lock(m_cs);
        dwJobId = m_dwHandedJobId;
        m_dwHandedJobId = 0;
    }
    if (!dwJobId || IsAborted())
        return nullptr;
    return std::make_unique<CSpoolerHandedJob>(m_strPrinterName, dwJobId);
}

PrinterState CSpooler_Printer::QueryState(CSpoolerSetup* pSetup, CString& strText) {
    strText.Empty();
    const SpoolerApi& api = CurrentSpoolerApi();
    CString name = pSetup ? pSetup->m_strSpoolerName : CString();
    std::vector<char> printerName(name.GetString(), name.GetString() + name.GetLength() + 1);
    HANDLE h = nullptr;
    // A printer that cannot be opened is not asked: Open says why.
    if (!api.OpenPrinter(printerName.data(), &h, nullptr))
        return PrinterState::Unknown;
    std::vector<BYTE> info(2048);
    DWORD cbNeeded = 0;
    BOOL ok = api.GetPrinter(h, 2, info.data(), static_cast<DWORD>(info.size()), &cbNeeded);
    if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER && cbNeeded > info.size()) {
        info.resize(cbNeeded);
        ok = api.GetPrinter(h, 2, info.data(), cbNeeded, &cbNeeded);
    }
    api.ClosePrinter(h);
    if (!ok)
        return PrinterState::NotAnswering;
    const auto* printer = reinterpret_cast<const PRINTER_INFO_2A*>(info.data());
    return SpoolerPrinterState(printer->Status, printer->Attributes, printer->cJobs, strText);
}

BOOL CSpooler_Printer::Abort() {
    HANDLE h;
    DWORD dwJobId;
    bool drop;
    {
        CLock lock(m_cs);
        if (m_bAborted)
            return m_bJobKept ? FALSE : TRUE;
        m_bAborted = true;
        if (!m_hPrinter)
            return TRUE;
        h = m_hPrinter;
        dwJobId = m_dwJobId;
        drop = m_nState >= 2 && !m_bDropped;
        m_bDropped = true;
        ++m_nInCall;
    }
    // Outside the lock, possibly while the worker is in WritePrinter on the
    // same handle: that write then fails. The handle stays open until the
    // last thread leaves (LeaveCall).
    if (drop && !DropJob(h, dwJobId)) {
        CLock lock(m_cs);
        m_bJobKept = true;
    }
    LeaveCall();
    CLock lock(m_cs);
    return m_bJobKept ? FALSE : TRUE;
}
