// What the worker needs of the window that owns it, and nothing more.
//
// Threads: the worker calls these from its own thread. None may wait for the
// window's thread: the window implements them by posting messages (or by
// calls such as InvalidateRect that do not wait).
#pragma once

#include "framework/String.h"

#include <windows.h>

class IPrintLoopOwner {
public:
    virtual ~IPrintLoopOwner() = default;
    // The job list box, invalidated (without erasing) after every progress change.
    virtual HWND GetJobListBox() = 0;
    // Ask the window's thread to rebuild the rows (after a job was removed).
    virtual void RequestRefreshJobList() = 0;
    // The worker stopped itself after a failed copy: the Start/Stop button
    // must read "Start" no later than the failure box is dismissed.
    virtual void NotifyWorkerStopped() = 0;
    // The window that owns the worker's message boxes.
    virtual HWND GetMessageBoxOwner() = 0;
    // A job left the queue after its last copy; its path as it was queued.
    // Must not wait for the window's thread either.
    virtual void NotifyJobDone(const CString& strPath) { (void)strPath; }
};
