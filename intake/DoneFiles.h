// The files of the watched folder whose job is over (every copy went out,
// or the user removed the job) and that have not left "Queued" yet.
//
// The order of the writes when a job of the watched folder ends, and what a
// kill or power cut right after each step leaves:
//   1. Finish: the file is recorded here, on disk.
//      The job's record is still there; the next start drops the job
//      (ReconcileJobs) and finishes the file: nothing is printed again.
//   2. The job's record is deleted.
//      The file lies in "Queued" and no job names it, but it is recorded
//      here: the start's look at "Queued" passes it over, and the file is
//      finished.
//   3. The file moves to "Printed" (or is deleted).
//      The record names a file that is not there: the next Settle forgets it.
//   4. The record is forgotten, on disk.
// A recorded name counts as taken for files moving into "Queued" (IsTaken),
// so a new file never takes the name of one whose record stands.
//
// A file that cannot be moved or deleted (read-only, held open, "Printed"
// not to be made, a share away) stays recorded, is never queued again, and
// is tried again at every Poke and now and then; the window is told once
// per file (kMsgStuck).
//
// Threads: Finish, Forget, IsTaken, Poke and the counts from any thread;
// the file work runs on the object's own thread. m_Lock guards the entries
// and the journal's writes; no file is touched under it.
#pragma once

#include "framework/Sync.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

struct DoneFile {
    std::wstring path;
    // Where the file goes; empty: it is deleted.
    std::wstring printedFolder;
    // The window was told the file could not be finished.
    bool bTold = false;
};

// Where the records are kept: one value written whole, then put on disk.
class IDoneJournal {
public:
    virtual ~IDoneJournal() = default;
    virtual bool Load(std::vector<BYTE>& data) = 0;
    virtual bool Save(const std::vector<BYTE>& data) = 0;
};

// The registry's journal: the "Done" value of the watched folder's section.
std::unique_ptr<IDoneJournal> MakeRegistryDoneJournal();

class CDoneFiles {
public:
    // Posted to the window when the files that could not be finished
    // change: wParam how many there are now, lParam how many of them are
    // new (each file counts as new once).
    static constexpr UINT kMsgStuck = WM_APP + 0x112;

    CDoneFiles(std::unique_ptr<IDoneJournal> journal, HWND hNotify);
    ~CDoneFiles();
    CDoneFiles(const CDoneFiles&) = delete;
    CDoneFiles& operator=(const CDoneFiles&) = delete;

    static std::vector<BYTE> Encode(const std::vector<DoneFile>& files);
    // False (files emptied) when the bytes are not a whole journal.
    static bool Decode(const BYTE* p, size_t cb, std::vector<DoneFile>& files);

    // Reads the journal; at start, before anything else.
    void Load();
    // Starts the thread that finishes the files; it settles once at once.
    void Start();
    // Stops the thread, waiting at most nWaitMs for a file call that hangs
    // (a share gone); such a thread is left to the process's end.
    void Stop(DWORD nWaitMs);

    // The job of this file is over: recorded, on disk, before it returns
    // (false when the journal could not be written; the file is finished
    // all the same). The thread is woken.
    bool Finish(const std::wstring& path, const std::wstring& printedFolder);
    // Takes back a Finish whose job turned out not to be over.
    void Forget(const std::wstring& path);
    // Whether the path is recorded (compared without regard to case).
    bool IsTaken(const std::wstring& path) const;
    // Try the stuck files again now.
    void Poke();
    // The files recorded and not yet moved or deleted.
    size_t StuckCount() const;

    // Moves or deletes every recorded file that is still there; forgets the
    // ones done or gone. Runs on the thread; tests call it directly.
    void Settle();

private:
    struct Shared;
    static DWORD WINAPI ThreadProc(LPVOID p);

    std::shared_ptr<Shared> m_shared;
    HANDLE m_hThread = nullptr;
};
