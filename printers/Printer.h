// CPrinter: one output for one document (one copy of one job). The worker
// makes a fresh object per copy with Create_Printer, opens it, feeds it the
// file in chunks, and then either closes it (every byte was handed over) or
// aborts it (anything else), and deletes it.
//
// Ownership: the caller of Create_Printer owns the object and deletes it
// through the virtual destructor, which releases whatever an unfinished or
// failed Open left behind; a document still open then is dropped, never
// handed on (a document nobody finished must not print).
// Threads: Open, Send_Data, Close and the destructor run on one thread (the
// worker's). GetWaitText and Abort may come from another thread at any time
// while the object lives: before Open, inside Open, Send_Data or Close of
// the same object, or between them; the caller keeps the object alive until
// the call has returned. Who calls what under which lock: the lock rules in
// printloop/PrintLoopThread.h.
// Order: Open; only after a nonzero Open, Send_Data per chunk, then Close
// when every byte was handed over, Abort otherwise.
// Failures: after a failed Open, Send_Data or Close, GetFailureText says
// why in a few words for the user ("No connection"). A printer made quiet
// (SetQuiet, before Open) shows no box of its own about a failure; the
// caller reports it.
#pragma once

#include "framework/String.h"
#include "printers/HandedDocument.h"
#include "printers/PageCountSource.h"
#include "settings/SpoolerSetup.h"

#include <atomic>
#include <memory>

// What a printer says of itself before a copy is sent (see QueryState).
enum class PrinterState {
    Ready,        // ready, printing or warming up: send
    Paused,       // stopped until somebody acts (paper out, cover open...)
    NotAnswering, // asked, but no answer came: send as if never asked
    Unknown,      // this output cannot be asked
};

class CPrinter {
public:
    virtual ~CPrinter() = default;
    // Makes the output ready for one document; nonzero when it is.
    virtual BOOL Open(CSpoolerSetup* pSetup, CString strJobName) = 0;
    // Ends the document and lets go of the output; nonzero on success.
    virtual BOOL Close() = 0;
    // Hands one chunk on; the bytes taken, or -1 on failure.
    virtual int Send_Data(const void* pData, int nLength) = 0;
    // Ends the document WITHOUT handing it on and lets go of the output.
    // Any state: idempotent, and TRUE when nothing is open. From another
    // thread it makes a Send_Data or Close blocked in the output return
    // (failing) within about a second. Afterwards Send_Data returns -1 and
    // Close FALSE, and the destructor ends nothing. FALSE only when the
    // output refused to drop the document.
    virtual BOOL Abort() = 0;
    // Asks the printer the settings name for its state, without opening a
    // document; strText gets the printer's short word for it ("Paper out").
    // May take a couple of seconds for a printer that does not answer.
    // Each output asks its own source: a network printer over SNMP and a
    // USB printer by its status byte (both through the pipe component), a
    // printer installed in Windows the spooler's record of it; the null
    // printer is always Ready. Unknown when the output cannot tell (an
    // older component, a printer that cannot be opened): send.
    virtual PrinterState QueryState(CSpoolerSetup* /*pSetup*/, CString& /*strText*/) {
        return PrinterState::Unknown;
    }
    // While a document is open: the printer's word for why it stopped
    // taking data ("Cover open", "Warming up"), as the output last learnt
    // it, or empty when it is not known to be stopped. Any thread, at any
    // time while the object lives; never blocks and asks nothing.
    virtual CString GetWaitText() { return CString(); }
    // The printer's own page counter for the printer the settings name, or
    // null when this output has none to read (only network printers do).
    // Asks nothing yet; any thread.
    virtual std::unique_ptr<IPageCountSource> MakePageCountSource(CSpoolerSetup* /*pSetup*/) {
        return nullptr;
    }
    // After a Close that handed the document on to a queue of the output's
    // own: that document, to be followed there (once: later calls give
    // null). Null when the output keeps no queue (only the spooler does).
    // Worker's thread.
    virtual std::unique_ptr<IHandedDocument> TakeHandedDocument() { return nullptr; }
    // Why the last Open, Send_Data or Close failed, or empty when this
    // output cannot tell. Worker's thread.
    virtual CString GetFailureText() { return CString(); }
    // No box about a failure from now on (see Failures above).
    void SetQuiet(bool bQuiet) { m_bQuiet = bQuiet; }

protected:
    bool IsQuiet() const { return m_bQuiet; }

private:
    bool m_bQuiet = false;
};

// The discarding output, for spooler type 0 and every unknown type.
class CNull_Printer : public CPrinter {
public:
    BOOL Open(CSpoolerSetup* pSetup, CString strJobName) override;
    BOOL Close() override;
    int Send_Data(const void* pData, int nLength) override;
    BOOL Abort() override;
    PrinterState QueryState(CSpoolerSetup* pSetup, CString& strText) override;

private:
    std::atomic<bool> m_bAborted{false};
};

// A new printer object for the settings' spooler type; null only when it
// could not be allocated.
CPrinter* Create_Printer(CSpoolerSetup* pSetup);
