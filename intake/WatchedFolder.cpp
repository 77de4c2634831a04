#include "intake/WatchedFolder.h"

#include "intake/PathCheck.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

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
    const DWORD a = GetFileAttributesW(PathCheck::Reachable(p).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// The file opened for reading with writers and deleters denied (nobody
// writes it, and it stays where it is while the handle is open), with the
// right to rename it; INVALID_HANDLE_VALUE when it does not open so.
HANDLE OpenSettled(const std::wstring& p) {
    return CreateFileW(PathCheck::Reachable(p).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Renames the open file to the target (never over another file).
DWORD RenameByHandle(HANDLE h, const std::wstring& target) {
    const std::wstring to = PathCheck::Reachable(target);
    const size_t cbName = to.size() * sizeof(wchar_t);
    std::vector<BYTE> buf(sizeof(FILE_RENAME_INFO) + cbName, 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buf.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(cbName);
    memcpy(info->FileName, to.c_str(), cbName);
    if (SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(buf.size())))
        return ERROR_SUCCESS;
    return GetLastError();
}

bool EndsWithNoCase(const std::wstring& s, const wchar_t* tail) {
    const size_t n = wcslen(tail);
    return s.size() >= n && CompareStringOrdinal(s.c_str() + s.size() - n, static_cast<int>(n),
                                                 tail, static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

std::wstring NameOf(const std::wstring& file) {
    const size_t slash = file.find_last_of(L"\\/");
    return slash == std::wstring::npos ? file : file.substr(slash + 1);
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

std::wstring Canonical(const std::wstring& folder) {
    if (folder.empty())
        return L"";
    const DWORD n = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return L"";
    std::wstring full(n, L'\0');
    const DWORD got = GetFullPathNameW(folder.c_str(), n, full.data(), nullptr);
    if (got == 0 || got >= n)
        return L"";
    full.resize(got);
    // Short (8.3) names in their long form, where the folder is there.
    const DWORD nLong = GetLongPathNameW(full.c_str(), nullptr, 0);
    if (nLong > 0) {
        std::wstring longer(nLong, L'\0');
        const DWORD gotLong = GetLongPathNameW(full.c_str(), longer.data(), nLong);
        if (gotLong > 0 && gotLong < nLong) {
            longer.resize(gotLong);
            full = longer;
        }
    }
    return WithoutSlash(full);
}

std::wstring MoveUniqueWith(const std::wstring& name, const std::wstring& toFolder,
                            const TakenFn& isTaken, const TryMoveFn& tryMove) {
    const size_t dot = name.find_last_of(L'.');
    const std::wstring stem = dot == std::wstring::npos || dot == 0 ? name : name.substr(0, dot);
    const std::wstring ext = stem.size() == name.size() ? L"" : name.substr(stem.size());
    const std::wstring folder = WithoutSlash(toFolder);
    for (int n = 1; n < 100000; ++n) {
        const std::wstring target =
            folder + L"\\" + (n == 1 ? name : stem + L" (" + std::to_wstring(n) + L")" + ext);
        if (isTaken && isTaken(target))
            continue;
        const DWORD err = tryMove(target);
        if (err == ERROR_SUCCESS)
            return target;
        if (err != ERROR_ALREADY_EXISTS && err != ERROR_FILE_EXISTS)
            return L"";
    }
    return L"";
}

std::wstring MoveUnique(const std::wstring& file, const std::wstring& toFolder,
                        const TakenFn& isTaken) {
    CreateDirectoryW(PathCheck::Reachable(toFolder).c_str(), nullptr);
    const std::wstring from = PathCheck::Reachable(file);
    return MoveUniqueWith(NameOf(file), toFolder, isTaken, [&](const std::wstring& target) {
        // Without MOVEFILE_REPLACE_EXISTING: a name taken meanwhile fails
        // the move, never replaces the other file.
        if (MoveFileExW(from.c_str(), PathCheck::Reachable(target).c_str(), 0))
            return static_cast<DWORD>(ERROR_SUCCESS);
        return GetLastError();
    });
}

bool IsJobEntry(DWORD dwAttributes, const wchar_t* pszName) {
    if (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
        return false;
    const std::wstring name = pszName ? pszName : L"";
    return !name.empty() && !EndsWithNoCase(name, L".tmp") && !EndsWithNoCase(name, L".part") &&
           name.back() != L'~';
}

std::vector<std::wstring> FilesOf(const std::wstring& folder) {
    struct Entry {
        std::wstring path;
        FILETIME written;
    };
    std::vector<Entry> entries;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(PathCheck::Reachable(WithoutSlash(folder) + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (WatchedFolder::IsJobEntry(fd.dwFileAttributes, fd.cFileName))
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

bool SamePath(const std::wstring& a, const std::wstring& b) {
    const std::wstring pa = Plain(a), pb = Plain(b);
    return CompareStringOrdinal(pa.c_str(), static_cast<int>(pa.size()), pb.c_str(),
                                static_cast<int>(pb.size()), TRUE) == CSTR_EQUAL;
}

std::wstring FromAnsi(const CString& path) {
    return Wide(path);
}

StartPlan PlanStart(const std::vector<std::wstring>& jobPaths,
                    const std::vector<std::wstring>& queuedFiles, const TakenFn& isDone) {
    // Compared in one form: upper case, without the long-path prefix.
    auto key = [](const std::wstring& p) {
        std::wstring k = Plain(p);
        CharUpperBuffW(k.data(), static_cast<DWORD>(k.size()));
        return k;
    };
    StartPlan plan;
    std::unordered_set<std::wstring> named;
    for (size_t i = 0; i < jobPaths.size(); ++i) {
        if (isDone && isDone(jobPaths[i]))
            plan.jobsToDrop.push_back(i);
        else
            named.insert(key(jobPaths[i]));
    }
    for (const std::wstring& file : queuedFiles) {
        if (!named.count(key(file)) && !(isDone && isDone(file)))
            plan.toQueue.push_back(file);
    }
    return plan;
}

} // namespace WatchedFolder

CFolderWatcher::CFolderWatcher(HWND hNotify, std::unique_ptr<IDoneJournal> journal)
    : m_hNotify(hNotify),
      m_Done(journal ? std::move(journal) : MakeRegistryDoneJournal(), hNotify) {}

void CFolderWatcher::Configure(const CWatchedFolderSetup& setup) {
    Stop();
    {
        CLock lock(m_Lock);
        m_Setup = setup;
    }
    m_Settle.Clear();
    if (!setup.m_bEnabled || setup.m_strFolder.empty())
        return;
    m_hStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
    if (m_hThread)
        SetThreadPriority(m_hThread, THREAD_PRIORITY_BELOW_NORMAL);
}

bool CFolderWatcher::Stop(DWORD nWaitMs) {
    if (m_hThread) {
        SetEvent(m_hStop);
        if (WaitForSingleObject(m_hThread, nWaitMs) != WAIT_OBJECT_0)
            return false;
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    if (m_hStop) {
        CloseHandle(m_hStop);
        m_hStop = nullptr;
    }
    return true;
}

CWatchedFolderSetup CFolderWatcher::GetSetup() const {
    CLock lock(m_Lock);
    return m_Setup;
}

std::vector<std::wstring> CFolderWatcher::TakeArrived() {
    CLock lock(m_Lock);
    std::vector<std::wstring> files(m_Arrived.begin(), m_Arrived.end());
    m_Arrived.clear();
    m_bArrivedPosted = false;
    return files;
}

void CFolderWatcher::Deliver(const std::wstring& path) {
    {
        CLock lock(m_Lock);
        m_Arrived.push_back(path);
    }
    PostArrived();
}

bool CFolderWatcher::PostArrived() {
    CLock lock(m_Lock);
    if (m_bArrivedPosted || m_Arrived.empty())
        return true;
    // One message while the queue has files: a burst never fills the
    // window's message queue, and a post that failed is made again at
    // the next pass.
    m_bArrivedPosted = PostMessageW(m_hNotify, kMsgFile, 0, 0) != FALSE;
    return m_bArrivedPosted;
}

void CFolderWatcher::JobDone(const std::wstring& path) {
    const CWatchedFolderSetup setup = GetSetup();
    if (setup.m_strFolder.empty() ||
        !WatchedFolder::IsIn(path,
                             WatchedFolder::SubFolder(setup.m_strFolder, WatchedFolder::kQueued)))
        return;
    m_Done.Finish(path, setup.m_bDeleteWhenDone
                            ? std::wstring()
                            : WatchedFolder::SubFolder(setup.m_strFolder, WatchedFolder::kPrinted));
}

bool CFolderWatcher::JobRemoved(const std::wstring& path) {
    const CWatchedFolderSetup setup = GetSetup();
    if (setup.m_strFolder.empty() ||
        !WatchedFolder::IsIn(path,
                             WatchedFolder::SubFolder(setup.m_strFolder, WatchedFolder::kQueued)))
        return false;
    m_Done.Finish(path, WatchedFolder::SubFolder(setup.m_strFolder, WatchedFolder::kPrinted));
    return true;
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
            hChange = FindFirstChangeNotificationW(
                PathCheck::Reachable(folder).c_str(), FALSE,
                FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                    FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES);
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
            m_Settle.Clear();
            PostMessageW(m_hNotify, kMsgState, 1, 0);
        }
        // The folder's own handle is not told when the folder itself is
        // renamed or deleted: its parent is watched for that. Without a
        // parent to watch (a share's root), the folder is looked for now
        // and then instead.
        HANDLE hParent = INVALID_HANDLE_VALUE;
        const size_t slash = folder.find_last_of(L'\\');
        if (slash != std::wstring::npos && slash > 2)
            hParent =
                FindFirstChangeNotificationW(PathCheck::Reachable(folder.substr(0, slash)).c_str(),
                                             FALSE, FILE_NOTIFY_CHANGE_DIR_NAME);
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
    CreateDirectoryW(PathCheck::Reachable(queued).c_str(), nullptr);
    const ULONGLONG now = GetTickCount64();
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(PathCheck::Reachable(folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return INFINITE;
    // Any change is a chance for a done file that could not be moved.
    m_Done.Poke();
    std::vector<CSettleTracker::Entry> listing;
    do {
        if (!WatchedFolder::IsJobEntry(fd.dwFileAttributes, fd.cFileName))
            continue;
        const ULONGLONG size = (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        listing.push_back({fd.cFileName, size, fd.ftLastWriteTime});
    } while (FindNextFileW(h, &fd));
    FindClose(h);

    // In arrival order; a file that cannot be taken yet holds back none
    // behind it (each is queued when it is complete).
    for (const std::wstring& name : m_Settle.Look(listing, now, setup.m_nSettleMs)) {
        // The look and the move through one handle that denies writers:
        // nobody can write between them.
        HANDLE hFile = OpenSettled(folder + L"\\" + name);
        if (hFile == INVALID_HANDLE_VALUE)
            continue;
        const std::wstring moved = WatchedFolder::MoveUniqueWith(
            name, queued, [this](const std::wstring& p) { return m_Done.IsTaken(p); },
            [hFile](const std::wstring& target) { return RenameByHandle(hFile, target); });
        CloseHandle(hFile);
        if (moved.empty())
            continue;
        m_Settle.Taken(name);
        Deliver(moved);
    }
    DWORD wait = m_Settle.NextDue(now, setup.m_nSettleMs);
    // Files the window was not told of are told at the next pass, soon.
    if (!PostArrived())
        wait = std::min<DWORD>(wait, 500);
    return wait;
}

std::vector<std::wstring> CSettleTracker::Look(const std::vector<Entry>& listing, ULONGLONG now,
                                               DWORD nSettleMs) {
    std::unordered_map<std::wstring, size_t> known;
    for (size_t i = 0; i < m_Seen.size(); ++i)
        known.emplace(m_Seen[i].name, i);
    std::vector<Seen> next, fresh;
    for (const Entry& e : listing) {
        const auto found = known.find(e.name);
        if (found == known.end()) {
            fresh.push_back({e.name, e.size, e.written, now, 0});
            continue;
        }
        Seen s = m_Seen[found->second];
        // Any change starts the rest again.
        if (s.size != e.size || CompareFileTime(&s.written, &e.written) != 0) {
            s.size = e.size;
            s.written = e.written;
            s.since = now;
        }
        next.push_back(s);
    }
    // Files new to this look arrive in the order they were written.
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
    m_Seen.swap(next);
    std::vector<std::wstring> ready;
    for (const Seen& s : m_Seen) {
        if (now - s.since >= nSettleMs)
            ready.push_back(s.name);
    }
    return ready;
}

void CSettleTracker::Taken(const std::wstring& name) {
    m_Seen.erase(
        std::remove_if(m_Seen.begin(), m_Seen.end(), [&](const Seen& s) { return s.name == name; }),
        m_Seen.end());
}

DWORD CSettleTracker::NextDue(ULONGLONG now, DWORD nSettleMs) const {
    DWORD wait = INFINITE;
    for (const Seen& s : m_Seen) {
        const ULONGLONG rested = now - s.since;
        // One that rested but could not be taken is looked at again after
        // another settle time.
        const DWORD left = rested >= nSettleMs ? nSettleMs : static_cast<DWORD>(nSettleMs - rested);
        wait = std::min(wait, left);
    }
    return wait;
}
