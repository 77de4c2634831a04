#include "intake/DoneFiles.h"

#include "framework/LittleEndian.h"

#include "intake/PathCheck.h"
#include "intake/WatchedFolder.h"
#include "settings/RegistrySettings.h"

#include <algorithm>

namespace {

// A file that could not be finished is tried again after this long, also
// when nothing pokes.
constexpr DWORD kRetryMs = 30000;
// The journal's first bytes: "MDF" and the layout's number.
constexpr BYTE kMagic[4] = {'M', 'D', 'F', 1};

void PutText(std::vector<BYTE>& out, const std::wstring& s) {
    PutLE(out, s.size(), 4);
    for (wchar_t c : s) {
        out.push_back(static_cast<BYTE>(c & 0xFF));
        out.push_back(static_cast<BYTE>(c >> 8));
    }
}

struct Reader {
    const BYTE* p;
    size_t left;
    bool U32(DWORD& v) {
        if (left < 4)
            return false;
        v = static_cast<DWORD>(GetLE(p, 4));
        p += 4;
        left -= 4;
        return true;
    }
    bool Text(std::wstring& s) {
        DWORD n = 0;
        if (!U32(n) || n > left / 2)
            return false;
        s.resize(n);
        for (DWORD i = 0; i < n; ++i)
            s[i] = static_cast<wchar_t>(p[2 * i] | p[2 * i + 1] << 8);
        p += 2 * static_cast<size_t>(n);
        left -= 2 * static_cast<size_t>(n);
        return true;
    }
};

class CRegistryDoneJournal : public IDoneJournal, private CRegistrySettings {
public:
    bool Load(std::vector<BYTE>& data) override {
        if (ReadBinary(kSection, kValue, data, HKEY_LOCAL_MACHINE))
            return true;
        data.clear();
        return !ValueExists(kSection, kValue, HKEY_LOCAL_MACHINE);
    }
    bool Save(const std::vector<BYTE>& data) override {
        const BOOL written = data.empty()
                                 ? DeleteValue(kSection, kValue, HKEY_LOCAL_MACHINE)
                                 : WriteBinary(kSection, kValue, data.data(),
                                               static_cast<DWORD>(data.size()), HKEY_LOCAL_MACHINE);
        return written && Flush(kSection, HKEY_LOCAL_MACHINE);
    }

private:
    BOOL Save() override { return TRUE; }
    BOOL Load() override { return TRUE; }
    static constexpr char kSection[] = "WatchedFolder";
    static constexpr char kValue[] = "Done";
};

// Moves or deletes one file; true when it is no longer in "Queued".
bool FinishFile(const DoneFile& f) {
    const std::wstring path = PathCheck::Reachable(f.path);
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = GetLastError();
        // Gone (finished before a crash, or taken away): nothing to do. Any
        // other answer (a share away) is tried again.
        return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
    }
    if (f.printedFolder.empty())
        return DeleteFileW(path.c_str()) != FALSE;
    return !WatchedFolder::MoveUnique(f.path, f.printedFolder).empty();
}

} // namespace

std::unique_ptr<IDoneJournal> MakeRegistryDoneJournal() {
    return std::make_unique<CRegistryDoneJournal>();
}

struct CDoneFiles::Shared {
    mutable CCriticalSection lock;
    std::unique_ptr<IDoneJournal> journal;
    HWND hNotify = nullptr;
    std::vector<DoneFile> files;
    HANDLE hWake = nullptr;
    HANDLE hStop = nullptr;

    ~Shared() {
        if (hWake)
            CloseHandle(hWake);
        if (hStop)
            CloseHandle(hStop);
    }
    // Under the lock.
    bool Write() { return journal->Save(files.empty() ? std::vector<BYTE>() : Encode(files)); }
    size_t Stuck() const {
        CLock hold(lock);
        return files.size();
    }
    void Settle();
    void Run();
};

std::vector<BYTE> CDoneFiles::Encode(const std::vector<DoneFile>& files) {
    std::vector<BYTE> out(kMagic, kMagic + 4);
    PutLE(out, files.size(), 4);
    for (const DoneFile& f : files) {
        PutText(out, f.path);
        PutText(out, f.printedFolder);
        PutLE(out, f.bTold ? 1 : 0, 4);
    }
    return out;
}

bool CDoneFiles::Decode(const BYTE* p, size_t cb, std::vector<DoneFile>& files) {
    files.clear();
    if (!p || cb < 8 || !std::equal(kMagic, kMagic + 4, p))
        return false;
    Reader r{p + 4, cb - 4};
    DWORD n = 0;
    // Each record takes at least 12 bytes: a count past that is no journal.
    if (!r.U32(n) || n > r.left / 12)
        return false;
    std::vector<DoneFile> got(n);
    for (DoneFile& f : got) {
        DWORD told = 0;
        if (!r.Text(f.path) || f.path.empty() || !r.Text(f.printedFolder) || !r.U32(told))
            return false;
        f.bTold = told != 0;
    }
    if (r.left != 0)
        return false;
    files.swap(got);
    return true;
}

