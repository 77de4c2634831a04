// Helpers shared by the XML document tests: BSTR ownership and the
// writer's output as UTF-8 (the conversions come with tests/support's files).
#pragma once

#include "support/TempFiles.h"
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

// The document's text through GetXml, as UTF-8; "<failed>" when it fails.
inline std::string XmlOf(CXmlDoc& doc) {
    ScopedBstr bstr;
    if (!doc.GetXml(bstr.put()))
        return "<failed>";
    return ToUtf8(bstr.wide());
}
