#include "xmldoc/XmlDoc.h"

#include "framework/CodePage.h"

#include <cstring>
#include <new>

CXmlDoc::CXmlDoc(const char* pszRootName) {
    m_Buffer[0] = '\0';
    m_Token[0] = '\0';
    if (!pszRootName)
        return;
    CXmlElement* pRoot = new (std::nothrow) CXmlElement(pszRootName, nullptr, nullptr);
    if (pRoot && !pRoot->GetName()) {
        delete pRoot;
        pRoot = nullptr;
    }
    m_pRoot = m_pCurrent = pRoot;
}

CXmlDoc::CXmlDoc(const char* pszSource, int nMode) {
    m_Buffer[0] = '\0';
    m_Token[0] = '\0';
    LoadXml(pszSource, nMode);
}

CXmlDoc::~CXmlDoc() {
    Reset();
}

void CXmlDoc::Reset() {
    CloseInput();
    CloseOutput(false);
    delete m_pRoot;
    m_pRoot = m_pCurrent = nullptr;
}

bool CXmlDoc::AddSection(const wchar_t* pszName) {
    std::string ansi;
    if (!WideToNarrow(pszName, -1, CP_THREAD_ACP, ansi))
        return false;
    return AddSection(ansi.c_str());
}

bool CXmlDoc::AddSection(const char* pszName) {
    if (!pszName || !m_pRoot || !m_pCurrent)
        return false;
    CXmlElement* pSection = new (std::nothrow) CXmlElement(pszName, nullptr, nullptr);
    if (!pSection)
        return false;
    if (!pSection->GetName() || !m_pCurrent->AppendChild(pSection)) {
        delete pSection;
        return false;
    }
    m_pCurrent = pSection;
    return true;
}

bool CXmlDoc::CloseSection() {
    if (!m_pRoot || !m_pCurrent)
        return false;
    CXmlElement* pParent = m_pCurrent->GetParent();
    if (!pParent || !pParent->GetName())
        return false;
    m_pCurrent = pParent;
    return true;
}

bool CXmlDoc::AddValue(const char* pszName, const CXmlValue& value) {
    if (!pszName || !m_pRoot || !m_pCurrent)
        return false;
    CXmlElement* pElement = new (std::nothrow) CXmlElement(pszName, nullptr, nullptr);
    if (!pElement)
        return false;
    if (!pElement->GetName() || !pElement->SetValue(value) || !m_pCurrent->AppendChild(pElement)) {
        delete pElement;
        return false;
    }
    return true;
}

bool CXmlDoc::AddValue(const char* pszName, int32_t nValue) {
    CXmlValue value;
    value.SetInt32(nValue);
    return AddValue(pszName, static_cast<const CXmlValue&>(value));
}

bool CXmlDoc::AddValue(const char* pszName, bool bValue) {
    CXmlValue value;
    value.SetBool(bValue);
    return AddValue(pszName, static_cast<const CXmlValue&>(value));
}

bool CXmlDoc::AddValue(const char* pszName, const wchar_t* pszValue) {
    CXmlValue value;
    value.SetString(pszValue);
    return AddValue(pszName, static_cast<const CXmlValue&>(value));
}

CXmlElement* CXmlDoc::FindElement(const char* pszPath) const {
    if (!pszPath || !m_pRoot)
        return nullptr;
    CXmlElement* pElement = m_pRoot;
    const char* p = pszPath;
    while (*p && pElement) {
        const char* pEnd = strchr(p, '/');
        size_t cch = pEnd ? static_cast<size_t>(pEnd - p) : strlen(p);
        CXmlElement* pFound = nullptr;
        for (CXmlElement* pChild = pElement->GetFirstChild(); pChild;
             pChild = pChild->GetNextSibling()) {
            const char* pszName = pChild->GetName();
            if (pszName && strlen(pszName) == cch && strncmp(pszName, p, cch) == 0) {
                pFound = pChild;
                break;
            }
        }
        pElement = pFound;
        p += cch;
        if (*p == '/')
            ++p;
    }
    return pElement;
}
