// CJobHistory: the per-user history of finished, removed and failed jobs,
// kept as history.csv in one folder (by default the user's local
// application data, Tolvar\Morvane). Record queues an entry and returns at
// once; a writer thread of the store's own appends each entry with one
// write and flushes the file. At kRotateBytes the file moves to
// history.1.csv (replacing the one before) and a new one starts. A file that
// ends in a record cut short (the program died in the middle of a write)
// loses that record before the next one is appended, so every entry starts
// on a fresh line.
// A history that cannot be written never holds anything up: the entry is
// dropped (from the file; it is still shown) and the failure handler is
// told once, with the reason. A file that cannot be moved aside is told the
// same way, and entries go on into it.
//
// Threads: Record may be called from any thread, also inside the worker's
// gate: it takes the append lock, which is innermost (nothing is taken
// inside it and it is never held across a wait or a file call), and posts
// to the listener. The writer holds the file lock while it writes;
// ReadAll holds it while it reads, so it never waits for the worker.
// Ownership: the store owns its thread; Close (or the destructor) writes
// what is queued and ends it.
#pragma once

#include "history/HistoryCsv.h"

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class CJobHistory {
public:
    static constexpr unsigned long long kRotateBytes = 20ULL << 20;

    // The user's folder (created when the first entry is written).
    static std::wstring DefaultFolder();

    explicit CJobHistory(std::wstring folder, unsigned long long nRotateBytes = kRotateBytes);
    ~CJobHistory();
    CJobHistory(const CJobHistory&) = delete;
    CJobHistory& operator=(const CJobHistory&) = delete;

    // Queues the entry for the file and posts nMessage to the listener. An
    // entry with a page token is held instead until SetPages gives its
    // count (or Close comes), so that it is written once, whole.
    void Record(const CHistoryEntry& entry);
    // The printer's page count for the held entry of nToken (no value:
    // the field stays empty); the entry is then queued as Record does. A
    // token that holds no entry is ignored.
    void SetPages(unsigned long nToken, std::optional<unsigned long> pages);
    // Writes what is queued, held entries included (with no page count), and
    // ends the writer; later entries are kept in memory only.
    void Close();

    // The entries of both files, oldest first, then this run's entries that
    // could not be written, and the number of this run's entries that
    // includes; EntriesSince gives the ones after those.
    std::vector<CHistoryEntry> ReadAll(size_t& nSeen);
    std::vector<CHistoryEntry> EntriesSince(size_t& nSeen);

    // A window told (posted nMessage) after each entry; null: none.
    void SetListener(HWND hWnd, UINT nMessage);
    // Called once, on the writer's thread, with the first failure's text.
    void SetFailureHandler(std::function<void(const std::string&)> handler);

    std::wstring FilePath() const { return m_folder + L"\\history.csv"; }
    std::wstring OldFilePath() const { return m_folder + L"\\history.1.csv"; }

private:
    // Under the append lock: the entry joins the queue for the file.
    void QueueLocked(CHistoryEntry entry);
    void WriterLoop();
    // Under the file lock: appends one record; false (with the reason) when
    // it could not.
    bool Append(const std::string& record, std::string& reason);
    bool OpenFile(std::string& reason);
    // Under the file lock: the first failure of the run goes to the handler.
    void TellFailure(const std::string& reason);
    void CloseFile();

    const std::wstring m_folder;
    const unsigned long long m_nRotateBytes;

    // The append lock: the run's entries from m_nBase on (those the writer
    // has not taken yet, and, while a window listens, those it may still
    // ask for; the others are in the file), how many the writer has taken,
    // the listener and the writer's state.
    std::mutex m_append;
    std::condition_variable m_wake;
    std::vector<CHistoryEntry> m_entries;
    size_t m_nBase = 0;
    size_t m_nTaken = 0;
    bool m_bClosing = false;
    // Entries waiting for their page count, by token.
    std::map<unsigned long, CHistoryEntry> m_held;
    HWND m_hListener = nullptr;
    UINT m_nListenerMessage = 0;

    // The file lock: the open file, its size and the count of this run's
    // entries that are in it or given up on.
    std::mutex m_file;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    unsigned long long m_nSize = 0;
    size_t m_nDone = 0;
    // Those of them that could not be written, shown all the same.
    std::vector<CHistoryEntry> m_unwritten;
    std::function<void(const std::string&)> m_onFailure;
    bool m_bFailureTold = false;

    std::thread m_writer;
};
