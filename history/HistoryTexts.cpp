#include "history/HistoryTexts.h"

#include "framework/CodePage.h"
#include "settings/SpoolerSetup.h"

#include <windows.h>

#include <cstdio>

std::string AnsiToUtf8(const CString& str) {
    std::wstring wide;
    std::string out;
    if (!NarrowToWide(str.GetString(), str.GetLength(), CP_ACP, wide) ||
        !WideToNarrow(wide.data(), static_cast<int>(wide.size()), CP_UTF8, out))
        return str.Str();
    return out;
}

CString Utf8ToAnsi(const std::string& str) {
    std::wstring wide;
    std::string out;
    if (!NarrowToWide(str.data(), static_cast<int>(str.size()), CP_UTF8, wide) ||
        !WideToNarrow(wide.data(), static_cast<int>(wide.size()), CP_ACP, out))
        return CString(str);
    return CString(out);
}

std::string LocalTimeStamp() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char buf[32];
    snprintf(buf, sizeof(buf), "%04u-%02u-%02uT%02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond);
    return buf;
}

CString OutputCaptionName(const CSpoolerSetup& setup) {
    switch (setup.m_nSpoolerType) {
    case SPOOLER_NULL:
        return "Null";
    case SPOOLER_WINDOWS:
        return setup.m_strSpoolerName;
    case SPOOLER_IP:
        return setup.GetIPAddressText();
    case SPOOLER_USB:
        return "USB";
    default:
        return CString();
    }
}

std::string ResultPrinted() {
    return "Printed";
}

std::string ResultRemoved(int nCopiesLeft) {
    return "Removed: " + std::to_string(nCopiesLeft) + (nCopiesLeft == 1 ? " copy" : " copies") +
           " left";
}

std::string ResultFailed(const char* pszReason) {
    return std::string("Failed: ") + (pszReason ? pszReason : "");
}
