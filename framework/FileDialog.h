// CFileDialog: the system's file-open (or save) dialog for one file.
// Tests stand in for the system dialog with SetFileDialogHandler: the
// handler gets the filled OPENFILENAMEA, writes the chosen path into
// lpstrFile and returns IDOK, or returns IDCANCEL.
// Threads: the calling (window) thread; install handlers before windows run.
#pragma once

#include "framework/String.h"
#include "framework/Wnd.h"

#include <windows.h>

#include <commdlg.h>

#include <functional>

using FileDialogHandler = std::function<INT_PTR(OPENFILENAMEA& ofn, BOOL bOpenFileDialog)>;
// Installs a handler (an empty one restores the system dialog); returns the previous.
FileDialogHandler SetFileDialogHandler(FileDialogHandler handler);

class CFileDialog {
public:
    CFileDialog(BOOL bOpenFileDialog, const char* pszDefExt = nullptr,
                const char* pszFileName = nullptr,
                DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                const char* pszFilter = nullptr, CWnd* pParentWnd = nullptr);
    virtual ~CFileDialog() = default;
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK when a file was chosen, IDCANCEL otherwise.
    virtual INT_PTR DoModal();
    // The chosen file's full path.
    CString GetPathName() const;
    // The file's name without folder and extension.
    CString GetFileTitle() const;
    // The file's name with its extension.
    CString GetFileName() const;

    OPENFILENAMEA m_ofn{};

private:
    BOOL m_bOpenFileDialog;
    CString m_strDefExt;
    CString m_strFilter;
    char m_szFileName[MAX_PATH * 4] = "";
};
