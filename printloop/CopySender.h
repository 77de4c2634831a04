// SendCopy: one copy of one file as one document to one printer. It opens
// the printer, hands it the file in chunks of kCopyChunkSize and ends the
// document only when every byte was taken. Anything else (a refused chunk,
// a read error, the caller saying stop) aborts the document, never closes
// it: closing would hand the part that got through to the printer, and the
// copy is sent again whole later.
//
// Threads: runs on the worker's thread and takes no lock; the callbacks take
// what their owner needs. The printer may be aborted from another thread
// meanwhile (see CPrinter).
// Ownership: the caller owns the printer and deletes it afterwards.
#pragma once

#include "framework/String.h"
#include "printers/Printer.h"
#include "settings/SpoolerSetup.h"

constexpr int kCopyChunkSize = 16384;

class ICopyProgress {
public:
    virtual ~ICopyProgress() = default;
    // Before each chunk: false drops the document (the program is closing).
    virtual bool MayContinue() = 0;
    // After each chunk, the share of the file sent so far (0 to 100): false
    // drops the document.
    virtual bool Progress(int nPercent) = 0;
};

// Nonzero when the whole file reached the printer and the document was
// ended. A file that cannot be opened or measured fails before the printer
// is opened.
BOOL SendCopy(CPrinter& printer, CSpoolerSetup& setup, const CString& strPath,
              const CString& strName, ICopyProgress& progress);
