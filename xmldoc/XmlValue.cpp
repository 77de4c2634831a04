#include "xmldoc/XmlValue.h"

#include "xmldoc/XmlDoc.h"
#include "framework/CodePage.h"

#include <windows.h>
#include <oleauto.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Copies strlen + 1 bytes into a new array; null for null or no memory.
char* CopyBytes(const char* psz) {
    if (!psz)
        return nullptr;
    size_t cb = strlen(psz) + 1;
    char* pszCopy = new (std::nothrow) char[cb];
    if (pszCopy)
        memcpy(pszCopy, psz, cb);
    return pszCopy;
}

bool ReadsBackAs(const char* pszText, double dValue) {
    double dBack = atof(pszText);
    if (std::isnan(dValue))
        return std::isnan(dBack);
    return dBack == dValue;
}

// The double's text through the platform's VARIANT conversion, with the
// first "," turned into "."; a text that would not read back to the same
// double is replaced by a round-trip decimal form.
bool FormatDouble(double dValue, char* pszBuffer, size_t cbBuffer) {
    VARIANT var;
    VariantInit(&var);
    V_VT(&var) = VT_R8;
    V_R8(&var) = dValue;
    if (FAILED(VariantChangeType(&var, &var, 0, VT_BSTR)))
        return false;
    if (V_VT(&var) != VT_BSTR || !V_BSTR(&var)) {
        VariantClear(&var);
        return false;
    }
    int cb = WideCharToMultiByte(CP_THREAD_ACP, 0, V_BSTR(&var), -1, pszBuffer,
                                 static_cast<int>(cbBuffer), nullptr, nullptr);
    VariantClear(&var);
    if (cb <= 1)
        return false;
    if (char* pComma = strchr(pszBuffer, ','))
        *pComma = '.';
    if (ReadsBackAs(pszBuffer, dValue) && !strchr(pszBuffer, ','))
        return true;

    // The platform's digits lose precision (or use a separator we cannot
    // read): 17 significant digits always read back exactly.
    if (std::isinf(dValue))
        snprintf(pszBuffer, cbBuffer, "%s", dValue < 0 ? "-1e999" : "1e999"); // overflows back
    else
        snprintf(pszBuffer, cbBuffer, "%.17g", dValue);
    if (char* pComma = strchr(pszBuffer, ','))
        *pComma = '.';
    return true;
}

} // namespace

CXmlValue::CXmlValue() : m_nType(XML_EMPTY) {
    m_Payload.raw = 0;
}

CXmlValue::~CXmlValue() {
    FreeString();
}

CXmlValue::CXmlValue(const CXmlValue& other) : m_nType(XML_EMPTY) {
    m_Payload.raw = 0;
    other.CopyTo(*this);
}

CXmlValue& CXmlValue::operator=(const CXmlValue& other) {
    if (this != &other)
        other.CopyTo(*this);
    return *this;
}

void CXmlValue::FreeString() {
    if (m_nType == XML_STRING) {
        delete[] m_Payload.psz;
        m_Payload.psz = nullptr;
    }
}

void CXmlValue::Become(int32_t nType) {
    FreeString();
    m_nType = nType;
    m_Payload.raw = 0;
}

void CXmlValue::SetBool(bool bValue) {
    Become(XML_BOOL);
    m_Payload.b = bValue;
}

void CXmlValue::SetInt32(int32_t nValue) {
    Become(XML_I4);
    m_Payload.i4 = nValue;
}

void CXmlValue::SetInt64(int64_t nValue) {
    Become(XML_I8);
    m_Payload.i8 = nValue;
}

void CXmlValue::SetUInt8(uint8_t nValue) {
    Become(XML_U1);
    m_Payload.u1 = nValue;
}

void CXmlValue::SetUInt16(uint16_t nValue) {
    Become(XML_U2);
    m_Payload.u2 = nValue;
}

void CXmlValue::SetUInt32(uint32_t nValue) {
    Become(XML_U4);
    m_Payload.u4 = nValue;
}

void CXmlValue::SetDouble(double dValue) {
    Become(XML_DOUBLE);
    m_Payload.d = dValue;
}

void CXmlValue::SetString(const char* pszUtf8) {
    // Copy first: the argument may be this value's own text.
    char* pszCopy = CopyBytes(pszUtf8);
    Become(XML_STRING);
    m_Payload.psz = pszCopy;
}

void CXmlValue::SetString(const wchar_t* pszText) {
    std::string utf8;
    char* pszUtf8 = WideToNarrow(pszText, -1, CP_UTF8, utf8) ? CopyBytes(utf8.c_str()) : nullptr;
    Become(XML_STRING);
    m_Payload.psz = pszUtf8;
}

void CXmlValue::Clear() {
    Become(XML_EMPTY);
}

