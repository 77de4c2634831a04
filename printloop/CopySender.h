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

// How a copy ended, and in a few words why it did not get through.
enum class CopyResult {
    Sent,           // every byte reached the printer and the document was ended
    FileUnreadable, // the job's own file: missing, locked, a folder, a read error
    PrinterFailed,  // the output: it did not open, refused data or an end
    Dropped,        // the caller said stop
};
struct CopyOutcome {
    CopyResult result = CopyResult::PrinterFailed;
    // "file missing", "Printer not answering"...; empty when sent or dropped.
    CString strReason;
};

// A file that cannot be opened or measured fails before the printer is
// opened.
CopyOutcome SendCopy(CPrinter& printer, CSpoolerSetup& setup, const CString& strPath,
                     const CString& strName, ICopyProgress& progress);

// The words for a file that could not be opened: "file missing", "file is
// a folder", "file locked" or "file cannot be read"; dwError is the error
// the open left.
CString FileProblemText(const CString& strPath, DWORD dwError);
