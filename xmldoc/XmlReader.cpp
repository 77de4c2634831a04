// The input half of the document's text channel: the block reader, the
// tokenizer and the loading entry points. The element builder that the
// tokens feed is CXmlElement::InitFromTag.
#include "xmldoc/XmlDoc.h"

#include "framework/CodePage.h"

#include <cstring>
#include <new>

namespace {

const char kDeclarationStart[] = "?xml version=\"1.0\"";

} // namespace

void CXmlDoc::CloseInput() {
    if (m_nChannel == CHANNEL_INPUT) {
        m_file.reset();
        m_nCount = 0;
        m_nPosition = -1;
        m_nChannel = CHANNEL_CLOSED;
    }
    m_pszInput = nullptr;
    m_nInputPos = -1;
    m_nInputLength = 0;
    m_nPushBack = 0;
    m_bPendingTag = false;
}

bool CXmlDoc::OpenInput(const char* pszSource, int bIsFile) {
    CloseInput();
    CloseOutput(true);
    if (!pszSource)
        return false;
    if (bIsFile) {
        std::wstring wide;
        if (!NarrowToWide(pszSource, -1, CP_UTF8, wide))
            return false;
        m_file.reset(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
        if (!m_file)
            return false;
    } else {
        m_pszInput = pszSource;
        m_nInputPos = 0;
        m_nInputLength = static_cast<ptrdiff_t>(strlen(pszSource));
    }
    m_nChannel = CHANNEL_INPUT;
    m_nCount = 0;
    m_nPosition = 0;
    if (Refill())
        return true;
    CloseInput();
    return false;
}

bool CXmlDoc::Refill() {
    if (m_nChannel != CHANNEL_INPUT)
        return false;
    int cbGot = 0;
    if (m_pszInput) {
        ptrdiff_t cbLeft = m_nInputLength - m_nInputPos;
        if (cbLeft <= 0)
            return false;
        cbGot = cbLeft > XML_BUFFER_SIZE ? XML_BUFFER_SIZE : static_cast<int>(cbLeft);
        memcpy(m_Buffer, m_pszInput + m_nInputPos, static_cast<size_t>(cbGot));
        m_nInputPos += cbGot;
    } else {
        DWORD cbRead = 0;
        if (!m_file || !ReadFile(m_file.get(), m_Buffer, XML_BUFFER_SIZE, &cbRead, nullptr) ||
            cbRead == 0)
            return false;
        cbGot = static_cast<int>(cbRead);
    }
    m_Buffer[cbGot] = '\0';
    m_nCount = cbGot;
    m_nPosition = 0;
    return true;
}

void CXmlDoc::PushBack(int nByte) {
    if (m_nPushBack < static_cast<int>(sizeof(m_PushBack)))
        m_PushBack[m_nPushBack++] = static_cast<char>(nByte);
}

// The next raw byte of the input (returned bytes first); false at the end.
bool CXmlDoc::ReadNextByte(int* pnByte) {
    if (m_nPushBack > 0) {
        *pnByte = static_cast<unsigned char>(m_PushBack[--m_nPushBack]);
        return true;
    }
    if (m_nCount <= 0)
        return false;
    if (m_nPosition >= m_nCount && !Refill())
        return false;
    *pnByte = static_cast<unsigned char>(m_Buffer[m_nPosition++]);
    return true;
}

int CXmlDoc::ReadChar(bool bSkip) {
    for (;;) {
        int c = 0;
        if (!ReadNextByte(&c))
            return 0;
        if (c == 0) {
            // A NUL ends the input for good.
            m_nCount = 0;
            m_nPushBack = 0;
            return 0;
        }
        if (c == '&')
            c = ReadEntity();
        if (bSkip && (c == '\r' || c == '\n' || c == '\t'))
            continue;
        return c;
    }
}

int CXmlDoc::ReadEntity() {
    static const char* const kEntities[] = {"amp;", "lt;", "gt;"};
    static const int kCodes[] = {'&', 1, 2};

    // Bytes looked at after the "&"; at most the longest entity.
    int seen[4];
    int nSeen = 0;
    int c = 0;
    if (!ReadNextByte(&c))
        return '&';
    seen[nSeen++] = c;
    int nEntity = -1;
    for (int i = 0; i < 3; ++i) {
        if (c == kEntities[i][0])
            nEntity = i;
    }
    if (nEntity >= 0) {
        const char* pszRest = kEntities[nEntity] + 1;
        bool bMatched = true;
        for (; *pszRest; ++pszRest) {
            if (!ReadNextByte(&c)) {
                bMatched = false;
                break;
            }
            seen[nSeen++] = c;
            if (c != static_cast<unsigned char>(*pszRest)) {
                bMatched = false;
                break;
            }
        }
        if (bMatched)
            return kCodes[nEntity];
    }
    // No entity: everything looked at is read again as ordinary input.
    while (nSeen > 0)
        PushBack(seen[--nSeen]);
    return '&';
}

int CXmlDoc::NextToken(const char** ppszText) {
    // Markup declarations are dropped in a loop, not by recursion, so a
    // long run of them cannot exhaust the stack.
    for (;;) {
        m_Token[0] = '\0';
        if (ppszText)
            *ppszText = m_Token;
        bool bInTag = m_bPendingTag;
        m_bPendingTag = false;
        int c = ReadChar(true);
        if (c == '<') {
            bInTag = true;
            c = ReadChar(false);
        }
        if (c == 0)
            return TOKEN_END;

        bool bEndTag = false;
        bool bDeclaration = false;
        int cch = 0;
        if (bInTag && c == '/')
            bEndTag = true;
        else if (bInTag && c == '!')
            bDeclaration = true;
        else
            m_Token[cch++] = static_cast<char>(c == 1 ? '<' : c == 2 ? '>' : c);

        bool bEndedByOpen = false;
        for (;;) {
            c = ReadChar(false);
            if (c == 0)
                return TOKEN_END;
            if (c == '<') {
                m_bPendingTag = true;
                bEndedByOpen = true;
                break;
            }
            if (c == '>' && bInTag)
                break;
            m_Token[cch++] = static_cast<char>(c == 1 ? '<' : c == 2 ? '>' : c);
            if (cch >= XML_TOKEN_SIZE) {
                m_Token[0] = '\0';
                return TOKEN_END;
            }
        }
        m_Token[cch] = '\0';

        if (bDeclaration)
            continue;
        if (bEndTag)
            return bEndedByOpen ? TOKEN_END : TOKEN_CLOSE;
        if (bEndedByOpen)
            return TOKEN_TEXT;
        if (cch > 0 && m_Token[cch - 1] == '/') {
            m_Token[--cch] = '\0';
            return TOKEN_EMPTY;
        }
        return TOKEN_OPEN;
    }
}

bool CXmlDoc::EnterLevel() {
    if (m_nDepth >= XML_MAX_DEPTH)
        return false;
    ++m_nDepth;
    return true;
}

void CXmlDoc::LeaveLevel() {
    if (m_nDepth > 0)
        --m_nDepth;
}

bool CXmlDoc::LoadXml(const char* pszSource, int nMode) {
    Reset();
    m_nDepth = 0;
    if (!pszSource)
        return false;
    if (nMode == LOAD_NEW) {
        return AdoptRoot(new (std::nothrow) CXmlElement(pszSource, nullptr, nullptr));
    }
    if (!OpenInput(pszSource, nMode != LOAD_TEXT))
        return false;

    const char* pszText = nullptr;
    int nToken = NextToken(&pszText);
    if (nToken != TOKEN_END && strncmp(pszText, kDeclarationStart, strlen(kDeclarationStart)) == 0)
        nToken = NextToken(&pszText);

    CXmlElement* pRoot = nullptr;
    if (nToken == TOKEN_EMPTY)
        pRoot = new (std::nothrow) CXmlElement(pszText, nullptr, nullptr);
    else if (nToken == TOKEN_OPEN && pszText[0])
        pRoot = new (std::nothrow) CXmlElement(pszText, nullptr, this);
    CloseInput();
    m_nDepth = 0;

    return AdoptRoot(pRoot);
}

bool CXmlDoc::AdoptRoot(CXmlElement* pRoot) {
    if (!pRoot)
        return false;
    if (!pRoot->GetName()) {
        delete pRoot;
        return false;
    }
    m_pRoot = m_pCurrent = pRoot;
    return true;
}

bool CXmlDoc::LoadXmlText(const wchar_t* pszText) {
    std::string utf8;
    if (!WideToNarrow(pszText, -1, CP_UTF8, utf8)) {
        Reset();
        return false;
    }
    return LoadXml(utf8.c_str(), LOAD_TEXT);
}

bool CXmlDoc::AppendXml(const char* pszSource, int bIsFile) {
    if (!pszSource || !m_pRoot || !m_pCurrent)
        return false;
    CXmlDoc* pOther = new (std::nothrow) CXmlDoc(pszSource, bIsFile ? LOAD_FILE : LOAD_TEXT);
    if (!pOther)
        return false;
    CXmlElement* pRoot = pOther->m_pRoot;
    pOther->m_pRoot = pOther->m_pCurrent = nullptr;
    delete pOther;
    if (!pRoot)
        return false;
    if (!m_pCurrent->AppendChild(pRoot)) {
        delete pRoot;
        return false;
    }
    return true;
}

bool CXmlDoc::AppendXmlSection(const char* pszSource, int bIsFile) {
    if (!AppendXml(pszSource, bIsFile))
        return false;
    m_pCurrent = m_pCurrent->GetLastChild();
    return true;
}
