// CWinThread: a thread object in the framework's manner. CreateThread starts
// (or, with CREATE_SUSPENDED, prepares) a thread that runs InitInstance and,
// when that returns TRUE, Run; the thread ends with ExitInstance's result.
//
// Ownership: the object owns the thread handle and closes it when
// destroyed; it does not wait for the thread. Whoever deletes the object
// must be sure the thread no longer uses it (or has been abandoned for
// good by design).
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

class CWinThread {
public:
    CWinThread() = default;
    virtual ~CWinThread() = default;
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    BOOL CreateThread(DWORD dwCreateFlags = 0, UINT nStackSize = 0,
                      LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
    BOOL SetThreadPriority(int nPriority);
    int GetThreadPriority();
    DWORD ResumeThread();
    DWORD SuspendThread();

    HANDLE GetHandle() const { return m_hThread.get(); }
    DWORD GetThreadId() const { return m_nThreadID; }

    virtual BOOL InitInstance() = 0;
    virtual int Run() { return ExitInstance(); }
    virtual int ExitInstance() { return 0; }

private:
    static unsigned __stdcall ThreadEntry(void* pParam);

    UniqueHandleNull m_hThread;
    DWORD m_nThreadID = 0;
};
