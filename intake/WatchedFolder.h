// The watched folder: a folder where any file written or moved in is queued
// once it is complete, with its settings and the handling of its files.
//
// A file's way, and what a kill or power cut right after each step leaves:
//   arrived  it lands in the folder; names ending in ".tmp", ".part" or "~"
//            are passed over (a writer's temporary name).
//            Left: the file in the folder; the next start looks again.
//   settled  it has not changed for the settle time and opens for reading
//            with writers and deleters denied; that handle is kept.
//   moved    it is renamed through that handle into "Queued" (a name taken
//            there, or recorded as done, gets a numbered suffix), so no
//            writer slips in between the look and the move.
//            Left: a file in "Queued" that no job names: the next start
//            queues it, once.
//   stored   the window takes it from the watcher's own queue and stores
//            its job (the one path check of every way into the queue).
//            Left: the job, which the next start loads.
//   done     the last copy went out (or the user removed the job): see
//            intake/DoneFiles.h for the order from here to "Printed" or
//            the file's deletion.
// A name already taken in "Queued" or "Printed" gets a numbered suffix:
// nothing is overwritten.
//
// Writers that Windows' sharing cannot see (programs on a file server,
// programs outside Windows) are kept out by the settle time alone: they
// should write under a temporary name and rename the file into the folder.
//
// Threads: CWatchedFolderSetup is a plain value owned by one thread.
// CFolderWatcher runs one thread of its own; it never calls the window: it
// queues the moved files in its own queue and posts kMsgFile (one at a time
// while the queue has files) and kMsgState when the folder is lost or back.
// m_Lock guards the settings and that queue. JobDone and JobRemoved run on
// any thread and only record (no file work): the files are moved by the
// done files' own thread.
#pragma once

#include "framework/String.h"
#include "framework/Sync.h"
#include "intake/DoneFiles.h"
#include "settings/RegistrySettings.h"

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CWatchedFolderSetup : public CRegistrySettings {
public:
    CWatchedFolderSetup() = default;
    // The values only; the registry bookkeeping stays each object's own.
    CWatchedFolderSetup(const CWatchedFolderSetup& other) : CRegistrySettings() { *this = other; }
    CWatchedFolderSetup& operator=(const CWatchedFolderSetup& other) {
        m_bEnabled = other.m_bEnabled;
        m_strFolder = other.m_strFolder;
        m_nCopies = other.m_nCopies;
        m_bDeleteWhenDone = other.m_bDeleteWhenDone;
        m_nSettleMs = other.m_nSettleMs;
        return *this;
    }

    BOOL Save() override;
    BOOL Load() override;

    // Off by default.
    bool m_bEnabled = false;
    std::wstring m_strFolder;
    int m_nCopies = 1;
    // What happens to a file once its job is done: moved to "Printed"
    // (false, the default) or deleted.
    bool m_bDeleteWhenDone = false;
    // How long a file must stay unchanged before it is queued.
    DWORD m_nSettleMs = kDefaultSettleMs;

    static constexpr DWORD kDefaultSettleMs = 1000;
    static constexpr int kMaxCopies = 100000;
};

namespace WatchedFolder {
// The subfolders the program keeps in the watched folder.
inline constexpr wchar_t kQueued[] = L"Queued";
inline constexpr wchar_t kPrinted[] = L"Printed";

std::wstring SubFolder(const std::wstring& folder, const wchar_t* sub);
// The folder as it is kept and compared: absolute, its long names, no
// trailing separator. Empty when it cannot be made.
std::wstring Canonical(const std::wstring& folder);
// Whether a name counts as taken in the target folder (besides a file
// that is there).
using TakenFn = std::function<bool(const std::wstring& path)>;
// Tries one target; ERROR_SUCCESS when the file is there now.
using TryMoveFn = std::function<DWORD(const std::wstring& target)>;
// The naming of a move into a folder: the name, then "name (2).ext",
// "name (3).ext"... while a name is taken; never replaces a file. The new
// path, or empty when every name was taken or a move failed otherwise.
std::wstring MoveUniqueWith(const std::wstring& name, const std::wstring& toFolder,
                            const TakenFn& isTaken, const TryMoveFn& tryMove);
// Moves the file into the folder (made when missing) under its own name,
// or a numbered one.
std::wstring MoveUnique(const std::wstring& file, const std::wstring& toFolder,
                        const TakenFn& isTaken = nullptr);
// Whether a folder entry can be a print job: not a folder, not one of the
// hidden or system files the shell keeps (desktop.ini, thumbnails), and
// not a writer's temporary name (".tmp", ".part", "~" at the end). The one
// filter of every scan of the folders.
bool IsJobEntry(DWORD dwAttributes, const wchar_t* pszName);
// The files of a folder that can be print jobs (IsJobEntry), oldest write
// first, then by name.
std::vector<std::wstring> FilesOf(const std::wstring& folder);
// Whether the path names a file directly inside the folder.
bool IsIn(const std::wstring& path, const std::wstring& folder);
// Whether two paths name the same file: compared without regard to case
// or to the prefix that lifts the length limit.
bool SamePath(const std::wstring& a, const std::wstring& b);
// A path of the queue (ANSI code page) as a wide path.
std::wstring FromAnsi(const CString& path);

// What the start does with the files of "Queued" and the stored jobs.
struct StartPlan {
    // The files no job names and no done record holds: queued now.
    std::vector<std::wstring> toQueue;
    // The jobs (indices) whose file is recorded as done: dropped unprinted.
    std::vector<size_t> jobsToDrop;
};
StartPlan PlanStart(const std::vector<std::wstring>& jobPaths,
                    const std::vector<std::wstring>& queuedFiles, const TakenFn& isDone);
} // namespace WatchedFolder

