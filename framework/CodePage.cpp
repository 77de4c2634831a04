#include "framework/CodePage.h"

#include <new>
#include <utility>

namespace {

// Both directions: ask for the size, then convert into the result. A
// zero-terminated text is converted with its terminator, which is cut off
// afterwards.
template <typename From, typename To, typename Convert>
bool ConvertText(const From* pch, int cch, To& out, Convert convert) {
    out.clear();
    if (!pch)
        return false;
    if (cch == 0 || (cch < 0 && !*pch))
        return true;
    const int n = convert(pch, cch, nullptr, 0);
    if (n <= 0)
        return false;
    // No memory is a failed conversion like any other: nothing throws.
    try {
        out.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (convert(pch, cch, &out[0], n) != n) {
        out.clear();
        return false;
    }
    if (cch < 0)
        out.resize(static_cast<size_t>(n - 1));
    return true;
}

} // namespace

bool NarrowToWide(const char* pch, int cch, UINT nCodePage, std::wstring& out) {
    return ConvertText(pch, cch, out, [nCodePage](const char* p, int c, wchar_t* d, int n) {
        return MultiByteToWideChar(nCodePage, 0, p, c, d, n);
    });
}

bool WideToNarrow(const wchar_t* pch, int cch, UINT nCodePage, std::string& out) {
    return ConvertText(pch, cch, out, [nCodePage](const wchar_t* p, int c, char* d, int n) {
        return WideCharToMultiByte(nCodePage, 0, p, c, d, n, nullptr, nullptr);
    });
}

bool WideToNarrowExact(const wchar_t* psz, UINT nCodePage, std::string& out,
                       WideToNarrowFunction pfnConvert) {
    out.clear();
    if (!psz)
        return false;
    // Without best fit where the code page allows flags at all (UTF-7 and
    // UTF-8 refuse any, and every character has its form there anyway);
    // the round trip below is the check either way.
    const DWORD dwFlags = nCodePage == CP_UTF8 || nCodePage == CP_UTF7 ? 0 : WC_NO_BEST_FIT_CHARS;
    std::string narrow;
    const bool ok = ConvertText(psz, -1, narrow, [&](const wchar_t* p, int c, char* d, int n) {
        return pfnConvert(nCodePage, dwFlags, p, c, d, n, nullptr, nullptr);
    });
    if (!ok)
        return false;
    std::wstring back;
    if (!ConvertText(narrow.c_str(), -1, back, [&](const char* p, int c, wchar_t* d, int n) {
            return MultiByteToWideChar(nCodePage, MB_ERR_INVALID_CHARS, p, c, d, n);
        }))
        return false;
    if (back != psz)
        return false;
    out = std::move(narrow);
    return true;
}
