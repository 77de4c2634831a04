#include "printers/Printer.h"

BOOL CNull_Printer::Open(CSpoolerSetup* /*pSetup*/, CString /*strJobName*/) {
    return TRUE;
}

BOOL CNull_Printer::Close() {
    return TRUE;
}

int CNull_Printer::Send_Data(const void* /*pData*/, int nLength) {
    // The data goes nowhere; the pause stands for a device that takes time.
    Sleep(2);
    return nLength;
}
