// CSpooler_Printer: sends each document as a "RAW" document of one page to
// a printer installed in Windows, through the print spooler.
//
// m_nState says how far the document got (0 nothing, 1 printer open,
// 2 document started, 3 page started). Close ends exactly those steps (the
// spooler hands the document on when it is ended); Abort drops a started
// document with AbortPrinter, never ending it, and so does the destructor
// for a document still open (a document nobody finished must not print).
//
// Threads: Open, Send_Data, Close and the destructor run on the worker's
// thread; Abort may also come from another thread while the worker is
// inside a spooler call. State changes happen under m_cs, never held across
// a spooler call. m_nInCall counts the threads inside a spooler call with
// the handle (the worker's, and an Abort's AbortPrinter); the handle is
// closed only when that count is 0, by whichever thread leaves last once
// the object is aborted. So an Abort from another thread calls AbortPrinter
// while the worker is still in WritePrinter (which then fails), and the
// worker closes the handle when it comes out, exactly once.
//
// A spooler that does not drop the job on AbortPrinter (it still lists the
// job afterwards, not marked for deletion; Wine's does so) would end the
// document, and so print the part that got through, when its handle is
// closed. Such a handle is left open instead: one handle and its spool data
// per aborted copy, until the process ends (which ends no document), and
// Abort returns FALSE.
#pragma once

#include "framework/Sync.h"
#include "printers/Printer.h"

#include <windows.h>

#include <memory>
#include <utility>

// What the spooler's record of a printer (PRINTER_INFO_2's Status,
// Attributes and cJobs) says before a copy, first rule that applies:
// paused ("Paused"); offline by the attribute WORK_OFFLINE ("Offline");
// a device condition ("Paper out", "Jammed", "Cover open", "Toner out",
// "Output tray full", "Paper problem", "Offline", "Needs attention", "Not
// available", "Printer error", in that order) - each Paused, so the copy
// waits; a status of 0 with no job queued tells nothing (Unknown: the
// spooler knows a device's state only while it despools a job, so send);
// anything else Ready ("Printing" or "Ready").
PrinterState SpoolerPrinterState(DWORD dwStatus, DWORD dwAttributes, DWORD cJobs, CString& strText);

#ifndef JOB_STATUS_RETAINED
#define JOB_STATUS_RETAINED 0x00002000
#endif

// What the spooler's record of a job (JOB_INFO_1's Status) says of a
// document handed to it, first rule that applies: a job no longer listed
// (bListed false) is Done; an error state is Error with its words
// ("spooler reports: " and "paper out", "offline", "needs attention",
// "blocked" or "error", in that order);
// printed, complete or retained is Done; anything else Pending.
IHandedDocument::Fate SpoolerJobFate(bool bListed, DWORD dwStatus, CString& strWord);

// A spooler job followed by its id, through a printer handle of its own
// (opened at the first Check, closed by the destructor). A printer that
// can no longer be opened leaves nothing to follow: Done.
class CSpoolerHandedJob : public IHandedDocument {
public:
    CSpoolerHandedJob(CString strPrinter, DWORD dwJobId)
        : m_strPrinter(std::move(strPrinter)), m_dwJobId(dwJobId) {}
    ~CSpoolerHandedJob() override;
    CSpoolerHandedJob(const CSpoolerHandedJob&) = delete;
    CSpoolerHandedJob& operator=(const CSpoolerHandedJob&) = delete;
    Fate Check(CString& strWord) override;

private:
    CString m_strPrinter;
    DWORD m_dwJobId;
    HANDLE m_hPrinter = nullptr;
};

class CSpooler_Printer : public CPrinter {
public:
    CSpooler_Printer() = default;
    ~CSpooler_Printer() override;
    CSpooler_Printer(const CSpooler_Printer&) = delete;
    CSpooler_Printer& operator=(const CSpooler_Printer&) = delete;

    // Fails on an aborted object.
    BOOL Open(CSpoolerSetup* pSetup, CString strJobName) override;
    // FALSE when ending the page or the document failed: the document then
    // did not reach the printer whole.
    BOOL Close() override;
    // Writes the whole chunk, repeating short writes; -1 when nothing is
    // open or a write fails or makes no progress.
    int Send_Data(const void* pData, int nLength) override;
    BOOL Abort() override;
    // "Printer not found", "Spooler refused the job" or "Spooler refused
    // the data"; empty after an abort.
    CString GetFailureText() override;
    // The spooler's record of the printer (GetPrinter level 2), through a
    // handle of its own, mapped by SpoolerPrinterState; Unknown when the
    // printer cannot be opened, NotAnswering when the record cannot be read.
    PrinterState QueryState(CSpoolerSetup* pSetup, CString& strText) override;
    // The job of the last document Close ended, as the spooler numbered it.
    std::unique_ptr<IHandedDocument> TakeHandedDocument() override;

    int GetState() const;

protected:
    // Enters a spooler call with the handle; false when aborted.
    bool EnterCall(HANDLE& hPrinter);
    // Leaves it; the last thread out of an aborted object drops the
    // document (if nobody did yet) and closes the handle.
    void LeaveCall();
    bool IsAborted() const;
    void SetState(int nState);
    // Ends what is open in order, on the worker's thread.
    BOOL EndInOrder();

    mutable CCriticalSection m_cs;
    // Under m_cs:
    HANDLE m_hPrinter = nullptr;
    int m_nState = 0;
    bool m_bAborted = false;
    // AbortPrinter was called for the open document.
    bool m_bDropped = false;
    // ... and the spooler kept the job: the handle must not be closed.
    bool m_bJobKept = false;
    DWORD m_dwJobId = 0;
    int m_nInCall = 0;
    // Worker's thread only: the words for the last failed step.
    const char* m_pszFailure = nullptr;
    // Worker's thread only: the printer's name (from Open).
    CString m_strPrinterName;
    // Under m_cs: the job id of the document the last Close ended, 0 when
    // none.
    DWORD m_dwHandedJobId = 0;
};
