#include "framework/String.h"

#include "framework/CodePage.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

void CString::Format(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    FormatV(pszFormat, args);
    va_end(args);
}

void CString::FormatV(const char* pszFormat, va_list args) {
    if (!pszFormat) {
        m_str.clear();
        return;
    }
    va_list measure;
    va_copy(measure, args);
    const int n = std::vsnprintf(nullptr, 0, pszFormat, measure);
    va_end(measure);
    if (n <= 0) {
        m_str.clear();
        return;
    }
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&out[0], out.size(), pszFormat, args);
    out.resize(static_cast<size_t>(n));
    m_str.swap(out);
}

BOOL CString::LoadString(UINT nID) {
    // LoadStringW with a zero length hands back a pointer into the resource
    // itself, so a string of any length is read whole.
    const wchar_t* pw = nullptr;
    const int nWide = LoadStringW(GetModuleHandleW(nullptr), nID, reinterpret_cast<LPWSTR>(&pw), 0);
    if (nWide <= 0 || !pw) {
        m_str.clear();
        return FALSE;
    }
    std::string out;
    WideToNarrow(pw, nWide, CP_ACP, out);
    m_str.swap(out);
    return TRUE;
}

int CString::CompareNoCase(const char* psz) const {
    return lstrcmpiA(m_str.c_str(), psz ? psz : "");
}

CString CString::Left(int nCount) const {
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(m_str.substr(0, static_cast<size_t>(nCount)));
}

CString CString::Mid(int nFirst) const {
    return Mid(nFirst, GetLength());
}

CString CString::Mid(int nFirst, int nCount) const {
    nFirst = std::clamp(nFirst, 0, GetLength());
    nCount = std::clamp(nCount, 0, GetLength() - nFirst);
    return CString(m_str.substr(static_cast<size_t>(nFirst), static_cast<size_t>(nCount)));
}

CString CString::Right(int nCount) const {
    nCount = std::clamp(nCount, 0, GetLength());
    return CString(m_str.substr(m_str.size() - static_cast<size_t>(nCount)));
}

int CString::Find(char ch, int nStart) const {
    if (nStart < 0 || nStart > GetLength())
        return -1;
    const size_t pos = m_str.find(ch, static_cast<size_t>(nStart));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(const char* psz, int nStart) const {
    if (!psz || nStart < 0 || nStart > GetLength())
        return -1;
    const size_t pos = m_str.find(psz, static_cast<size_t>(nStart));
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(char ch) const {
    const size_t pos = m_str.rfind(ch);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

CString& CString::MakeUpper() {
    if (!m_str.empty())
        CharUpperBuffA(&m_str[0], static_cast<DWORD>(m_str.size()));
    return *this;
}

CString& CString::MakeLower() {
    if (!m_str.empty())
        CharLowerBuffA(&m_str[0], static_cast<DWORD>(m_str.size()));
    return *this;
}

char* CString::GetBuffer(int nMinLength) {
    if (nMinLength > GetLength())
        m_str.resize(static_cast<size_t>(nMinLength));
    return &m_str[0];
}

void CString::ReleaseBuffer(int nNewLength) {
    if (nNewLength < 0) {
        const size_t zero = m_str.find('\0');
        if (zero != std::string::npos)
            m_str.resize(zero);
        return;
    }
    m_str.resize(std::min(static_cast<size_t>(nNewLength), m_str.size()));
}