// When a file is complete: it has not changed (size, last write) for the
// settle time. The files are kept in the order they arrived (new ones in
// the order they were written). The clock is the caller's: any tick count.
// Threads: one owner.
class CSettleTracker {
public:
    struct Entry {
        std::wstring name;
        ULONGLONG size;
        FILETIME written;
    };
    // One look at the folder's files at `now`: the names that have rested
    // for the settle time, in arrival order. Files no longer listed are
    // forgotten.
    std::vector<std::wstring> Look(const std::vector<Entry>& listing, ULONGLONG now,
                                   DWORD nSettleMs);
    // A rested file that was taken away (moved): forgotten.
    void Taken(const std::wstring& name);
    // How long until the next look is due, or INFINITE when nothing waits.
    DWORD NextDue(ULONGLONG now, DWORD nSettleMs) const;
    void Clear() { m_Seen.clear(); }

private:
    struct Seen {
        std::wstring name;
        ULONGLONG size;
        FILETIME written;
        ULONGLONG since; // tick when last seen changing
        ULONGLONG order; // arrival order
    };
    std::vector<Seen> m_Seen;
    ULONGLONG m_nArrivals = 0;
};

class CFolderWatcher {
public:
    // Posted to the window: files wait in the watcher's queue (TakeArrived).
    // kMsgState: wParam 0 the folder is unreachable, 1 it is back.
    static constexpr UINT kMsgFile = WM_APP + 0x110;
    static constexpr UINT kMsgState = WM_APP + 0x111;

    // The done files' journal: the registry's unless one is given.
    explicit CFolderWatcher(HWND hNotify, std::unique_ptr<IDoneJournal> journal = nullptr);
    ~CFolderWatcher() { Stop(); }
    CFolderWatcher(const CFolderWatcher&) = delete;
    CFolderWatcher& operator=(const CFolderWatcher&) = delete;

    // Stops any watch, takes the settings and, when they are on, starts
    // watching. Window thread.
    void Configure(const CWatchedFolderSetup& setup);
    // Stops the watch; false when its thread did not end within nWaitMs (a
    // call on a share that hangs): the object must then be left alive.
    bool Stop(DWORD nWaitMs = INFINITE);
    CWatchedFolderSetup GetSetup() const;

    // The files moved into "Queued" since the last call, in arrival order.
    std::vector<std::wstring> TakeArrived();
    // Puts a file moved into "Queued" in the queue and tells the window.
    void Deliver(const std::wstring& path);

    CDoneFiles& Done() { return m_Done; }
    // A job left the queue after its last copy: its file is recorded as
    // done, to go to "Printed" or be deleted, when it lies in this
    // folder's "Queued". Any thread; no file work.
    void JobDone(const std::wstring& path);
    // A job the user removed: its file is recorded to go to "Printed"
    // (never deleted, it was not printed). False when it is no file of
    // the folder.
    bool JobRemoved(const std::wstring& path);

private:
    static DWORD WINAPI ThreadProc(LPVOID p);
    void Run();
    // One pass over the folder; the time until the next pass is due, or
    // INFINITE when nothing waits to settle.
    DWORD Scan();
    // Tells the window once the queue has files; false when it could not.
    bool PostArrived();

    HWND m_hNotify;
    CDoneFiles m_Done;
    mutable CCriticalSection m_Lock;
    CWatchedFolderSetup m_Setup;
    std::deque<std::wstring> m_Arrived;
    bool m_bArrivedPosted = false;
    HANDLE m_hThread = nullptr;
    HANDLE m_hStop = nullptr;
    // The watcher's thread's own.
    CSettleTracker m_Settle;
};
