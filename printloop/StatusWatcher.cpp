#include "printloop/StatusWatcher.h"

#include "framework/Exceptions.h"

#include <objbase.h>

CStatusWatcher::CStatusWatcher(IWaitTextSink& sink)
    : m_sink(sink), m_hEnd(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hCopyBegan(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    if (!m_hEnd || !m_hCopyBegan)
        AfxThrowMemoryException();
}

CStatusWatcher::~CStatusWatcher() {
    End(false);
    if (HANDLE h = Handle())
        WaitForSingleObject(h, INFINITE);
}

bool CStatusWatcher::Start() {
    CLock lock(m_csThread);
    if (m_bEnded)
        return false;
    if (!m_hThread)
        m_hThread.reset(::CreateThread(nullptr, 0, Entry, this, 0, nullptr));
    return static_cast<bool>(m_hThread);
}

void CStatusWatcher::End(bool bAbortActive) {
    bool bThreadAborts;
    {
        CLock lock(m_csThread);
        m_bEnded = true;
        if (bAbortActive)
            m_bAbort = true;
        SetEvent(m_hEnd.get());
        bThreadAborts = m_hThread && WaitForSingleObject(m_hThread.get(), 0) == WAIT_TIMEOUT;
    }
    // No thread to do it (none started, or it has ended already).
    if (bAbortActive && !bThreadAborts)
        AbortActive();
}

HANDLE CStatusWatcher::Handle() {
    CLock lock(m_csThread);
    return m_hThread.get();
}

void CStatusWatcher::SetActive(CPrinter* pPrinter) {
    bool bWake;
    {
        CLock lock(m_csSlot);
        m_pActive = pPrinter;
        ++m_nStep;
        bWake = pPrinter && m_bAsleep;
        if (bWake)
            m_bAsleep = false;
    }
    if (bWake)
        SetEvent(m_hCopyBegan.get());
}

void CStatusWatcher::AbortActive() {
    CLock lock(m_csSlot);
    if (m_pActive)
        m_pActive->Abort();
}

DWORD WINAPI CStatusWatcher::Entry(void* pParam) {
    // The active printer may be a COM object of the worker's multithreaded
    // apartment.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    auto* pThis = static_cast<CStatusWatcher*>(pParam);
    try {
        pThis->Watch();
    } catch (...) {
        // Out of memory while making a text: the row just shows less.
    }
    if (pThis->m_bAbort)
        pThis->AbortActive();
    CoUninitialize();
    return 0;
}

void CStatusWatcher::Watch() {
    const HANDLE events[] = {m_hEnd.get(), m_hCopyBegan.get()};
    for (;;) {
        bool bCopy;
        {
            CLock lock(m_csSlot);
            bCopy = m_pActive != nullptr;
            m_bAsleep = !bCopy;
        }
        // Between copies nothing is asked: sleep until one begins.
        const DWORD r = bCopy ? WaitForSingleObject(m_hEnd.get(), kWatchMs)
                              : WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (r == WAIT_OBJECT_0 || r == WAIT_FAILED)
            return;
        if (r != WAIT_TIMEOUT)
            continue; // a copy began: its first look comes kWatchMs later
        CString strText;
        unsigned nStep;
        {
            CLock lock(m_csSlot);
            if (!m_pActive)
                continue;
            nStep = m_nStep;
            strText = m_pActive->GetWaitText();
        }
        if (!strText.IsEmpty())
            m_sink.OnWaitText(strText, nStep);
    }
}
