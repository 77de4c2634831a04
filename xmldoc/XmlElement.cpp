#include "xmldoc/XmlElement.h"

#include "xmldoc/XmlDoc.h"

#include <cstring>
#include <new>

namespace {

const char kQualifiedType[] = " xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"";
const char kShortType[] = " t=\"";

bool StartsWith(const char* psz, const char* pszPrefix) {
    return strncmp(psz, pszPrefix, strlen(pszPrefix)) == 0;
}

int QualifiedType(const char* p) {
    if (StartsWith(p, "int") || StartsWith(p, "Int"))
        return XML_I4;
    if (StartsWith(p, "ui4"))
        return XML_U4;
    if (StartsWith(p, "r8"))
        return XML_DOUBLE;
    if (StartsWith(p, "Boolean"))
        return XML_BOOL;
    return XML_STRING;
}

int ShortType(const char* p) {
    static const struct {
        const char* pszCode;
        int nType;
    } kCodes[] = {{"i4", XML_I4}, {"i8", XML_I8},    {"u1", XML_U1},  {"u2", XML_U2},
                  {"u4", XML_U4}, {"d", XML_DOUBLE}, {"b", XML_BOOL}, {"s", XML_STRING}};
    for (const auto& code : kCodes) {
        if (StartsWith(p, code.pszCode))
            return code.nType;
    }
    return XML_STRING;
}

const char* TypeAttribute(int nType) {
    static const char* const kAttributes[] = {nullptr,     " t=\"b\"",  " t=\"i4\"",
                                              " t=\"i8\"", " t=\"u1\"", " t=\"u2\"",
                                              " t=\"u4\"", " t=\"d\"",  " t=\"s\""};
    if (nType < XML_BOOL || nType > XML_STRING)
        return nullptr;
    return kAttributes[nType];
}

} // namespace

CXmlElement::CXmlElement(const char* pszTag, CXmlElement* pParent, CXmlDoc* pDoc) {
    if (!InitFromTag(pszTag, pParent, pDoc))
        Clear();
}

CXmlElement::~CXmlElement() {
    Clear();
}

void CXmlElement::Clear() {
    delete[] m_pszName;
    m_pszName = nullptr;
    CXmlElement* pChild = m_pFirstChild;
    m_pParent = m_pNext = m_pPrev = m_pFirstChild = m_pLastChild = nullptr;
    while (pChild) {
        CXmlElement* pNext = pChild->m_pNext;
        delete pChild;
        pChild = pNext;
    }
}

bool CXmlElement::IsValid() const {
    if (!m_pszName)
        return false;
    for (const CXmlElement* p = m_pFirstChild; p; p = p->m_pNext) {
        if (!p->IsValid())
            return false;
    }
    return true;
}

bool CXmlElement::AppendChild(CXmlElement* pChild) {
    if (!pChild || pChild == this || pChild->m_pParent || pChild->m_pPrev)
        return false;
    if (m_pLastChild && m_pLastChild->m_pNext)
        return false;
    pChild->m_pPrev = m_pLastChild;
    if (m_pLastChild)
        m_pLastChild->m_pNext = pChild;
    else
        m_pFirstChild = pChild;
    m_pLastChild = pChild;
    pChild->m_pParent = this;
    return true;
}

bool CXmlElement::SetValue(const CXmlValue& value) {
    if (!m_pszName)
        return false;
    m_Value.Clear();
    value.CopyTo(m_Value);
    return true;
}

CXmlElement* CXmlElement::FindChild(const char* pszName) const {
    if (!pszName)
        return nullptr;
    for (CXmlElement* p = m_pFirstChild; p; p = p->m_pNext) {
        if (p->m_pszName && strcmp(p->m_pszName, pszName) == 0)
            return p;
    }
    return nullptr;
}

bool CXmlElement::ParseTag(const char* pszTag, int* pnType, size_t* pcchName) const {
    if (!pszTag || !pnType || !pcchName)
        return false;
    *pnType = XML_STRING;
    if (const char* p = strstr(pszTag, kQualifiedType))
        *pnType = QualifiedType(p + strlen(kQualifiedType));
    else if (const char* p = strstr(pszTag, kShortType))
        *pnType = ShortType(p + strlen(kShortType));
    const char* pBlank = strchr(pszTag, ' ');
    *pcchName = pBlank ? static_cast<size_t>(pBlank - pszTag) : strlen(pszTag);
    return true;
}

bool CXmlElement::InitFromTag(const char* pszTag, CXmlElement* pParent, CXmlDoc* pDoc) {
    if (!pszTag || m_pszName)
        return false;
    int nType = XML_STRING;
    size_t cchName = 0;
    if (!ParseTag(pszTag, &nType, &cchName))
        return false;
    m_pszName = new (std::nothrow) char[cchName + 1];
    if (!m_pszName)
        return false;
    memcpy(m_pszName, pszTag, cchName);
    m_pszName[cchName] = '\0';

    bool bOk = true;
    if (pDoc) {
        if (!pDoc->EnterLevel()) {
            bOk = false;
        } else {
            const char* pszText = nullptr;
            int nToken = pDoc->NextToken(&pszText);
            if (nToken == TOKEN_TEXT) {
                bOk = m_Value.ParseText(pszText, nType);
                nToken = pDoc->NextToken(&pszText);
            }
            while (bOk && nToken != TOKEN_CLOSE) {
                if (nToken != TOKEN_OPEN && nToken != TOKEN_EMPTY) {
                    bOk = false;
                    break;
                }
                // An empty-element tag has no content to read.
                CXmlElement* pChild = new (std::nothrow)
                    CXmlElement(pszText, this, nToken == TOKEN_OPEN ? pDoc : nullptr);
                if (!pChild) {
                    bOk = false;
                    break;
                }
                if (!pChild->m_pszName) {
                    delete pChild;
                    bOk = false;
                    break;
                }
                nToken = pDoc->NextToken(&pszText);
            }
            pDoc->LeaveLevel();
        }
    }
    if (bOk && pParent)
        bOk = pParent->AppendChild(this);
    if (!bOk) {
        delete[] m_pszName;
        m_pszName = nullptr;
    }
    return bOk;
}

bool CXmlElement::WriteXml(CXmlDoc* pDoc) const {
    if (!pDoc || !m_pszName)
        return false;
    const char* pszAttribute = m_pFirstChild ? nullptr : TypeAttribute(m_Value.GetType());
    if (!pDoc->Put("<") || !pDoc->Put(m_pszName) || !pDoc->Put(pszAttribute) || !pDoc->Put(">"))
        return false;
    if (m_pFirstChild) {
        for (const CXmlElement* p = m_pFirstChild; p; p = p->m_pNext) {
            if (!p->WriteXml(pDoc))
                return false;
        }
    } else if (pszAttribute && !m_Value.WriteText(pDoc)) {
        return false;
    }
    return pDoc->Put("</") && pDoc->Put(m_pszName) && pDoc->Put(">");
}

bool CXmlElement::WriteXmlPlain(CXmlDoc* pDoc) const {
    if (!pDoc || !m_pszName)
        return false;
    if (!pDoc->Put("<") || !pDoc->Put(m_pszName) || !pDoc->Put(">"))
        return false;
    if (m_pFirstChild) {
        for (const CXmlElement* p = m_pFirstChild; p; p = p->m_pNext) {
            if (!p->WriteXmlPlain(pDoc))
                return false;
        }
    } else if (!m_Value.IsEmpty() && !m_Value.WriteText(pDoc)) {
        return false;
    }
    return pDoc->Put("</") && pDoc->Put(m_pszName) && pDoc->Put(">");
}