CDoneFiles::CDoneFiles(std::unique_ptr<IDoneJournal> journal, HWND hNotify)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->journal = std::move(journal);
    m_shared->hNotify = hNotify;
    m_shared->hWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_shared->hStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

CDoneFiles::~CDoneFiles() {
    Stop(5000);
}

void CDoneFiles::Load() {
    std::vector<BYTE> data;
    CLock hold(m_shared->lock);
    if (m_shared->journal->Load(data) && !data.empty())
        Decode(data.data(), data.size(), m_shared->files);
}

DWORD WINAPI CDoneFiles::ThreadProc(LPVOID p) {
    // The thread keeps the state alive: Stop may leave a thread stuck in a
    // file call behind.
    std::unique_ptr<std::shared_ptr<Shared>> shared(static_cast<std::shared_ptr<Shared>*>(p));
    (*shared)->Run();
    return 0;
}

void CDoneFiles::Start() {
    if (m_hThread || !m_shared->hWake || !m_shared->hStop)
        return;
    auto* p = new std::shared_ptr<Shared>(m_shared);
    m_hThread = CreateThread(nullptr, 0, ThreadProc, p, 0, nullptr);
    if (!m_hThread)
        delete p;
}

void CDoneFiles::Stop(DWORD nWaitMs) {
    if (!m_hThread)
        return;
    SetEvent(m_shared->hStop);
    WaitForSingleObject(m_hThread, nWaitMs);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
}

bool CDoneFiles::Finish(const std::wstring& path, const std::wstring& printedFolder) {
    bool written = true;
    {
        CLock hold(m_shared->lock);
        auto& files = m_shared->files;
        const bool known = std::any_of(files.begin(), files.end(), [&](const DoneFile& f) {
            return WatchedFolder::SamePath(f.path, path);
        });
        if (!known) {
            files.push_back({path, printedFolder, false});
            written = m_shared->Write();
        }
    }
    Poke();
    return written;
}

void CDoneFiles::Forget(const std::wstring& path) {
    CLock hold(m_shared->lock);
    auto& files = m_shared->files;
    const auto end = std::remove_if(files.begin(), files.end(), [&](const DoneFile& f) {
        return WatchedFolder::SamePath(f.path, path);
    });
    if (end == files.end())
        return;
    files.erase(end, files.end());
    m_shared->Write();
}

bool CDoneFiles::IsTaken(const std::wstring& path) const {
    CLock hold(m_shared->lock);
    const auto& files = m_shared->files;
    return std::any_of(files.begin(), files.end(),
                       [&](const DoneFile& f) { return WatchedFolder::SamePath(f.path, path); });
}

void CDoneFiles::Poke() {
    if (m_shared->hWake)
        SetEvent(m_shared->hWake);
}

size_t CDoneFiles::StuckCount() const {
    return m_shared->Stuck();
}

void CDoneFiles::Settle() {
    m_shared->Settle();
}

void CDoneFiles::Shared::Settle() {
    std::vector<DoneFile> todo;
    {
        CLock hold(lock);
        todo = files;
    }
    if (todo.empty())
        return;
    // The file work, without the lock: a share may keep a call for long.
    std::vector<std::wstring> finished;
    for (const DoneFile& f : todo) {
        if (FinishFile(f))
            finished.push_back(f.path);
    }
    size_t nNewlyStuck = 0, nStuck = 0;
    bool changed = false;
    {
        CLock hold(lock);
        const auto end = std::remove_if(files.begin(), files.end(), [&](const DoneFile& f) {
            return std::any_of(finished.begin(), finished.end(), [&](const std::wstring& p) {
                return WatchedFolder::SamePath(p, f.path);
            });
        });
        changed = end != files.end();
        files.erase(end, files.end());
        for (DoneFile& f : files) {
            if (f.bTold)
                continue;
            // Only the ones tried here: one recorded meanwhile gets its try.
            if (std::none_of(todo.begin(), todo.end(), [&](const DoneFile& t) {
                    return WatchedFolder::SamePath(t.path, f.path);
                }))
                continue;
            f.bTold = true;
            ++nNewlyStuck;
        }
        nStuck = files.size();
        if (changed || nNewlyStuck)
            Write();
    }
    if ((changed || nNewlyStuck) && hNotify)
        PostMessageW(hNotify, kMsgStuck, nStuck, nNewlyStuck);
}

void CDoneFiles::Shared::Run() {
    HANDLE handles[2] = {hStop, hWake};
    // What an earlier run could not finish is shown again (told before, so
    // not counted as new).
    Settle();
    if (const size_t nStuck = Stuck(); nStuck && hNotify)
        PostMessageW(hNotify, kMsgStuck, nStuck, 0);
    for (;;) {
        const DWORD r = WaitForMultipleObjects(2, handles, FALSE, Stuck() ? kRetryMs : INFINITE);
        if (r != WAIT_OBJECT_0 + 1 && r != WAIT_TIMEOUT)
            return;
        Settle();
    }
}
