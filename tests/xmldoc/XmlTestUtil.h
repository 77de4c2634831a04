// Helpers shared by the XML document tests: BSTR ownership and UTF-8/UTF-16
// conversion of the writer's output.
#pragma once

#include "xmldoc/XmlDoc.h"

#include <windows.h>
#include <oleauto.h>

#include <string>

class ScopedBstr {
public:
    ScopedBstr() = default;
    ~ScopedBstr() { SysFreeString(m_bstr); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    BSTR* put() { return &m_bstr; }
    BSTR get() const { return m_bstr; }
    std::wstring wide() const { return m_bstr ? std::wstring(m_bstr, SysStringLen(m_bstr)) : L""; }

private:
    BSTR m_bstr = nullptr;
};

inline std::string ToUtf8(const std::wstring& w) {
    if (w.empty())
        return std::string();
    int cb = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                 nullptr, nullptr);
    std::string s(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], cb, nullptr,
                        nullptr);
    return s;
}

inline std::wstring ToWide(const std::string& s) {
    if (s.empty())
        return std::wstring();
    int cch = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], cch);
    return w;
}

// The document's text through GetXml, as UTF-8; "<failed>" when it fails.
inline std::string XmlOf(CXmlDoc& doc) {
    ScopedBstr bstr;
    if (!doc.GetXml(bstr.put()))
        return "<failed>";
    return ToUtf8(bstr.wide());
}
