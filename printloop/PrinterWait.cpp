#include "printloop/PrinterWait.h"

#include <memory>

PrinterWait WaitForPrinter(IPrinterWaitHost& host, DWORD dwPollMs, CSilenceRule& silence) {
    bool bShown = false;
    for (;;) {
        CSpoolerSetup setup;
        if (!host.ReadSettings(setup))
            return PrinterWait::Stopped;
        CString strText;
        PrinterState state = PrinterState::Unknown;
        {
            std::unique_ptr<CPrinter> printer(host.MakePrinter(&setup));
            if (printer)
                state = printer->QueryState(&setup, strText);
        }
        // Asking may have taken seconds: Stop or closing during the question
        // wins over its answer.
        if (host.StopAsked())
            return PrinterWait::Stopped;
        const bool bAnswered = state != PrinterState::NotAnswering;
        if (bAnswered)
            silence.Answered(host.Now());
        else
            silence.Missed(host.Now());
        // A paused printer that lost a question is still paused; the row
        // keeps its word.
        const bool bStillPaused = bShown && !bAnswered && !silence.Silent(host.Now());
        if (state != PrinterState::Paused && !bStillPaused) {
            if (bShown && !host.ShowPaused(CString()))
                return PrinterWait::Stopped;
            return bAnswered ? PrinterWait::Go : PrinterWait::Silent;
        }
        // Paused: nothing is sent yet; the row says why, and the printer is
        // asked again after a while.
        if (!bStillPaused && !host.ShowPaused(strText))
            return PrinterWait::Stopped;
        bShown = true;
        const ULONGLONG deadline = host.Now() + dwPollMs;
        for (;;) {
            if (host.StopAsked())
                return PrinterWait::Stopped;
            const ULONGLONG now = host.Now();
            if (now >= deadline)
                break;
            host.Pause(static_cast<DWORD>(deadline - now));
        }
    }
}
