#include "app/WatchedFolder.h"

#include <algorithm>
#include <unordered_map>

namespace {
const char kSection[] = "WatchedFolder";

std::wstring Wide(const CString& s) {
    const int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s, -1, w.data(), n);
    w.resize(w.size() - 1);
    return w;
}

CString Narrow(const std::wstring& w) {
    const int n = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, s.data(), n, nullptr, nullptr);
    return CString(s.c_str());
}

// Without the prefix that lifts the path length limit, for comparing.
std::wstring Plain(const std::wstring& p) {
    if (p.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\\\" + p.substr(8);
    if (p.compare(0, 4, L"\\\\?\\") == 0)
        return p.substr(4);
    return p;
}

std::wstring WithoutSlash(std::wstring p) {
    while (p.size() > 3 && (p.back() == L'\\' || p.back() == L'/'))
        p.pop_back();
    return p;
}

bool IsFolder(const std::wstring& p) {
    const DWORD a = GetFileAttributesW(p.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether the file opens for reading with writers denied: nobody writes it.
bool Readable(const std::wstring& p) {
    HANDLE h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}
} // namespace

BOOL CWatchedFolderSetup::Save() {
    CKeepOpen keep(*this, kSection, HKEY_LOCAL_MACHINE);
    BOOL ok = WriteDWORD(kSection, "Enabled", m_bEnabled ? 1 : 0, HKEY_LOCAL_MACHINE);
    ok &= WriteString(kSection, "Folder", Narrow(m_strFolder), HKEY_LOCAL_MACHINE);
    ok &= WriteDWORD(kSection, "Copies", static_cast<DWORD>(m_nCopies), HKEY_LOCAL_MACHINE);
    ok &= WriteDWORD(kSection, "WhenDone", m_bDeleteWhenDone ? 1 : 0, HKEY_LOCAL_MACHINE);
    return ok;
}

BOOL CWatchedFolderSetup::Load() {
    CKeepOpen keep(*this, kSection, HKEY_LOCAL_MACHINE);
    m_bEnabled = ReadDWORD(kSection, "Enabled", 0, HKEY_LOCAL_MACHINE) != 0;
    m_strFolder = Wide(ReadString(kSection, "Folder", "", HKEY_LOCAL_MACHINE));
    const DWORD copies = ReadDWORD(kSection, "Copies", 1, HKEY_LOCAL_MACHINE);
    m_nCopies =
        copies >= 1 && copies <= static_cast<DWORD>(kMaxCopies) ? static_cast<int>(copies) : 1;
    m_bDeleteWhenDone = ReadDWORD(kSection, "WhenDone", 0, HKEY_LOCAL_MACHINE) == 1;
    // Not in the dialog: how long a file must rest, 100 ms to a minute.
    const DWORD settle = ReadDWORD(kSection, "SettleMs", kDefaultSettleMs, HKEY_LOCAL_MACHINE);
    m_nSettleMs = std::min<DWORD>(std::max<DWORD>(settle, 100), 60000);
    if (m_strFolder.empty())
        m_bEnabled = false;
    return TRUE;
}

namespace WatchedFolder {

std::wstring SubFolder(const std::wstring& folder, const wchar_t* sub) {
    return WithoutSlash(folder) + L"\\" + sub;
}

std::wstring MoveUnique(const std::wstring& file, const std::wstring& toFolder) {
    CreateDirectoryW(toFolder.c_str(), nullptr);
    const size_t slash = file.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? file : file.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    const std::wstring stem = dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
    const std::wstring ext = stem.size() == name.size() ? L"" : name.substr(stem.size());
    for (int n = 1; n < 100000; ++n) {
        const std::wstring target =
            toFolder + L"\\" + (n == 1 ? name : stem + L" (" + std::to_wstring(n) + L")" + ext);
        // Without MOVEFILE_REPLACE_EXISTING: a name taken meanwhile fails
        // the move, never replaces the other file.
        if (MoveFileExW(file.c_str(), target.c_str(), 0))
            return target;
        const DWORD err = GetLastError();
        if (err != ERROR_ALREADY_EXISTS && err != ERROR_FILE_EXISTS)
            return L"";
    }
    return L"";
}

bool IsJobEntry(DWORD dwAttributes) {
    return (dwAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
}

std::vector<std::wstring> FilesOf(const std::wstring& folder) {
    struct Entry {
        std::wstring path;
        FILETIME written;
    };
    std::vector<Entry> entries;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((WithoutSlash(folder) + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (WatchedFolder::IsJobEntry(fd.dwFileAttributes))
                entries.push_back(
                    {WithoutSlash(folder) + L"\\" + fd.cFileName, fd.ftLastWriteTime});
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const LONG c = CompareFileTime(&a.written, &b.written);
        return c != 0 ? c < 0 : a.path < b.path;
    });
    std::vector<std::wstring> files;
    for (const Entry& e : entries)
        files.push_back(e.path);
    return files;
}

bool IsIn(const std::wstring& path, const std::wstring& folder) {
    const std::wstring p = Plain(path), f = WithoutSlash(Plain(folder));
    const size_t slash = p.find_last_of(L'\\');
    if (slash == std::wstring::npos || f.empty())
        return false;
    return CompareStringOrdinal(p.c_str(), static_cast<int>(slash), f.c_str(),
                                static_cast<int>(f.size()), TRUE) == CSTR_EQUAL;
}

std::wstring FromAnsi(const CString& path) {
    return Wide(path);
}

} // namespace WatchedFolder

void CFolderWatcher::Configure(const CWatchedFolderSetup& setup) {
    Stop();
    {
        CLock lock(m_Lock);
        m_Setup = setup;
    }
    m_Seen.clear();
    if (!setup.m_bEnabled || setup.m_strFolder.empty())
        return;
    m_hStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    if (m_hThread)
        SetThreadPriority(m_hThread, THREAD_PRIORITY_BELOW_NORMAL);
}

void CFolderWatcher::Stop() {
    if (m_hThread) {
        SetEvent(m_hStop);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    if (m_hStop) {
        CloseHandle(m_hStop);
        m_hStop = nullptr;
    }
}

CWatchedFolderSetup CFolderWatcher::GetSetup() const {
    CLock lock(m_Lock);
    return m_Setup;
}

void CFolderWatcher::JobDone(const std::wstring& path) {
    const CWatchedFolderSetup setup = GetSetup();
    if (setup.m_strFolder.empty() ||
        !WatchedFolder::IsIn(path,
                             WatchedFolder::SubFolder(setup.m_strFolder, WatchedFolder::kQueued)))
        return;
    if (setup.m_bDeleteWhenDone)
        DeleteFileW(path.c_str());
    else
        WatchedFolder::MoveUnique(
            path, WatchedFolder::SubFolder(setup.m_strFolder, WatchedFolder::kPrinted));
}

void CFolderWatcher::JobRemoved(const std::wstring& path) {
    const CWatchedFolderSetup setup = GetSetup();
    if (!setup.m_strFolder.empty() &&
        WatchedFolder::IsIn(path,
                            WatchedFolder::SubFolder(setup.m_strFolder, WatchedFolder::kQueued)))
        WatchedFolder::MoveUnique(
            path, WatchedFolder::SubFolder(setup.m_strFolder, WatchedFolder::kPrinted));
}

DWORD WINAPI CFolderWatcher::ThreadProc(LPVOID p) {
    static_cast<CFolderWatcher*>(p)->Run();
    return 0;
}

void CFolderWatcher::Run() {
    const CWatchedFolderSetup setup = GetSetup();
    const std::wstring folder = WithoutSlash(setup.m_strFolder);
    // Reported unreachable, so far; the window is told once, and once more
    // when it is back.
    bool bLost = false;
    // While the folder is away nothing can notify: look for it again now
    // and then (its return is the only thing waited for then).
    const DWORD kLostRetryMs = 2000;
    for (;;) {
        HANDLE hChange = INVALID_HANDLE_VALUE;
        if (IsFolder(folder))
            hChange = FindFirstChangeNotificationW(folder.c_str(), FALSE,
                                                   FILE_NOTIFY_CHANGE_FILE_NAME |
                                                       FILE_NOTIFY_CHANGE_SIZE |
                                                       FILE_NOTIFY_CHANGE_LAST_WRITE);
        if (hChange == INVALID_HANDLE_VALUE) {
            if (!bLost) {
                bLost = true;
                PostMessageW(m_hNotify, kMsgState, 0, 0);
            }
            if (WaitForSingleObject(m_hStop, kLostRetryMs) == WAIT_OBJECT_0)
                return;
            continue;
        }
        if (bLost) {
            bLost = false;
            m_Seen.clear();
            PostMessageW(m_hNotify, kMsgState, 1, 0);
        }
        // The folder's own handle is not told when the folder itself is
        // renamed or deleted: its parent is watched for that. Without a
        // parent to watch (a share's root), the folder is looked for now
        // and then instead.
        HANDLE hParent = INVALID_HANDLE_VALUE;
        const size_t slash = folder.find_last_of(L'\\');
        if (slash != std::wstring::npos && slash > 2)
            hParent = FindFirstChangeNotificationW(folder.substr(0, slash).c_str(), FALSE,
                                                   FILE_NOTIFY_CHANGE_DIR_NAME);
        // A full scan at the start of every watch: what arrived while
        // nobody watched, or while the folder was away.
        DWORD wait = Scan();
        for (;;) {
            // Gone: since the last look, or before the parent's watch began
            // (a rename then reaches neither watch), so looked for at once.
            if (!IsFolder(folder))
                break;
            HANDLE handles[3] = {m_hStop, hChange, hParent};
            const DWORD n = hParent == INVALID_HANDLE_VALUE ? 2 : 3;
            const DWORD timeout = n == 2 ? std::min<DWORD>(wait, kLostRetryMs) : wait;
            const DWORD r = WaitForMultipleObjects(n, handles, FALSE, timeout);
            if (r == WAIT_OBJECT_0)
                break;
            if (r == WAIT_OBJECT_0 + 1) {
                // Any change, an overflow included, means a full scan.
                if (!FindNextChangeNotification(hChange))
                    break;
            } else if (r == WAIT_OBJECT_0 + 2) {
                if (!FindNextChangeNotification(hParent))
                    break;
            } else if (r != WAIT_TIMEOUT) {
                break;
            }
            wait = Scan();
        }
        if (hParent != INVALID_HANDLE_VALUE)
            FindCloseChangeNotification(hParent);
        FindCloseChangeNotification(hChange);
        if (WaitForSingleObject(m_hStop, 0) == WAIT_OBJECT_0)
            return;
    }
}

DWORD CFolderWatcher::Scan() {
    const CWatchedFolderSetup setup = GetSetup();
    const std::wstring folder = WithoutSlash(setup.m_strFolder);
    const std::wstring queued = WatchedFolder::SubFolder(folder, WatchedFolder::kQueued);
    const ULONGLONG now = GetTickCount64();
    std::vector<Seen> next;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return INFINITE;
    std::vector<Seen> fresh;
    std::unordered_map<std::wstring, size_t> known;
    for (size_t i = 0; i < m_Seen.size(); ++i)
        known.emplace(m_Seen[i].name, i);
    do {
        if (!WatchedFolder::IsJobEntry(fd.dwFileAttributes))
            continue;
        const ULONGLONG size = (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        const auto found = known.find(fd.cFileName);
        if (found == known.end()) {
            fresh.push_back({fd.cFileName, size, fd.ftLastWriteTime, now, 0});
        } else {
            Seen s = m_Seen[found->second];
            if (s.size != size || CompareFileTime(&s.written, &fd.ftLastWriteTime) != 0) {
                s.size = size;
                s.written = fd.ftLastWriteTime;
                s.since = now;
            }
            next.push_back(s);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    // Files new to this pass arrive in the order they were written.
    std::stable_sort(fresh.begin(), fresh.end(), [](const Seen& a, const Seen& b) {
        const LONG c = CompareFileTime(&a.written, &b.written);
        return c != 0 ? c < 0 : a.name < b.name;
    });
    for (Seen& s : fresh) {
        s.order = ++m_nArrivals;
        next.push_back(s);
    }
    std::sort(next.begin(), next.end(),
              [](const Seen& a, const Seen& b) { return a.order < b.order; });

    // In arrival order; a file that is not ready holds back none behind it
    // (each is queued when it is complete).
    DWORD wait = INFINITE;
    std::vector<Seen> keep;
    for (const Seen& s : next) {
        const ULONGLONG rested = now - s.since;
        const std::wstring path = folder + L"\\" + s.name;
        if (rested >= setup.m_nSettleMs && Readable(path)) {
            const std::wstring moved = WatchedFolder::MoveUnique(path, queued);
            if (!moved.empty()) {
                auto* p = new std::wstring(moved);
                if (!PostMessageW(m_hNotify, kMsgFile, 0, reinterpret_cast<LPARAM>(p)))
                    delete p; // stays in "Queued": the next start queues it
                continue;
            }
        }
        keep.push_back(s);
        const DWORD left = rested >= setup.m_nSettleMs
                               ? setup.m_nSettleMs
                               : static_cast<DWORD>(setup.m_nSettleMs - rested);
        wait = std::min(wait, left);
    }
    m_Seen.swap(keep);
    return wait;
}
