#include "framework/MessageBox.h"

#include "framework/CodePage.h"

#include "framework/String.h"

#include <atomic>
#include <mutex>

namespace {
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

// The name is filled on first use, from whichever thread shows the first
// box; the lock keeps two first uses from writing it at once.
std::mutex& AppNameLock() {
    static std::mutex lock;
    return lock;
}

CString& AppName() {
    static CString name;
    return name;
}

// The application's name; call with AppNameLock held.
const CString& AppNameLocked() {
    CString& name = AppName();
    if (name.IsEmpty()) {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        CString file(path);
        file = file.Mid(file.ReverseFind('\\') + 1);
        const int dot = file.ReverseFind('.');
        name = dot > 0 ? file.Left(dot) : file;
    }
    return name;
}

std::atomic<HWND> g_hMainWnd{nullptr};
} // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

int ShowMessageBox(HWND hOwner, const char* pszText, UINT nType) {
    CString strCaption;
    {
        std::lock_guard<std::mutex> lock(AppNameLock());
        strCaption = AppNameLocked();
    }
    const char* caption = strCaption;
    if (Handler())
        return Handler()(hOwner, pszText, caption, nType);
    return MessageBoxA(hOwner, pszText, caption, nType);
}

int ShowMessageBoxW(HWND hOwner, const wchar_t* pszText, const wchar_t* pszCaption, UINT nType) {
    if (Handler()) {
        std::string text, caption;
        WideToNarrow(pszText ? pszText : L"", -1, CP_UTF8, text);
        WideToNarrow(pszCaption ? pszCaption : L"", -1, CP_UTF8, caption);
        return Handler()(hOwner, text.c_str(), caption.c_str(), nType);
    }
    return MessageBoxW(hOwner, pszText, pszCaption, nType);
}

int AfxMessageBox(const char* pszText, UINT nType, UINT /*nIDHelp*/) {
    return ShowMessageBox(AfxGetMainWndHandle(), pszText, nType);
}

const char* AfxGetAppName() {
    std::lock_guard<std::mutex> lock(AppNameLock());
    return AppNameLocked();
}

void AfxSetAppName(const char* pszName) {
    std::lock_guard<std::mutex> lock(AppNameLock());
    AppName() = pszName;
}

HWND AfxGetMainWndHandle() {
    return g_hMainWnd.load();
}

void AfxSetMainWndHandle(HWND hWnd) {
    g_hMainWnd.store(hWnd);
}