void CXmlValue::CopyTo(CXmlValue& target) const {
    if (&target == this)
        return;
    if (m_nType < XML_BOOL || m_nType > XML_STRING) {
        target.Clear();
        return;
    }
    if (m_nType == XML_STRING) {
        target.SetString(m_Payload.psz);
        return;
    }
    target.FreeString();
    target.m_nType = m_nType;
    target.m_Payload.raw = m_Payload.raw;
}

bool CXmlValue::ParseText(const char* pszText, int nType) {
    if (!pszText)
        return false;
    switch (nType) {
    case XML_BOOL:
        SetBool(atoi(pszText) != 0);
        return true;
    case XML_I4:
        SetInt32(atoi(pszText));
        return true;
    case XML_I8:
        SetInt64(_atoi64(pszText));
        return true;
    case XML_U1:
        SetUInt8(static_cast<uint8_t>(atoi(pszText) & 0xFF));
        return true;
    case XML_U2:
        SetUInt16(static_cast<uint16_t>(atoi(pszText) & 0xFFFF));
        return true;
    case XML_U4:
        SetUInt32(static_cast<uint32_t>(static_cast<uint64_t>(_atoi64(pszText)) & 0xFFFFFFFFu));
        return true;
    case XML_DOUBLE:
        SetDouble(atof(pszText));
        return true;
    case XML_STRING:
        SetString(pszText);
        return true;
    default:
        return false;
    }
}

bool CXmlValue::FormatNumber(char* pszBuffer, size_t cbBuffer) const {
    if (!pszBuffer || cbBuffer < 64)
        return false;
    switch (m_nType) {
    case XML_BOOL:
        _itoa(m_Payload.b ? 1 : 0, pszBuffer, 10);
        return true;
    case XML_I4:
        _itoa(m_Payload.i4, pszBuffer, 10);
        return true;
    case XML_I8:
        _i64toa(m_Payload.i8, pszBuffer, 10);
        return true;
    case XML_U1:
        _itoa(m_Payload.u1, pszBuffer, 10);
        return true;
    case XML_U2:
        _itoa(m_Payload.u2, pszBuffer, 10);
        return true;
    case XML_U4:
        _ui64toa(static_cast<uint64_t>(m_Payload.u4), pszBuffer, 10);
        return true;
    case XML_DOUBLE:
        return FormatDouble(m_Payload.d, pszBuffer, cbBuffer);
    default:
        return false;
    }
}

bool CXmlValue::WriteText(CXmlDoc* pDoc) const {
    if (!pDoc || m_nType < XML_BOOL || m_nType > XML_STRING)
        return false;
    if (m_nType != XML_STRING) {
        char szText[128];
        if (!FormatNumber(szText, sizeof(szText)))
            return false;
        return pDoc->Put(szText);
    }
    const char* p = m_Payload.psz;
    if (!p)
        return true;
    for (;;) {
        size_t cbRun = strcspn(p, "&<>");
        if (!pDoc->PutBytes(p, static_cast<ptrdiff_t>(cbRun)))
            return false;
        p += cbRun;
        switch (*p) {
        case '\0':
            return true;
        case '&':
            if (!pDoc->Put("&amp;"))
                return false;
            break;
        case '<':
            if (!pDoc->Put("&lt;"))
                return false;
            break;
        default:
            if (!pDoc->Put("&gt;"))
                return false;
            break;
        }
        ++p;
    }
}

bool CXmlValue::GetBool() const {
    return m_nType == XML_BOOL && m_Payload.b;
}
int32_t CXmlValue::GetInt32() const {
    return m_nType == XML_I4 ? m_Payload.i4 : 0;
}
int64_t CXmlValue::GetInt64() const {
    return m_nType == XML_I8 ? m_Payload.i8 : 0;
}
uint8_t CXmlValue::GetUInt8() const {
    return m_nType == XML_U1 ? m_Payload.u1 : 0;
}
uint16_t CXmlValue::GetUInt16() const {
    return m_nType == XML_U2 ? m_Payload.u2 : 0;
}
uint32_t CXmlValue::GetUInt32() const {
    return m_nType == XML_U4 ? m_Payload.u4 : 0;
}
double CXmlValue::GetDouble() const {
    return m_nType == XML_DOUBLE ? m_Payload.d : 0.0;
}
const char* CXmlValue::GetString() const {
    return m_nType == XML_STRING ? m_Payload.psz : nullptr;
}

bool CXmlValue::GetInteger(int64_t* pnValue) const {
    if (!pnValue)
        return false;
    switch (m_nType) {
    case XML_BOOL:
        *pnValue = m_Payload.b ? 1 : 0;
        return true;
    case XML_I4:
        *pnValue = m_Payload.i4;
        return true;
    case XML_I8:
        *pnValue = m_Payload.i8;
        return true;
    case XML_U1:
        *pnValue = m_Payload.u1;
        return true;
    case XML_U2:
        *pnValue = m_Payload.u2;
        return true;
    case XML_U4:
        *pnValue = m_Payload.u4;
        return true;
    default:
        return false;
    }
}
