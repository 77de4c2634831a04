#include "history/JobHistory.h"

#include "framework/CodePage.h"
#include "history/HistoryTexts.h"

#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {
// The system's text for an error code, without its line end.
std::string ErrorText(DWORD dwError) {
    char* pBuf = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, dwError, 0, reinterpret_cast<char*>(&pBuf), 0, nullptr);
    std::string text = pBuf ? pBuf : "";
    LocalFree(pBuf);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    if (text.empty())
        text = "error " + std::to_string(dwError);
    return text;
}

std::string Utf8(const std::wstring& w) {
    std::string s;
    WideToNarrow(w.data(), static_cast<int>(w.size()), CP_UTF8, s);
    return s;
}

// The whole file's bytes; false when it cannot be read.
bool ReadWhole(const std::wstring& path, std::string& out) {
    out.clear();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size{};
    if (GetFileSizeEx(h, &size) && size.QuadPart > 0 && size.QuadPart < (1LL << 31))
        out.reserve(static_cast<size_t>(size.QuadPart));
    std::vector<char> buf(1 << 20);
    DWORD n = 0;
    while (ReadFile(h, buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr) && n > 0)
        out.append(buf.data(), n);
    CloseHandle(h);
    return true;
}

// The end of a file looked at for a record cut short: one record of ours
// is normally a few hundred bytes; a longer unfinished end is not ours to cut.
constexpr size_t kMaxTornTail = 64 * 1024;

// Reads nBytes at offset of h into out; false when it cannot.
bool ReadAt(HANDLE h, unsigned long long offset, size_t nBytes, std::string& out) {
    out.assign(nBytes, '\0');
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    if (!ReadFile(h, out.data(), static_cast<DWORD>(nBytes), &n, &at))
        return false;
    out.resize(n);
    return n == nBytes;
}

bool WriteAll(HANDLE h, const std::string& text) {
    DWORD n = 0;
    return WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) &&
           n == text.size();
}

unsigned long long SizeOf(HANDLE h) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(h, &size) ? static_cast<unsigned long long>(size.QuadPart) : 0;
}

// Whether path still names the file open in h: the same size, creation and
// last write times. A file moved away leaves the path missing or naming
// another file; a file deleted while open cannot be looked at by path.
bool StillAt(HANDLE h, const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA byPath{};
    LARGE_INTEGER size{};
    FILETIME created{}, written{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &byPath) ||
        !GetFileSizeEx(h, &size) || !GetFileTime(h, &created, nullptr, &written))
        return false;
    const auto same = [](const FILETIME& a, const FILETIME& b) {
        return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
    };
    return byPath.nFileSizeLow == static_cast<DWORD>(size.QuadPart) &&
           byPath.nFileSizeHigh == static_cast<DWORD>(size.QuadPart >> 32) &&
           same(byPath.ftCreationTime, created) && same(byPath.ftLastWriteTime, written);
}

// Cuts the file at nKeep, unless it is no longer nSize long (another
// program appended meanwhile: what it wrote stays).
bool CutFile(const std::wstring& path, unsigned long long nSize, unsigned long long nKeep) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(nKeep);
    const bool ok =
        SizeOf(h) == nSize && SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    return ok;
}

// How every run id of this process begins: its start time and its id, in hex.
std::string ProcessRunPrefix() {
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    char buf[48];
    snprintf(buf, sizeof(buf), "%08lX%08lX-%lX", static_cast<unsigned long>(created.dwHighDateTime),
             static_cast<unsigned long>(created.dwLowDateTime),
             static_cast<unsigned long>(GetCurrentProcessId()));
    return buf;
}

// Page counts that never come are not waited for without end.
constexpr size_t kMaxCounting = 1000;
} // namespace

std::wstring CJobHistory::DefaultFolder() {
    wchar_t dir[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, dir)))
        return L"";
    return std::wstring(dir) + L"\\Tolvar\\Morvane";
}

CJobHistory::Core::Core(std::wstring folder_, unsigned long long nRotateBytes_)
    : folder(std::move(folder_)), nRotateBytes(nRotateBytes_), runPrefix(ProcessRunPrefix()) {}

CJobHistory::CJobHistory(std::wstring folder, unsigned long long nRotateBytes)
    : m_core(std::make_shared<Core>(std::move(folder), nRotateBytes)) {
    // The thread keeps the state it works on alive, also past the store.
    std::shared_ptr<Core> core = m_core;
    m_writer = std::thread([core] {
        core->WriterLoop();
        std::lock_guard<CSlimMutex> lock(core->append);
        core->bWriterEnded = true;
        core->wake.notify_all();
    });
}

CJobHistory::~CJobHistory() {
    Close();
}

void CJobHistory::Record(const CHistoryEntry& entry) {
    Core& c = *m_core;
    std::lock_guard<CSlimMutex> lock(c.append);
    if (!entry.pageToken) {
        c.QueueLocked(entry);
        return;
    }
    CHistoryEntry first = entry;
    first.run = c.runPrefix + "-" + std::to_string(entry.pageToken);
    if (c.counting.size() >= kMaxCounting)
        c.counting.erase(c.counting.begin());
    c.counting[entry.pageToken] = first;
    c.QueueLocked(std::move(first));
}

