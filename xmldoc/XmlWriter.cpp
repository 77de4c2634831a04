// The output half of the document's text channel and GetXml.
#include "xmldoc/XmlDoc.h"

#include "framework/CodePage.h"

#include <cstring>

namespace {

const char kDeclaration[] = "<?xml version=\"1.0\"?>";
const int kCreateRetries = 10;
const DWORD kCreateRetryDelayMs = 100;

} // namespace

void CXmlDoc::CloseOutput(bool bFlush) {
    if (m_nChannel == CHANNEL_OUTPUT) {
        if (bFlush)
            Flush();
        m_file.reset();
        m_nCount = 0;
        m_nPosition = -1;
        m_nChannel = CHANNEL_CLOSED;
    }
    if (m_bstrOutput) {
        SysFreeString(m_bstrOutput);
        m_bstrOutput = nullptr;
    }
}

bool CXmlDoc::OpenOutput(const char* pszFileUtf8) {
    CloseInput();
    CloseOutput(true);
    if (pszFileUtf8) {
        std::wstring wide;
        if (!NarrowToWide(pszFileUtf8, -1, CP_UTF8, wide))
            return false;
        for (int nAttempt = 0; nAttempt <= kCreateRetries && !m_file; ++nAttempt) {
            if (nAttempt > 0)
                Sleep(kCreateRetryDelayMs);
            m_file.reset(
                CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        }
        if (!m_file)
            return false;
    }
    m_nChannel = CHANNEL_OUTPUT;
    m_nCount = 0;
    m_nPosition = XML_BUFFER_SIZE;
    return true;
}

bool CXmlDoc::Put(const char* psz) {
    if (!psz || !*psz)
        return true;
    size_t cb = strlen(psz);
    if (cb > static_cast<size_t>(XML_TOKEN_SIZE))
        return false;
    return PutBytes(psz, static_cast<ptrdiff_t>(cb));
}

bool CXmlDoc::PutBytes(const char* pch, ptrdiff_t cb) {
    if (!pch || cb <= 0)
        return true;
    if (cb > XML_TOKEN_SIZE || m_nChannel != CHANNEL_OUTPUT)
        return false;
    if (m_nPosition < cb) {
        if (!Flush() || m_nPosition < cb)
            return false;
    }
    memcpy(m_Buffer + m_nCount, pch, static_cast<size_t>(cb));
    m_nCount += static_cast<int>(cb);
    m_nPosition -= static_cast<int>(cb);
    return true;
}

bool CXmlDoc::Flush() {
    if (m_nChannel != CHANNEL_OUTPUT)
        return false;
    if (m_nCount == 0)
        return true;
    if (m_file) {
        DWORD cbWritten = 0;
        if (!WriteFile(m_file.get(), m_Buffer, static_cast<DWORD>(m_nCount), &cbWritten, nullptr) ||
            cbWritten != static_cast<DWORD>(m_nCount))
            return false;
    } else {
        m_Buffer[m_nCount] = '\0';
        int cchNew = MultiByteToWideChar(CP_UTF8, 0, m_Buffer, m_nCount, nullptr, 0);
        if (cchNew <= 0)
            return false;
        UINT cchOld = m_bstrOutput ? SysStringLen(m_bstrOutput) : 0;
        BSTR bstr = SysAllocStringLen(nullptr, cchOld + static_cast<UINT>(cchNew));
        if (!bstr)
            return false;
        if (cchOld)
            memcpy(bstr, m_bstrOutput, cchOld * sizeof(wchar_t));
        if (MultiByteToWideChar(CP_UTF8, 0, m_Buffer, m_nCount, bstr + cchOld, cchNew) != cchNew) {
            SysFreeString(bstr);
            return false;
        }
        bstr[cchOld + cchNew] = L'\0';
        SysFreeString(m_bstrOutput);
        m_bstrOutput = bstr;
    }
    m_nCount = 0;
    m_nPosition = XML_BUFFER_SIZE;
    return true;
}

bool CXmlDoc::FinishOutput(BSTR* pbstr) {
    bool bFlushed = Flush();
    if (m_nChannel == CHANNEL_OUTPUT && m_file) {
        CloseOutput(false);
        return bFlushed && !pbstr;
    }
    bool bOk = bFlushed && m_bstrOutput != nullptr;
    if (pbstr && !*pbstr) {
        *pbstr = m_bstrOutput;
        m_bstrOutput = nullptr;
    }
    if (m_bstrOutput) {
        SysFreeString(m_bstrOutput);
        m_bstrOutput = nullptr;
    }
    if (m_nChannel == CHANNEL_OUTPUT) {
        m_nCount = 0;
        m_nPosition = XML_BUFFER_SIZE;
    }
    return bOk;
}

bool CXmlDoc::GetXml(BSTR* pbstr) {
    if (!pbstr || *pbstr || !m_pRoot)
        return false;
    if (!OpenOutput(nullptr))
        return false;
    if (!Put(kDeclaration) || !m_pRoot->WriteXml(this)) {
        CloseOutput(false);
        return false;
    }
    bool bOk = FinishOutput(pbstr);
    if (!bOk && *pbstr) {
        SysFreeString(*pbstr);
        *pbstr = nullptr;
    }
    return bOk;
}
