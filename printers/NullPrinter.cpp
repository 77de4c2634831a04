#include "printers/Printer.h"

BOOL CNull_Printer::Open(CSpoolerSetup* /*pSetup*/, CString /*strJobName*/) {
    return m_bAborted ? FALSE : TRUE;
}

BOOL CNull_Printer::Close() {
    return m_bAborted ? FALSE : TRUE;
}

int CNull_Printer::Send_Data(const void* /*pData*/, int nLength) {
    if (m_bAborted)
        return -1;
    // The data goes nowhere; the pause stands for a device that takes time.
    Sleep(2);
    return nLength;
}

BOOL CNull_Printer::Abort() {
    m_bAborted = true;
    return TRUE;
}

PrinterState CNull_Printer::QueryState(CSpoolerSetup* /*pSetup*/, CString& strText) {
    strText = "Ready";
    return PrinterState::Ready;
}