void CJobHistory::SetPages(unsigned long nToken, std::optional<unsigned long> pages) {
    Core& c = *m_core;
    std::lock_guard<CSlimMutex> lock(c.append);
    const auto it = c.counting.find(nToken);
    if (it == c.counting.end())
        return;
    CHistoryEntry line = std::move(it->second);
    c.counting.erase(it);
    if (!pages)
        return;
    line.time = LocalTimeStamp();
    line.copiesAsked = line.copiesSent = 0;
    line.result = ResultPagesCounted();
    line.pages = std::to_string(*pages);
    c.QueueLocked(std::move(line));
}

void CJobHistory::Core::QueueLocked(CHistoryEntry entry) {
    entry.pageToken = 0;
    entries.push_back(std::move(entry));
    wake.notify_all();
    if (hListener)
        PostMessageA(hListener, nListenerMessage, 0, 0);
}

void CJobHistory::Close() {
    Core& c = *m_core;
    if (!m_writer.joinable())
        return;
    bool bEnded = false;
    {
        std::unique_lock<CSlimMutex> lock(c.append);
        c.bClosing = true;
        c.wake.notify_all();
        bEnded = c.wake.wait_for(lock, kCloseWaitMs, [&] { return c.bWriterEnded; });
    }
    if (bEnded) {
        m_writer.join();
        return;
    }
    // The writer hangs in a file call: it ends on its own, on state of its
    // own, and tells its owner nothing more (unless a call is in progress,
    // which the handler's rule keeps short).
    m_writer.detach();
    c.bGivenUp = true;
    std::unique_lock<std::mutex> tell(c.tell, std::try_to_lock);
    if (tell.owns_lock())
        c.onFailure = nullptr;
}

void CJobHistory::SetListener(HWND hWnd, UINT nMessage) {
    std::lock_guard<CSlimMutex> lock(m_core->append);
    m_core->hListener = hWnd;
    m_core->nListenerMessage = nMessage;
}

void CJobHistory::SetFailureHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard<std::mutex> tell(m_core->tell);
    m_core->onFailure = std::move(handler);
}

void CJobHistory::Core::WriterLoop() {
    // The file, open from one batch to the next while entries keep coming.
    HANDLE hFile = INVALID_HANDLE_VALUE;
    const auto letGo = [&] {
        if (hFile == INVALID_HANDLE_VALUE)
            return;
        std::lock_guard<std::mutex> lock(file);
        CloseHandle(hFile);
        hFile = INVALID_HANDLE_VALUE;
    };
    for (;;) {
        std::vector<CHistoryEntry> batch;
        size_t nBatchEnd = 0;
        {
            std::unique_lock<CSlimMutex> lock(append);
            const auto end = [&] { return nBase + entries.size(); };
            const auto due = [&] { return bClosing || nTaken < end(); };
            if (hFile != INVALID_HANDLE_VALUE && !wake.wait_for(lock, kIdleOpenMs, due)) {
                lock.unlock();
                letGo();
                continue;
            }
            wake.wait(lock, due);
            if (nTaken == end()) {
                lock.unlock();
                letGo();
                return;
            }
            try {
                batch.assign(entries.begin() + static_cast<std::ptrdiff_t>(nTaken - nBase),
                             entries.end());
            } catch (...) {
                // No memory for the copy: these entries are given up on.
            }
            nTaken = nBatchEnd = end();
        }
        std::lock_guard<std::mutex> lock(file);
        WriteBatch(batch, hFile);
        nDone = nBatchEnd;
        // With no window listening, what is in the file (or given up on)
        // need not stay in memory: a window opened later reads the file.
        std::lock_guard<CSlimMutex> appendLock(append);
        if (!hListener && nDone > nBase) {
            entries.erase(entries.begin(),
                          entries.begin() + static_cast<std::ptrdiff_t>(nDone - nBase));
            nBase = nDone;
        }
    }
}

