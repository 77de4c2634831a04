// The watched folder: a folder where any file written or moved in is queued
// once it is complete, with its settings and the handling of its files.
//
// A file's way: it lands in the folder; the watcher queues it once it has
// not changed for the settle time and opens for reading with writers denied;
// it is first moved (a rename on the same volume) into the "Queued"
// subfolder and the job names the moved file, so a crash between the move
// and the stored job leaves a file in "Queued" that no job names, which the
// next start queues again. When its job leaves the queue after its last
// copy, the file goes to "Printed" (or is deleted). A name already taken in
// "Queued" or "Printed" gets a numbered suffix: nothing is overwritten.
//
// Threads: CWatchedFolderSetup is a plain value owned by one thread.
// CFolderWatcher runs one thread of its own; it never calls the window, it
// only posts to it (kMsgFile with a heap string the window deletes, kMsgState
// when the folder is lost or back). JobDone runs on the worker's thread and
// only moves a file; the settings it reads are guarded by the watcher's lock.
#pragma once

#include "framework/String.h"
#include "framework/Sync.h"
#include "settings/RegistrySettings.h"

#include <windows.h>

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
// Moves the file into the folder under its own name, or "name (2).ext",
// "name (3).ext"... when that is taken; never replaces a file. The new
// path, or empty when the move failed.
std::wstring MoveUnique(const std::wstring& file, const std::wstring& toFolder);
// Whether a folder entry with these attributes can be a print job: not a
// folder, and not one of the hidden or system files the shell keeps
// (desktop.ini, thumbnails). The one filter of every scan of the folders.
bool IsJobEntry(DWORD dwAttributes);
// The files of a folder that can be print jobs (IsJobEntry), oldest write
// first, then by name.
std::vector<std::wstring> FilesOf(const std::wstring& folder);
// Whether the path names a file directly inside the folder.
bool IsIn(const std::wstring& path, const std::wstring& folder);
// A path of the queue (ANSI code page) as a wide path.
std::wstring FromAnsi(const CString& path);
} // namespace WatchedFolder

class CFolderWatcher {
public:
    // Posted to the window: lParam a new std::wstring, the moved file's path,
    // which the window deletes. kMsgState: wParam 0 the folder is
    // unreachable, 1 it is back.
    static constexpr UINT kMsgFile = WM_APP + 0x110;
    static constexpr UINT kMsgState = WM_APP + 0x111;

    explicit CFolderWatcher(HWND hNotify) : m_hNotify(hNotify) {}
    ~CFolderWatcher() { Stop(); }
    CFolderWatcher(const CFolderWatcher&) = delete;
    CFolderWatcher& operator=(const CFolderWatcher&) = delete;

    // Stops any watch, takes the settings and, when they are on, starts
    // watching. Window thread.
    void Configure(const CWatchedFolderSetup& setup);
    void Stop();
    CWatchedFolderSetup GetSetup() const;

    // A job left the queue after its last copy: its file goes to "Printed"
    // or is deleted when it lies in this folder's "Queued". Any thread.
    void JobDone(const std::wstring& path);
    // A job the user removed: its file goes to "Printed" (never deleted, it
    // was not printed) so that the next start does not queue it again.
    void JobRemoved(const std::wstring& path);

private:
    static DWORD WINAPI ThreadProc(LPVOID p);
    void Run();
    // One pass over the folder; the time until the next pass is due, or
    // INFINITE when nothing waits to settle.
    DWORD Scan();

    struct Seen {
        std::wstring name;
        ULONGLONG size;
        FILETIME written;
        ULONGLONG since; // tick when last seen changing
        ULONGLONG order; // arrival order
    };

    HWND m_hNotify;
    mutable CCriticalSection m_Lock;
    CWatchedFolderSetup m_Setup;
    HANDLE m_hThread = nullptr;
    HANDLE m_hStop = nullptr;
    std::vector<Seen> m_Seen;
    ULONGLONG m_nArrivals = 0;
};
