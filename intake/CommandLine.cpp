#include "intake/CommandLine.h"

#include "framework/LittleEndian.h"

#include "queue/JobList.h"
#include "intake/WindowTag.h"
#include "queue/StoreOwner.h"

#include <shellapi.h>

#include <cwchar>

namespace {

bool SwitchIs(const std::wstring& arg, const wchar_t* name) {
    return _wcsicmp(arg.c_str(), name) == 0;
}

// A count of copies: decimal digits only, within range.
bool ParseCopies(const std::wstring& text, int& nCopies) {
    if (text.empty() || text.size() > 6)
        return false;
    int n = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9')
            return false;
        n = n * 10 + (c - L'0');
    }
    if (n < 1 || n > kMaxCommandLineCopies)
        return false;
    nCopies = n;
    return true;
}

// Flags of an encoded request.
const unsigned kFlagStart = 1;
const unsigned kFlagQuiet = 2;
// copies, flags, accept-until, file count; then each file's length in
// UTF-16 units and its units.
const size_t kHeader = 4 + 4 + 8 + 4;

// How long one hand-over may take the window, and how much longer the
// sender waits for the answer than the window may take to start on it.
const DWORD kAcceptMs = 5000;
const DWORD kAnswerGraceMs = 5000;
const DWORD kPollMs = 50;

} // namespace

bool ParseCommandLine(const std::vector<std::wstring>& args, CQueueRequest& request,
                      std::wstring& strError) {
    request = CQueueRequest();
    bool bCopiesGiven = false;
    for (const std::wstring& arg : args) {
        if (arg.empty()) {
            strError = L"An empty file name was given.";
            return false;
        }
        if (arg[0] != L'/') {
            request.files.push_back(arg);
            continue;
        }
        if (SwitchIs(arg, L"/start")) {
            request.bStart = true;
        } else if (SwitchIs(arg, L"/quiet")) {
            request.bQuiet = true;
        } else if (SwitchIs(arg, L"/minimized")) {
            request.bMinimized = true;
        } else if (arg.size() >= 8 && _wcsnicmp(arg.c_str(), L"/copies:", 8) == 0) {
            if (!ParseCopies(arg.substr(8), request.nCopies)) {
                strError = L"The number of copies must be a whole number from 1 to 100000: " + arg;
                return false;
            }
            bCopiesGiven = true;
        } else {
            strError = L"Unknown switch: " + arg;
            return false;
        }
    }
    if (bCopiesGiven && request.files.empty()) {
        strError = L"/copies was given without a file.";
        return false;
    }
    return true;
}

std::vector<std::wstring> ProcessArguments() {
    std::vector<std::wstring> args;
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    LocalFree(argv);
    return args;
}

bool ResolveFiles(CQueueRequest& request, std::wstring& strFile) {
    for (std::wstring& file : request.files) {
        const DWORD cch = GetFullPathNameW(file.c_str(), 0, nullptr, nullptr);
        if (cch == 0) {
            strFile = file;
            return false;
        }
        std::wstring full(cch, L'\0');
        const DWORD got = GetFullPathNameW(file.c_str(), cch, full.data(), nullptr);
        if (got == 0 || got >= cch) {
            strFile = file;
            return false;
        }
        full.resize(got);
        file = full;
    }
    return true;
}

std::vector<BYTE> EncodeRequest(const CQueueRequest& request) {
    std::vector<BYTE> out;
    PutLE(out, static_cast<unsigned>(request.nCopies), 4);
    PutLE(out, (request.bStart ? kFlagStart : 0) | (request.bQuiet ? kFlagQuiet : 0), 4);
    PutLE(out, request.nAcceptUntil, 8);
    PutLE(out, request.files.size(), 4);
    for (const std::wstring& file : request.files) {
        PutLE(out, file.size(), 4);
        for (wchar_t c : file)
            PutLE(out, static_cast<unsigned>(c), 2);
    }
    return out;
}

