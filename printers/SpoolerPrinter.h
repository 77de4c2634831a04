// CSpooler_Printer: sends each document as a "RAW" document of one page to
// a printer installed in Windows, through the print spooler.
//
// m_nState says how far the document got (0 nothing, 1 printer open,
// 2 document started, 3 page started); Close undoes exactly those steps, and
// the destructor closes what is still open. One thread at a time.
#pragma once

#include "printers/Printer.h"

#include <windows.h>

class CSpooler_Printer : public CPrinter {
public:
    CSpooler_Printer() = default;
    ~CSpooler_Printer() override;
    CSpooler_Printer(const CSpooler_Printer&) = delete;
    CSpooler_Printer& operator=(const CSpooler_Printer&) = delete;

    BOOL Open(CSpoolerSetup* pSetup, CString strJobName) override;
    // FALSE when ending the page or the document failed: the document then
    // did not reach the printer whole.
    BOOL Close() override;
    // Writes the whole chunk, repeating short writes; -1 when a write fails
    // or makes no progress.
    int Send_Data(const void* pData, int nLength) override;

    int GetState() const { return m_nState; }

protected:
    HANDLE m_hPrinter = nullptr;
    int m_nState = 0;
};
