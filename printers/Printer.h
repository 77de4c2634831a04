// CPrinter: one output for one document (one copy of one job). The worker
// makes a fresh object per copy with Create_Printer, opens it, feeds it the
// file in chunks, closes it and deletes it.
//
// Ownership: the caller of Create_Printer owns the object and deletes it
// through the virtual destructor, which releases whatever an unfinished or
// failed Open left behind.
// Threads: an object is used on one thread only (the worker's).
// Order: Open; only after a nonzero Open, Send_Data per chunk then Close.
#pragma once

#include "framework/String.h"
#include "settings/SpoolerSetup.h"

class CPrinter {
public:
    virtual ~CPrinter() = default;
    // Makes the output ready for one document; nonzero when it is.
    virtual BOOL Open(CSpoolerSetup* pSetup, CString strJobName) = 0;
    // Ends the document and lets go of the output; nonzero on success.
    virtual BOOL Close() = 0;
    // Hands one chunk on; the bytes taken, or -1 on failure.
    virtual int Send_Data(const void* pData, int nLength) = 0;
};

// The discarding output, for spooler type 0 and every unknown type.
class CNull_Printer : public CPrinter {
public:
    BOOL Open(CSpoolerSetup* pSetup, CString strJobName) override;
    BOOL Close() override;
    int Send_Data(const void* pData, int nLength) override;
};

// A new printer object for the settings' spooler type; null only when it
// could not be allocated.
CPrinter* Create_Printer(CSpoolerSetup* pSetup);
