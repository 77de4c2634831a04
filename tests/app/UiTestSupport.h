// Helpers for tests that run the program's real dialogs: a scripted run
// (the script runs inside the dialog's own modal loop, once the window is
// up), real control messages, a message pump with a bound, message boxes
// recorded instead of shown, and file drops built as DROPFILES blocks.
// Files and waiting come from tests/support.
#pragma once

#include "framework/FileDialog.h"
#include "framework/MessageBox.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <shlobj.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Every message box the code shows, answered with IDOK.
class RecordedBoxes {
public:
    RecordedBoxes() {
        m_previous = SetMessageBoxHandler([this](HWND, const char* pszText, const char*, UINT) {
            const std::string text = pszText ? pszText : "";
            if (m_onBox)
                m_onBox(text);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_texts.push_back(text);
            return IDOK;
        });
    }
    ~RecordedBoxes() { SetMessageBoxHandler(m_previous); }
    std::vector<std::string> Texts() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_texts;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_texts.clear();
    }
    // Runs on the thread that shows the box, before it is answered.
    std::function<void(const std::string&)> m_onBox;

private:
    std::mutex m_mutex;
    std::vector<std::string> m_texts;
    MessageBoxHandler m_previous;
};

// The file dialog answers with the given path (or cancels with an empty one).
class ScriptedFileDialog {
public:
    explicit ScriptedFileDialog(std::string path) : m_path(std::move(path)) {
        m_previous = SetFileDialogHandler([this](OPENFILENAMEA& ofn, BOOL) -> INT_PTR {
            ++m_nShown;
            if (m_path.empty())
                return IDCANCEL;
            lstrcpynA(ofn.lpstrFile, m_path.c_str(), static_cast<int>(ofn.nMaxFile));
            return IDOK;
        });
    }
    ~ScriptedFileDialog() { SetFileDialogHandler(m_previous); }
    void Answer(std::string path) { m_path = std::move(path); }
    int m_nShown = 0;

private:
    std::string m_path;
    FileDialogHandler m_previous;
};

inline void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Pumps the thread's messages until the condition holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 20000) {
    return WaitFor(
        [&] {
            if (condition())
                return true;
            PumpMessages();
            return false;
        },
        timeoutMs);
}

inline void ClickButton(HWND hDlg, int nID) {
    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(nID, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hDlg, nID)));
}

inline std::string ControlText(HWND hDlg, int nID) {
    char buf[512] = "";
    GetDlgItemTextA(hDlg, nID, buf, sizeof(buf));
    return buf;
}

inline std::string WindowText(HWND hWnd) {
    char buf[512] = "";
    GetWindowTextA(hWnd, buf, sizeof(buf));
    return buf;
}

// The user picks a row in a list box (nRow -1: clears the selection).
inline void SelectListRow(HWND hDlg, int nID, int nRow) {
    HWND hList = GetDlgItem(hDlg, nID);
    SendMessageA(hList, LB_SETCURSEL, static_cast<WPARAM>(nRow), 0);
    SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(nID, LBN_SELCHANGE), reinterpret_cast<LPARAM>(hList));
}

// Files dropped on the window, as the shell hands them over.
inline void DropFiles(HWND hDlg, const std::vector<std::string>& paths) {
    size_t cb = sizeof(DROPFILES) + 2; // the list ends with an empty name
    for (const auto& p : paths)
        cb += p.size() + 1;
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, cb);
    ASSERT_NE(hMem, nullptr);
    auto* pDrop = static_cast<DROPFILES*>(GlobalLock(hMem));
    pDrop->pFiles = sizeof(DROPFILES);
    pDrop->fWide = FALSE;
    char* pNames = reinterpret_cast<char*>(pDrop) + sizeof(DROPFILES);
    for (const auto& p : paths) {
        memcpy(pNames, p.c_str(), p.size() + 1);
        pNames += p.size() + 1;
    }
    GlobalUnlock(hMem);
    SendMessageA(hDlg, WM_DROPFILES, reinterpret_cast<WPARAM>(hMem), 0);
}

// The same, with the names in UTF-16, as the shell hands over any name.
inline void DropFilesW(HWND hDlg, const std::vector<std::wstring>& paths) {
    size_t cb = sizeof(DROPFILES) + sizeof(wchar_t);
    for (const auto& p : paths)
        cb += (p.size() + 1) * sizeof(wchar_t);
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, cb);
    ASSERT_NE(hMem, nullptr);
    auto* pDrop = static_cast<DROPFILES*>(GlobalLock(hMem));
    pDrop->pFiles = sizeof(DROPFILES);
    pDrop->fWide = TRUE;
    auto* pNames = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(pDrop) + sizeof(DROPFILES));
    for (const auto& p : paths) {
        memcpy(pNames, p.c_str(), (p.size() + 1) * sizeof(wchar_t));
        pNames += p.size() + 1;
    }
    GlobalUnlock(hMem);
    SendMessageA(hDlg, WM_DROPFILES, reinterpret_cast<WPARAM>(hMem), 0);
}

inline const char* kNoDisplayMessage =
    "the dialog could not be created: these tests need a display (run them under Xvfb with "
    "DISPLAY set, as scripts/test.sh does)";