bool DecodeRequest(const void* pData, size_t cb, CQueueRequest& out) {
    out = CQueueRequest();
    // Read into a request of its own: one refused leaves nothing half read.
    CQueueRequest request;
    const BYTE* p = static_cast<const BYTE*>(pData);
    if (!p || cb < kHeader)
        return false;
    const unsigned long long copies = GetLE(p, 4);
    if (copies > static_cast<unsigned>(kMaxCommandLineCopies))
        return false;
    request.nCopies = static_cast<int>(copies);
    const unsigned flags = static_cast<unsigned>(GetLE(p + 4, 4));
    request.bStart = (flags & kFlagStart) != 0;
    request.bQuiet = (flags & kFlagQuiet) != 0;
    request.nAcceptUntil = GetLE(p + 8, 8);
    const unsigned long long count = GetLE(p + 16, 4);
    size_t at = kHeader;
    for (unsigned long long i = 0; i < count; ++i) {
        if (cb - at < 4)
            return false;
        const unsigned long long cch = GetLE(p + at, 4);
        at += 4;
        if (cch == 0 || cch > (cb - at) / 2)
            return false;
        std::wstring file(static_cast<size_t>(cch), L'\0');
        for (size_t k = 0; k < file.size(); ++k, at += 2) {
            file[k] = static_cast<wchar_t>(GetLE(p + at, 2));
            if (file[k] == L'\0')
                return false;
        }
        request.files.push_back(std::move(file));
    }
    if (at != cb)
        return false;
    out = std::move(request);
    return true;
}

std::wstring UsageText(const std::wstring& strError) {
    std::wstring text;
    if (!strError.empty())
        text = strError + L"\n\n";
    text += L"Usage: Morvane.exe [/copies:N] [/start] [/quiet] [/minimized] FILE...\n\n"
            L"Queues each FILE at the end of the queue, in the order given.\n"
            L"/copies:N\tN copies of each file (1 to 100000); without it, the count in "
            L"\"Copies:\".\n"
            L"/start\tpresses Start once the files are queued.\n"
            L"/quiet\tshows no message; the exit code tells what happened.\n"
            L"/minimized\tstarts in the notification area.\n\n"
            L"Exit codes: 0 queued, 2 bad arguments, 3 a file is missing or a folder, "
            L"4 the running Morvane did not take the files, 5 a file name Morvane cannot use.";
    return text;
}

int HandOverRequest(const CQueueRequest& request, DWORD nWaitMs) {
    const CString keyPath = CJobList::StoreKeyPath();
    // Another user's program may hold the machine's store: not claimable
    // here, and no window of theirs takes the files.
    const CStoreOwner::Scope scope = CJobList::StoreScope();
    const ULONGLONG deadline = GetTickCount64() + nWaitMs;
    for (;;) {
        if (!CStoreOwner::IsClaimed(keyPath, scope))
            return -1;
        if (HWND hWnd = WindowTag::FindOwnerWindow(keyPath)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(hWnd, &pid);
            // This process was started by the user (or a program acting for
            // them) and may pass the foreground on.
            AllowSetForegroundWindow(pid);
            CQueueRequest sent = request;
            const ULONGLONG sentAt = GetTickCount64();
            sent.nAcceptUntil = sentAt + kAcceptMs;
            const std::vector<BYTE> data = EncodeRequest(sent);
            COPYDATASTRUCT cds{kCopyDataTag, static_cast<DWORD>(data.size()),
                               const_cast<BYTE*>(data.data())};
            DWORD_PTR answer = 0;
            SetLastError(ERROR_SUCCESS);
            const LRESULT ok =
                SendMessageTimeoutW(hWnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds),
                                    SMTO_NORMAL, kAcceptMs + kAnswerGraceMs, &answer);
            if (ok && answer > 0) {
                SetForegroundWindow(hWnd);
                return static_cast<int>(answer - 1);
            }
            // The window went away before it read the request (it was
            // closing): look again. Any later failure means the window had
            // its chance and let the request expire.
            if (GetTickCount64() - sentAt >= kAcceptMs)
                return kExitNotTaken;
        }
        if (GetTickCount64() >= deadline)
            return kExitNotTaken;
        Sleep(kPollMs);
    }
}
