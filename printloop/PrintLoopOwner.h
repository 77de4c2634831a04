// What the worker needs of the window that owns it, and nothing more.
//
// Threads: the worker and its watcher call these from their own threads,
// inside the worker's gate and only until the window has stopped the worker
// for good (the lock rules in PrintLoopThread.h). None may wait for the
// window's thread: the window implements them by posting messages (or by
// calls such as InvalidateRect that do not wait).
#pragma once

#include "history/HistoryCsv.h"
#include "framework/String.h"

#include <windows.h>

#include <optional>

// What the worker is doing, as the notification area tells it.
struct WorkerActivity {
    enum class Kind {
        Idle,     // no job in progress
        Printing, // sending copy nCopy of nCopies of strJob
        Waiting,  // the printer says it waits: strWord is its word
        Retrying, // a failed copy waits to be tried again: strWord is why
    };
    Kind kind = Kind::Idle;
    CString strJob;
    int nCopy = 0;
    int nCopies = 0;
    CString strWord;

    static WorkerActivity Make(Kind kind, const CString& strJob, const CString& strWord = CString(),
                               int nCopy = 0, int nCopies = 0) {
        WorkerActivity a;
        a.kind = kind;
        a.strJob = strJob;
        a.strWord = strWord;
        a.nCopy = nCopy;
        a.nCopies = nCopies;
        return a;
    }

    bool operator==(const WorkerActivity& o) const {
        return kind == o.kind && strJob == o.strJob && nCopy == o.nCopy && nCopies == o.nCopies &&
               strWord == o.strWord;
    }
    bool operator!=(const WorkerActivity& o) const { return !(*this == o); }
};

// With retry on: what happened to a spell of failures.
enum class RetryNews {
    Failing, // its first failure (strReason says why); tries follow
    Back,    // a copy went through after it
    GivenUp, // the retry time ran out: the queue stops, as without retry
};

class IPrintLoopOwner {
public:
    virtual ~IPrintLoopOwner() = default;
    // The job list box.
    virtual HWND GetJobListBox() = 0;
    // The rows' texts changed (progress, a printer's word): the list is to
    // be painted again. By default it is invalidated at once; a window may
    // paint less often than a burst of small jobs changes them.
    virtual void RequestRepaintJobList() {
        if (HWND hList = GetJobListBox())
            InvalidateRect(hList, nullptr, FALSE);
    }
    // Ask the window's thread to rebuild the rows (after a job was removed).
    virtual void RequestRefreshJobList() = 0;
    // The worker stopped itself after a failed copy: the Start/Stop button
    // must read "Start" no later than the failure box is dismissed.
    virtual void NotifyWorkerStopped() = 0;
    // The window that owns the worker's message boxes.
    virtual HWND GetMessageBoxOwner() = 0;
    // A job left the queue with every copy sent, or a copy failed: one
    // entry for the history. Must return at once (the history only queues
    // it); an owner without a history ignores it.
    virtual void RecordHistory(const CHistoryEntry&) {}
    // The printer's own page count for the job run nToken (the token the
    // worker holds in m_nPageToken from the run's first copy to the end of
    // the run, see PrintLoopThread.h): the pages, or no value. Comes once
    // per token, on the page counter's thread, from when the run ends to
    // about two minutes later (a later run's first copy ends the wait at
    // once, without a value); never after the worker was stopped for good.
    virtual void OnJobPagesCounted(unsigned long /*nToken*/,
                                   std::optional<unsigned long> /*pages*/) {}
    // A job's last copy went out; its path as it was queued. Called before
    // the job's record is deleted, under the worker's gate: it records what
    // must outlive a crash and does no slow work (no file moves). Must not
    // wait for the window's thread either.
    virtual void NotifyJobDone(const CString& strPath) { (void)strPath; }
    // What the worker does changed (CPrintLoopThread::GetActivity says
    // what it is now). Must not wait for the window's thread.
    virtual void NotifyActivityChanged() {}
    // With retry on, once per event of a spell of failures. Must not wait
    // for the window's thread.
    virtual void NotifyRetry(RetryNews /*news*/, const CString& /*strReason*/) {}
};