void CJobHistory::Core::WriteBatch(const std::vector<CHistoryEntry>& batch, HANDLE& h) {
    // The file left open by the last batch serves only while its path still
    // names it: one moved aside or deleted meanwhile is let go, and a new
    // one starts at the path.
    unsigned long long nSize = 0;
    if (h != INVALID_HANDLE_VALUE && !StillAt(h, FilePath())) {
        CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
    if (h != INVALID_HANDLE_VALUE)
        nSize = SizeOf(h);
    bool bFailed = false;
    for (const CHistoryEntry& entry : batch) {
        std::string reason;
        bool ok = false;
        // Anything thrown (no memory for the record) costs this entry only.
        try {
            ok = Append(h, nSize, EncodeCsvRecord(EntryFields(entry)), reason);
        } catch (const std::exception& e) {
            reason = e.what();
        } catch (...) {
            reason = "unexpected error";
        }
        if (ok)
            continue;
        try {
            unwritten.push_back(entry);
        } catch (...) {
        }
        if (!bFailed) {
            bFailed = true;
            TellFailure(reason);
        }
    }
    // One flush for what came together: each entry went out whole with
    // its own write already.
    if (h != INVALID_HANDLE_VALUE)
        FlushFileBuffers(h);
}

void CJobHistory::Core::TellFailure(const std::string& reason) {
    if (bFailureTold)
        return;
    std::lock_guard<std::mutex> lock(tell);
    if (!onFailure || bGivenUp)
        return;
    bFailureTold = true;
    try {
        onFailure(reason);
    } catch (...) {
        // The owner's trouble is not the writer's end.
    }
}

bool CJobHistory::Core::OpenFile(HANDLE& h, unsigned long long& nSize, std::string& reason) {
    if (folder.empty()) {
        reason = "no folder for the history";
        return false;
    }
    const std::wstring path = FilePath();
    // Append only: every write goes to the file's end as it is then,
    // whoever else appends. Others may read, append, move and delete it.
    const auto open = [&] {
        return CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    h = open();
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
        // The folder is made only when it is missing: making it costs more
        // than the entry.
        const int rc = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
        if (rc != ERROR_SUCCESS && rc != ERROR_ALREADY_EXISTS && rc != ERROR_FILE_EXISTS) {
            reason = Utf8(folder) + ": " + ErrorText(static_cast<DWORD>(rc));
            return false;
        }
        h = open();
    }
    if (h == INVALID_HANDLE_VALUE) {
        reason = Utf8(path) + ": " + ErrorText(GetLastError());
        return false;
    }
    nSize = SizeOf(h);
    bool ok = true;
    std::string last;
    if (nSize == 0) {
        ok = WriteAll(h, HistoryFileHeader());
    } else if (ReadAt(h, nSize - 1, 1, last) && last != "\n") {
        // The file does not end on a line end: a record of ours cut short
        // goes; any other end gets one, so the next record starts a line.
        const unsigned long long nFrom = nSize > kMaxTornTail ? nSize - kMaxTornTail : 0;
        std::string tail;
        if (ReadAt(h, nFrom, static_cast<size_t>(nSize - nFrom), tail)) {
            CTailRepair repair = RepairTornTail(tail, nFrom == 0);
            if (repair.keep < tail.size() && !CutFile(path, nSize, nFrom + repair.keep))
                repair.lineEnd = "\r\n";
            if (!repair.lineEnd.empty())
                ok = WriteAll(h, repair.lineEnd);
        }
    }
    if (!ok) {
        reason = Utf8(path) + ": " + ErrorText(GetLastError());
        CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        return false;
    }
    nSize = SizeOf(h);
    return true;
}

bool CJobHistory::Core::Append(HANDLE& h, unsigned long long& nSize, const std::string& record,
                               std::string& reason) {
    if (h == INVALID_HANDLE_VALUE && !OpenFile(h, nSize, reason))
        return false;
    if (nSize + record.size() > nRotateBytes && nSize > HistoryFileHeader().size()) {
        CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        if (!MoveFileExW(FilePath().c_str(), OldFilePath().c_str(), MOVEFILE_REPLACE_EXISTING)) {
            // Goes on in the full file rather than losing entries.
            TellFailure(Utf8(OldFilePath()) + ": " + ErrorText(GetLastError()));
        }
        if (!OpenFile(h, nSize, reason))
            return false;
    }
    if (!WriteAll(h, record)) {
        reason = Utf8(FilePath()) + ": " + ErrorText(GetLastError());
        // A part written is cut off again when the file is next opened.
        CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        return false;
    }
    nSize += record.size();
    return true;
}

std::vector<CHistoryEntry> CJobHistory::ReadAll(size_t& nSeen) {
    return m_core->ReadAll(nSeen);
}

std::function<std::vector<CHistoryEntry>(size_t&)> CJobHistory::Reader() {
    std::shared_ptr<Core> core = m_core;
    return [core](size_t& nSeen) { return core->ReadAll(nSeen); };
}

std::vector<CHistoryEntry> CJobHistory::Core::ReadAll(size_t& nSeen) {
    std::lock_guard<std::mutex> lock(file);
    std::vector<CHistoryEntry> all;
    std::string text;
    if (ReadWhole(OldFilePath(), text))
        all = DecodeHistoryLines(text);
    if (ReadWhole(FilePath(), text)) {
        std::vector<CHistoryEntry> recent = DecodeHistoryLines(text);
        all.insert(all.end(), std::make_move_iterator(recent.begin()),
                   std::make_move_iterator(recent.end()));
    }
    nSeen = nDone;
    std::lock_guard<CSlimMutex> appendLock(append);
    all.insert(all.end(), unwritten.begin(), unwritten.end());
    FoldPageLines(all);
    return all;
}

std::vector<CHistoryEntry> CJobHistory::EntriesSince(size_t& nSeen) {
    Core& c = *m_core;
    std::lock_guard<CSlimMutex> lock(c.append);
    std::vector<CHistoryEntry> added;
    const size_t from = std::max(nSeen, c.nBase) - c.nBase;
    if (from < c.entries.size())
        added.assign(c.entries.begin() + static_cast<std::ptrdiff_t>(from), c.entries.end());
    nSeen = c.nBase + c.entries.size();
    return added;
}
