#include "framework/WinThread.h"

#include <process.h>

BOOL CWinThread::CreateThread(DWORD dwCreateFlags, UINT nStackSize,
                              LPSECURITY_ATTRIBUTES lpSecurityAttrs) {
    if (m_hThread)
        return FALSE;
    unsigned id = 0;
    const uintptr_t h = _beginthreadex(lpSecurityAttrs, nStackSize, &CWinThread::ThreadEntry, this,
                                       dwCreateFlags & CREATE_SUSPENDED, &id);
    if (h == 0)
        return FALSE;
    m_hThread.reset(reinterpret_cast<HANDLE>(h));
    m_nThreadID = id;
    return TRUE;
}

BOOL CWinThread::SetThreadPriority(int nPriority) {
    return m_hThread && ::SetThreadPriority(m_hThread.get(), nPriority);
}

int CWinThread::GetThreadPriority() {
    return m_hThread ? ::GetThreadPriority(m_hThread.get()) : THREAD_PRIORITY_ERROR_RETURN;
}

DWORD CWinThread::ResumeThread() {
    return m_hThread ? ::ResumeThread(m_hThread.get()) : static_cast<DWORD>(-1);
}

DWORD CWinThread::SuspendThread() {
    return m_hThread ? ::SuspendThread(m_hThread.get()) : static_cast<DWORD>(-1);
}

unsigned __stdcall CWinThread::ThreadEntry(void* pParam) {
    auto* self = static_cast<CWinThread*>(pParam);
    // Nothing may escape the thread: an exception here would end the process.
    try {
        if (!self->InitInstance())
            return static_cast<unsigned>(self->ExitInstance());
        return static_cast<unsigned>(self->Run());
    } catch (...) {
        return static_cast<unsigned>(-1);
    }
}
