#include "framework/FileDialog.h"

#include "framework/MessageBox.h"

namespace {
FileDialogHandler& Handler() {
    static FileDialogHandler handler;
    return handler;
}
} // namespace

FileDialogHandler SetFileDialogHandler(FileDialogHandler handler) {
    FileDialogHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

CFileDialog::CFileDialog(BOOL bOpenFileDialog, const char* pszDefExt, const char* pszFileName,
                         DWORD dwFlags, const char* pszFilter, CWnd* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog), m_strDefExt(pszDefExt), m_strFilter(pszFilter) {
    if (pszFileName)
        lstrcpynA(m_szFileName, pszFileName, sizeof(m_szFileName));
    // The filter text separates its parts with '|'; the system wants zeros.
    std::string filter = m_strFilter.Str();
    for (char& c : filter) {
        if (c == '|')
            c = '\0';
    }
    m_strFilter = CString(filter.data(), static_cast<int>(filter.size()));
    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.hwndOwner = pParentWnd ? pParentWnd->GetSafeHwnd() : AfxGetMainWndHandle();
    m_ofn.hInstance = GetModuleHandleA(nullptr);
    m_ofn.lpstrFile = m_szFileName;
    m_ofn.nMaxFile = sizeof(m_szFileName);
    m_ofn.lpstrDefExt = m_strDefExt.IsEmpty() ? nullptr : m_strDefExt.GetString();
    m_ofn.lpstrFilter = m_strFilter.IsEmpty() ? nullptr : m_strFilter.GetString();
    m_ofn.Flags = dwFlags | OFN_ENABLESIZING | OFN_EXPLORER;
}

INT_PTR CFileDialog::DoModal() {
    if (Handler())
        return Handler()(m_ofn, m_bOpenFileDialog) == IDOK ? IDOK : IDCANCEL;
    const BOOL bOK = m_bOpenFileDialog ? GetOpenFileNameA(&m_ofn) : GetSaveFileNameA(&m_ofn);
    return bOK ? IDOK : IDCANCEL;
}

CString CFileDialog::GetPathName() const {
    return CString(m_szFileName);
}

CString CFileDialog::GetFileName() const {
    const CString path(m_szFileName);
    const int slash = path.ReverseFind('\\');
    const int colon = path.ReverseFind(':');
    return path.Mid((slash > colon ? slash : colon) + 1);
}

CString CFileDialog::GetFileTitle() const {
    const CString name = GetFileName();
    const int dot = name.ReverseFind('.');
    return dot >= 0 ? name.Left(dot) : name;
}
