#include "pipe/PipeSettings.h"

#include "xmldoc/XmlDoc.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

std::string ReadText(const CXmlElement* pElement) {
    if (!pElement)
        return std::string();
    const char* psz = pElement->GetValue().GetString();
    return psz ? std::string(psz) : std::string();
}

void ReadTimeout(const CXmlElement* pSection, const char* pszName, DWORD& dwMs) {
    long long n = 0;
    if (ReadDocumentInteger(pSection->FindChild(pszName), n) && n > 0 && n <= LONG_MAX)
        dwMs = static_cast<DWORD>(n);
}

} // namespace

// An integer from any integer type or from decimal text; false when the
// element is missing or holds no number.
bool ReadDocumentInteger(const CXmlElement* pElement, long long& nValue) {
    if (!pElement)
        return false;
    const CXmlValue& v = pElement->GetValue();
    switch (v.GetType()) {
    case XML_I4:
        nValue = v.GetInt32();
        return true;
    case XML_I8:
        nValue = v.GetInt64();
        return true;
    case XML_U1:
        nValue = v.GetUInt8();
        return true;
    case XML_U2:
        nValue = v.GetUInt16();
        return true;
    case XML_U4:
        nValue = v.GetUInt32();
        return true;
    case XML_STRING: {
        const char* psz = v.GetString();
        if (!psz || !*psz)
            return false;
        char* pEnd = nullptr;
        errno = 0;
        nValue = strtoll(psz, &pEnd, 10);
        return errno == 0 && pEnd && *pEnd == '\0';
    }
    default:
        return false;
    }
}

const CXmlElement* LoadSettingsSection(CXmlDoc& doc, const wchar_t* pszXml) {
    if (!doc.LoadXmlText(pszXml))
        return nullptr;
    return doc.FindElement("IP-Settings");
}

HRESULT ReadPipeSettings(const wchar_t* pszXml, const PipeTimeouts& defaults,
                         PipeSettings& settings) {
    settings = PipeSettings();
    settings.timeouts = defaults;
    if (!pszXml || !*pszXml)
        return E_INVALIDARG;
    CXmlDoc doc;
    const CXmlElement* pSection = LoadSettingsSection(doc, pszXml);
    if (!pSection)
        return E_INVALIDARG;

    const std::string method = ReadText(pSection->FindChild("Comms_Method"));
    if (!method.empty()) {
        if (_stricmp(method.c_str(), "TCP") == 0)
            settings.method = PipeSettings::Method::Tcp;
        else if (_stricmp(method.c_str(), "USB") == 0)
            settings.method = PipeSettings::Method::Usb;
        else
            return E_INVALIDARG;
    } else {
        const CXmlElement* pUsb = pSection->FindChild("USB");
        long long n = 0;
        if (pUsb && pUsb->GetValue().GetType() == XML_BOOL)
            n = pUsb->GetValue().GetBool() ? 1 : 0;
        else if (!ReadDocumentInteger(pUsb, n))
            return E_INVALIDARG;
        settings.method = n ? PipeSettings::Method::Usb : PipeSettings::Method::Tcp;
    }

    ReadTimeout(pSection, "ConnectTimeoutMs", settings.timeouts.dwConnectMs);
    ReadTimeout(pSection, "SendTimeoutMs", settings.timeouts.dwSendMs);
    ReadTimeout(pSection, "CloseTimeoutMs", settings.timeouts.dwCloseMs);
    ReadTimeout(pSection, "PausedLimitMs", settings.timeouts.dwPausedMs);

    if (settings.method == PipeSettings::Method::Tcp) {
        settings.strAddress = ReadText(pSection->FindChild("IP-Address"));
        long long nPort = 0;
        if (settings.strAddress.empty() ||
            !ReadDocumentInteger(pSection->FindChild("Port"), nPort) || nPort < 1 || nPort > 65535)
            return E_INVALIDARG;
        settings.nPort = static_cast<int>(nPort);
        return S_OK;
    }
    const std::string port = ReadText(pSection->FindChild("USBPort"));
    if (port.find_first_of("\\/:") != std::string::npos)
        settings.strUsbPort = port;
    settings.strUsbSerial = ReadText(pSection->FindChild("USBPrinterSN"));
    if (settings.strUsbPort.empty() && settings.strUsbSerial.empty())
        return E_INVALIDARG;
    return S_OK;
}
