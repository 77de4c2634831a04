#include "framework/MessageBox.h"

#include "framework/String.h"

#include <atomic>

namespace {
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

CString& AppName() {
    static CString name;
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
    const char* caption = AfxGetAppName();
    if (Handler())
        return Handler()(hOwner, pszText, caption, nType);
    return MessageBoxA(hOwner, pszText, caption, nType);
}

int AfxMessageBox(const char* pszText, UINT nType, UINT /*nIDHelp*/) {
    return ShowMessageBox(AfxGetMainWndHandle(), pszText, nType);
}

const char* AfxGetAppName() {
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

void AfxSetAppName(const char* pszName) {
    AppName() = pszName;
}

HWND AfxGetMainWndHandle() {
    return g_hMainWnd.load();
}

void AfxSetMainWndHandle(HWND hWnd) {
    g_hMainWnd.store(hWnd);
}
