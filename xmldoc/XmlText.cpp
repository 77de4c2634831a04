#include "xmldoc/XmlText.h"

#include <windows.h>

#include <new>

wchar_t* XmlUtf8ToWide(const char* pszUtf8) {
    if (!pszUtf8)
        return nullptr;
    int cch = MultiByteToWideChar(CP_UTF8, 0, pszUtf8, -1, nullptr, 0);
    if (cch <= 0)
        return nullptr;
    wchar_t* psz = new (std::nothrow) wchar_t[cch];
    if (!psz)
        return nullptr;
    if (MultiByteToWideChar(CP_UTF8, 0, pszUtf8, -1, psz, cch) <= 0) {
        delete[] psz;
        return nullptr;
    }
    return psz;
}

static char* WideToCodePage(const wchar_t* pszText, UINT nCodePage) {
    if (!pszText)
        return nullptr;
    int cb = WideCharToMultiByte(nCodePage, 0, pszText, -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 0)
        return nullptr;
    char* psz = new (std::nothrow) char[cb];
    if (!psz)
        return nullptr;
    if (WideCharToMultiByte(nCodePage, 0, pszText, -1, psz, cb, nullptr, nullptr) <= 0) {
        delete[] psz;
        return nullptr;
    }
    return psz;
}

char* XmlWideToUtf8(const wchar_t* pszText) {
    return WideToCodePage(pszText, CP_UTF8);
}

char* XmlWideToAnsi(const wchar_t* pszText) {
    return WideToCodePage(pszText, CP_THREAD_ACP);
}
