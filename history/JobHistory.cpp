#include "history/JobHistory.h"

#include "framework/CodePage.h"

#include <shlobj.h>

#include <algorithm>

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

// A record cut short is normally a few hundred bytes; a longer tail without
// an end is not ours to cut, so it is only closed off.
constexpr size_t kMaxTornTail = 64 * 1024;
} // namespace

std::wstring CJobHistory::DefaultFolder() {
    wchar_t dir[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, dir)))
        return L"";
    return std::wstring(dir) + L"\\Tolvar\\Morvane";
}

CJobHistory::CJobHistory(std::wstring folder, unsigned long long nRotateBytes)
    : m_folder(std::move(folder)), m_nRotateBytes(nRotateBytes) {
    m_writer = std::thread([this] { WriterLoop(); });
}

CJobHistory::~CJobHistory() {
    Close();
}

void CJobHistory::Record(const CHistoryEntry& entry) {
    std::lock_guard<std::mutex> lock(m_append);
    if (entry.pageToken && !m_bClosing) {
        m_held[entry.pageToken] = entry;
        return;
    }
    QueueLocked(entry);
}

void CJobHistory::SetPages(unsigned long nToken, std::optional<unsigned long> pages) {
    std::lock_guard<std::mutex> lock(m_append);
    const auto it = m_held.find(nToken);
    if (it == m_held.end())
        return;
    CHistoryEntry entry = std::move(it->second);
    m_held.erase(it);
    if (pages)
        entry.pages = std::to_string(*pages);
    QueueLocked(entry);
}

void CJobHistory::QueueLocked(CHistoryEntry entry) {
    entry.pageToken = 0;
    m_entries.push_back(std::move(entry));
    m_wake.notify_one();
    if (m_hListener)
        PostMessageA(m_hListener, m_nListenerMessage, 0, 0);
}

void CJobHistory::Close() {
    {
        std::lock_guard<std::mutex> lock(m_append);
        // A count that has not come by now is not waited for.
        for (auto& held : m_held)
            QueueLocked(std::move(held.second));
        m_held.clear();
        m_bClosing = true;
        m_wake.notify_one();
    }
    if (m_writer.joinable())
        m_writer.join();
    std::lock_guard<std::mutex> file(m_file);
    CloseFile();
}

void CJobHistory::SetListener(HWND hWnd, UINT nMessage) {
    std::lock_guard<std::mutex> lock(m_append);
    m_hListener = hWnd;
    m_nListenerMessage = nMessage;
}

void CJobHistory::SetFailureHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard<std::mutex> file(m_file);
    m_onFailure = std::move(handler);
}

void CJobHistory::WriterLoop() {
    for (;;) {
        std::vector<CHistoryEntry> batch;
        {
            std::unique_lock<std::mutex> lock(m_append);
            const auto end = [&] { return m_nBase + m_entries.size(); };
            m_wake.wait(lock, [&] { return m_bClosing || m_nTaken < end(); });
            if (m_nTaken == end())
                return;
            batch.assign(m_entries.begin() + static_cast<std::ptrdiff_t>(m_nTaken - m_nBase),
                         m_entries.end());
            m_nTaken = end();
        }
        std::lock_guard<std::mutex> file(m_file);
        std::string reason;
        bool bFailed = false;
        for (const CHistoryEntry& entry : batch) {
            ++m_nDone;
            if (Append(EncodeCsvRecord(EntryFields(entry)), reason))
                continue;
            m_unwritten.push_back(entry);
            if (!bFailed) {
                bFailed = true;
                TellFailure(reason);
            }
        }
        // One flush for what came together: each entry went out whole with
        // its own write already.
        if (m_hFile != INVALID_HANDLE_VALUE)
            FlushFileBuffers(m_hFile);
        // With no window listening, what is in the file (or given up on)
        // need not stay in memory: a window opened later reads the file.
        std::lock_guard<std::mutex> lock(m_append);
        if (!m_hListener && m_nDone > m_nBase) {
            m_entries.erase(m_entries.begin(),
                            m_entries.begin() + static_cast<std::ptrdiff_t>(m_nDone - m_nBase));
            m_nBase = m_nDone;
        }
    }
}

void CJobHistory::TellFailure(const std::string& reason) {
    if (m_bFailureTold || !m_onFailure)
        return;
    m_bFailureTold = true;
    m_onFailure(reason);
}

