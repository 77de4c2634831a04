#include "printloop/PrinterWait.h"

#include <memory>

PrinterWait WaitForPrinter(IPrinterWaitHost& host, DWORD dwPollMs) {
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
        if (state != PrinterState::Paused) {
            if (bShown && !host.ShowPaused(CString()))
                return PrinterWait::Stopped;
            return state == PrinterState::NotAnswering ? PrinterWait::Silent : PrinterWait::Go;
        }
        // Paused: nothing is sent yet; the row says why, and the printer is
        // asked again after a while.
        if (!host.ShowPaused(strText))
            return PrinterWait::Stopped;
        bShown = true;
        const ULONGLONG deadline = GetTickCount64() + dwPollMs;
        for (;;) {
            if (host.StopAsked())
                return PrinterWait::Stopped;
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                break;
            host.Pause(static_cast<DWORD>(deadline - now));
        }
    }
}
