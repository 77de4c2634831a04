// CJobHistory: the per-user history of finished, removed and failed jobs,
// kept as history.csv in one folder (by default the user's local
// application data, Tolvar\Morvane). Record queues an entry and returns at
// once; a writer thread of the store's own appends each entry with one
// write and flushes the file. The writer opens the file by its path and
// appends only (FILE_APPEND_DATA), so another program or instance
// appending to the same file never has its lines overwritten. It keeps the
// file open from one batch to the next while entries keep coming, and lets
// it go after kIdleOpenMs without one; before each batch it checks that
// the path still names that file: a file moved or deleted meanwhile is
// left alone and a new one starts. At
// kRotateBytes of the file's real size it moves to history.1.csv (replacing
// the one before) and a new one starts. A file that ends in one record of
// ours cut short (the program died in the middle of a write) loses that
// record before the next one is appended; any other unfinished end is left
// as it is and the next entry starts on a new line (RepairTornTail).
// A printed job whose page count may still come is written at once with a
// run id; its count comes later as a page line with the same id, which
// DecodeHistory and ReadAll fold into it.
// A history that cannot be written never holds anything up: the entry is
// dropped (from the file; it is still shown) and the failure handler is
// told once, with the reason. A file that cannot be moved aside is told the
// same way, and entries go on into it. An exception in the writer costs the
// entry, the same way, never the program.
//
// Threads: Record and SetPages may be called from any thread, also inside
// the worker's gate: they take the append lock, which is innermost (nothing
// is taken inside it and it is never held across a wait or a file call),
// and post to the listener. The writer holds the file lock while it opens,
// writes and moves files, and calls the failure handler under it and the
// tell lock; ReadAll holds the file lock while it reads (so no file moves
// under it) and takes the append lock inside it. The handler must return
// at once and take none of these locks.
// Ownership: the state the writer touches is shared by the store and its
// thread, so the thread may outlive the store. Close (or the destructor)
// lets the writer write what is queued and waits for it at most
// kCloseWaitMs; a writer still busy then (a file that does not answer)
// ends on its own later, and the failure handler is not called any more.
#pragma once

#include "framework/Sync.h"
#include "history/HistoryCsv.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class CJobHistory {
public:
    static constexpr unsigned long long kRotateBytes = 20ULL << 20;
    static constexpr unsigned kCloseWaitMs = 2000;
    // How long the writer keeps the file open without an entry to write.
    static constexpr unsigned kIdleOpenMs = 1000;

    // The user's folder (created when the first entry is written).
    static std::wstring DefaultFolder();

    explicit CJobHistory(std::wstring folder, unsigned long long nRotateBytes = kRotateBytes);
    ~CJobHistory();
    CJobHistory(const CJobHistory&) = delete;
    CJobHistory& operator=(const CJobHistory&) = delete;

    // Queues the entry for the file and posts nMessage to the listener. An
    // entry with a page token gets its run id (this process's start time,
    // id and the token) and is remembered until SetPages.
    void Record(const CHistoryEntry& entry);
    // The printer's page count for the entry of nToken: queued as a page
    // line (ResultPagesCounted, the job's name, path and output, no copies,
    // the count, the run id). No value, or a token with no entry: nothing.
    void SetPages(unsigned long nToken, std::optional<unsigned long> pages);
    // Lets the writer write what is queued and ends it (waiting at most
    // kCloseWaitMs); later entries are kept in memory only.
    void Close();

    // The entries of both files, oldest first, then this run's entries that
    // could not be written, page lines folded, and the number of this run's
    // entries that includes; EntriesSince gives the ones after those
    // (unfolded: page lines among them are the caller's to fold).
    std::vector<CHistoryEntry> ReadAll(size_t& nSeen);
    std::vector<CHistoryEntry> EntriesSince(size_t& nSeen);
    // ReadAll for another thread: the function keeps what it reads alive,
    // so it may run on after the store is gone.
    std::function<std::vector<CHistoryEntry>(size_t&)> Reader();

    // A window told (posted nMessage) after each entry; null: none.
    void SetListener(HWND hWnd, UINT nMessage);
    // Called once, on the writer's thread, with the first failure's text.
    void SetFailureHandler(std::function<void(const std::string&)> handler);

    std::wstring FilePath() const { return m_core->FilePath(); }
    std::wstring OldFilePath() const { return m_core->OldFilePath(); }

private:
    // What the store and its writer share.
    struct Core {
        Core(std::wstring folder, unsigned long long nRotateBytes);
        std::wstring FilePath() const { return folder + L"\\history.csv"; }
        std::wstring OldFilePath() const { return folder + L"\\history.1.csv"; }
        // Under the append lock: the entry joins the queue for the file.
        void QueueLocked(CHistoryEntry entry);
        void WriterLoop();
        // Under the file lock: writes one batch into h, the file the last
        // batch left open (opened, or opened again, when it is not there).
        void WriteBatch(const std::vector<CHistoryEntry>& batch, HANDLE& h);
        // Under the file lock: appends one record to h (opened, or opened
        // again after a move aside, when invalid); false (with the reason)
        // when it could not.
        // h and nSize: the file open for the batch (opened when invalid) and
        // its size as this batch knows it, for the rotation.
        bool Append(HANDLE& h, unsigned long long& nSize, const std::string& record,
                    std::string& reason);
        bool OpenFile(HANDLE& h, unsigned long long& nSize, std::string& reason);
        // Under the file lock: the first failure of the run goes to the handler.
        void TellFailure(const std::string& reason);
        std::vector<CHistoryEntry> ReadAll(size_t& nSeen);

        const std::wstring folder;
        const unsigned long long nRotateBytes;
        // How every run id of this process begins.
        const std::string runPrefix;

        // The append lock: the run's entries from nBase on (those the
        // writer has not taken yet, and, while a window listens, those it
        // may still ask for; the others are in the file), how many the
        // writer has taken, the listener, the writer's state and the
        // entries whose page count may still come.
        CSlimMutex append;
        CSlimCondition wake;
        std::vector<CHistoryEntry> entries;
        size_t nBase = 0;
        size_t nTaken = 0;
        bool bClosing = false;
        bool bWriterEnded = false;
        std::map<unsigned long, CHistoryEntry> counting;
        HWND hListener = nullptr;
        UINT nListenerMessage = 0;

        // The file lock: the count of this run's entries that are in the
        // file or given up on, and those given up on, shown all the same.
        // The file the writer keeps open is its thread's own, opened,
        // written and closed under this lock.
        std::mutex file;
        size_t nDone = 0;
        std::vector<CHistoryEntry> unwritten;
        bool bFailureTold = false;

        // The tell lock: the failure handler, cleared when Close gives up
        // on the writer (unless a call is in progress; bGivenUp then keeps
        // it from being called again).
        std::mutex tell;
        std::function<void(const std::string&)> onFailure;
        std::atomic<bool> bGivenUp{false};
    };

    std::shared_ptr<Core> m_core;
    std::thread m_writer;
};
