// CStatusWatcher: the worker's second thread, and the slot that names the
// printer of the copy in progress.
// While a copy is in progress the worker may be blocked inside the output
// for a long time (a network printer that stopped for a reason it reports,
// such as an open cover). Every kWatchMs during a copy the watcher asks that
// printer for its wait text (CPrinter::GetWaitText, which never blocks)
// while it holds the slot, lets go of it, and hands a nonempty text to its
// sink together with the step it asked at. Between copies it sleeps until
// the next copy begins. The step changes whenever the slot changes and
// whenever the owner calls NextStep (progress, the end of a copy), so the
// sink can drop a text that has gone stale since it was asked.
// Closing ends the watcher with End(true): the watcher's thread then aborts
// the printer in the slot (CPrinter::Abort, which makes a blocked Send_Data
// or Close return), holding the slot across the call so the worker cannot
// delete the printer under it, and ends. The caller does not wait for that
// abort: it waits for the thread, as long as it chooses.
//
// Only a watcher asleep between copies is woken when one begins: one that
// is in its kWatchMs wait finds the new copy when the wait ends, so copies
// in quick succession cost no wake-up each.
// Threads: SetActive and NextStep come from the worker, End from the worker
// or the window, Step from any thread. The slot's lock (m_csSlot) guards
// m_pActive and m_bAsleep only and is the innermost lock: nothing else is taken while it
// is held, and the sink is called without it.
// Ownership: the watcher owns its thread and events, never the printer in
// the slot (the worker sets it for the copy's lifetime and clears it before
// deleting it). The destructor ends the thread and waits for it, however
// long that takes: destroy the watcher only when nothing blocks in the
// printer it might be aborting.
#pragma once

#include "framework/String.h"
#include "framework/Sync.h"
#include "framework/UniqueHandle.h"
#include "printers/Printer.h"

#include <atomic>

class IWaitTextSink {
public:
    virtual ~IWaitTextSink() = default;
    // On the watcher's thread, with no lock held: the printer of the copy in
    // progress said it waits for strText, asked at step nStep.
    virtual void OnWaitText(const CString& strText, unsigned nStep) = 0;
};

class CStatusWatcher {
public:
    static constexpr DWORD kWatchMs = 1000;

    // Raises the out-of-memory exception when its events cannot be made.
    explicit CStatusWatcher(IWaitTextSink& sink);
    ~CStatusWatcher();
    CStatusWatcher(const CStatusWatcher&) = delete;
    CStatusWatcher& operator=(const CStatusWatcher&) = delete;

    // Starts the thread; false when it could not, or End came first (no
    // thread starts after End). Without a watcher the row only misses the
    // printer's word.
    bool Start();
    // Ends the thread; with bAbortActive the thread first aborts the printer
    // in the slot (done here when no thread runs). Any thread, repeatable.
    void End(bool bAbortActive);
    // The thread, or null when none was started; valid until destruction.
    HANDLE Handle();

    // The printer of the copy in progress (null between copies).
    void SetActive(CPrinter* pPrinter);
    void NextStep() { ++m_nStep; }
    unsigned Step() const { return m_nStep.load(); }

private:
    static DWORD WINAPI Entry(void* pParam);
    void Watch();
    void AbortActive();

    IWaitTextSink& m_sink;
    std::atomic<unsigned> m_nStep{0};
    std::atomic<bool> m_bAbort{false};
    // Manual reset, set once for good by End.
    UniqueHandleNull m_hEnd;
    // Auto reset: a copy began.
    UniqueHandleNull m_hCopyBegan;

    CCriticalSection m_csSlot;
    CPrinter* m_pActive = nullptr; // under m_csSlot
    // Under m_csSlot: the watcher waits for a copy to begin (m_hCopyBegan).
    bool m_bAsleep = false;

    CCriticalSection m_csThread;
    // Under m_csThread: the thread, and whether End came.
    UniqueHandleNull m_hThread;
    bool m_bEnded = false;
};