bool CJobHistory::OpenFile(std::string& reason) {
    if (m_folder.empty()) {
        reason = "no folder for the history";
        return false;
    }
    const int rc = SHCreateDirectoryExW(nullptr, m_folder.c_str(), nullptr);
    if (rc != ERROR_SUCCESS && rc != ERROR_ALREADY_EXISTS && rc != ERROR_FILE_EXISTS) {
        reason = Utf8(m_folder) + ": " + ErrorText(static_cast<DWORD>(rc));
        return false;
    }
    const std::wstring path = FilePath();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        reason = Utf8(path) + ": " + ErrorText(GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    GetFileSizeEx(h, &size);
    unsigned long long nSize = static_cast<unsigned long long>(size.QuadPart);
    bool ok = true;
    if (nSize == 0) {
        const std::string header = HistoryFileHeader();
        DWORD n = 0;
        ok = WriteFile(h, header.data(), static_cast<DWORD>(header.size()), &n, nullptr) &&
             n == header.size();
        nSize = n;
    } else {
        // The last byte tells whether the file ends on a whole record; if
        // not, the record cut short goes, so the next starts on a line of
        // its own.
        char last = 0;
        DWORD n = 0;
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(nSize - 1);
        SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
        if (ReadFile(h, &last, 1, &n, nullptr) && n == 1 && last != '\n') {
            std::string text;
            ReadWhole(path, text);
            const size_t whole = CsvWholeLength(text);
            if (text.size() == nSize && nSize - whole <= kMaxTornTail) {
                at.QuadPart = static_cast<LONGLONG>(whole);
                ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
                nSize = whole;
            } else {
                // Not ours to cut: closed off (a quote left open is closed).
                std::string close = "\"\r\n";
                DWORD w = 0;
                ok = WriteFile(h, close.data(), 3, &w, nullptr) && w == 3;
                nSize += w;
            }
        }
    }
    if (!ok) {
        reason = Utf8(path) + ": " + ErrorText(GetLastError());
        CloseHandle(h);
        return false;
    }
    m_hFile = h;
    m_nSize = nSize;
    return true;
}

void CJobHistory::CloseFile() {
    if (m_hFile != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}

bool CJobHistory::Append(const std::string& record, std::string& reason) {
    if (m_hFile == INVALID_HANDLE_VALUE && !OpenFile(reason))
        return false;
    if (m_nSize + record.size() > m_nRotateBytes && m_nSize > HistoryFileHeader().size()) {
        CloseFile();
        if (!MoveFileExW(FilePath().c_str(), OldFilePath().c_str(), MOVEFILE_REPLACE_EXISTING)) {
            // Goes on in the full file rather than losing entries.
            TellFailure(Utf8(OldFilePath()) + ": " + ErrorText(GetLastError()));
        }
        if (!OpenFile(reason))
            return false;
    }
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(m_nSize);
    DWORD n = 0;
    if (!SetFilePointerEx(m_hFile, end, nullptr, FILE_BEGIN) ||
        !WriteFile(m_hFile, record.data(), static_cast<DWORD>(record.size()), &n, nullptr) ||
        n != record.size()) {
        reason = Utf8(FilePath()) + ": " + ErrorText(GetLastError());
        // A part written is cut off again when the file is next opened.
        CloseFile();
        return false;
    }
    m_nSize += n;
    return true;
}

std::vector<CHistoryEntry> CJobHistory::ReadAll(size_t& nSeen) {
    std::lock_guard<std::mutex> file(m_file);
    std::vector<CHistoryEntry> entries;
    std::string text;
    if (ReadWhole(OldFilePath(), text))
        entries = DecodeHistory(text);
    if (ReadWhole(FilePath(), text)) {
        std::vector<CHistoryEntry> recent = DecodeHistory(text);
        entries.insert(entries.end(), std::make_move_iterator(recent.begin()),
                       std::make_move_iterator(recent.end()));
    }
    nSeen = m_nDone;
    std::lock_guard<std::mutex> lock(m_append);
    entries.insert(entries.end(), m_unwritten.begin(), m_unwritten.end());
    return entries;
}

std::vector<CHistoryEntry> CJobHistory::EntriesSince(size_t& nSeen) {
    std::lock_guard<std::mutex> lock(m_append);
    std::vector<CHistoryEntry> entries;
    const size_t from = std::max(nSeen, m_nBase) - m_nBase;
    if (from < m_entries.size())
        entries.assign(m_entries.begin() + static_cast<std::ptrdiff_t>(from), m_entries.end());
    nSeen = m_nBase + m_entries.size();
    return entries;
}
