// WaitForPrinter: the wait before a copy. It asks the printer the settings
// name for its state (CPrinter::QueryState, on a printer object of its own
// that opens no document) and, while the printer says it is paused (paper
// out, cover open...), shows "Waiting for printer: <its word>" in the job's
// row and asks again every poll interval. Stop and closing end the wait,
// also when they come while the printer is being asked: a "go" answer is
// only acted on while the worker is still running.
// Answers and unanswered questions go to the output's CSilenceRule. An
// unanswered question before any pause sends the copy (Silent: the printer
// is not asked again for this job). In a pause the wait goes on, as the
// transport's does, until the rule takes the printer for silent: a question
// or two lost on the way never sends a copy to a printer without paper.
//
// Threads: runs on the worker's thread and takes no lock; the host takes
// what it needs (see the lock rules in PrintLoopThread.h).
#pragma once

#include "framework/String.h"
#include "printers/Printer.h"
#include "printers/SilenceRule.h"
#include "settings/SpoolerSetup.h"

enum class PrinterWait {
    Go,      // send
    Silent,  // send; the printer did not answer, so it is not asked again for this job
    Stopped, // Stop or closing came first: send nothing
};

class IPrinterWaitHost {
public:
    virtual ~IPrinterWaitHost() = default;
    // A copy of the settings; false when the worker was given up on.
    virtual bool ReadSettings(CSpoolerSetup& setup) = 0;
    // A printer object for the settings, or null; the caller deletes it.
    virtual CPrinter* MakePrinter(CSpoolerSetup* pSetup) = 0;
    // The job's row says the printer waits for the word ("Waiting for
    // printer: " and the word), or is cleared (empty word); false when the
    // worker was given up on.
    virtual bool ShowPaused(const CString& strWord) = 0;
    // Stop was pressed or the program is closing.
    virtual bool StopAsked() = 0;
    // Waits up to dwMs, less when Start, Stop or closing wake the worker.
    virtual void Pause(DWORD dwMs) = 0;
    // The clock, in milliseconds.
    virtual ULONGLONG Now() = 0;
};

PrinterWait WaitForPrinter(IPrinterWaitHost& host, DWORD dwPollMs, CSilenceRule& silence);
