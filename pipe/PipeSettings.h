// PipeSettings: what the pipe component takes from its configuration
// document, the one-line XML text the pipe printers build:
//
//   root element (any name) / "IP-Settings" /
//     "Comms_Method"  "TCP" or "USB" (letter case ignored); when missing,
//                     the boolean "USB" decides; with neither the document
//                     is refused
//     "IP-Address"    dotted IPv4 address (TCP)
//     "Port"          TCP port, 1 to 65535 (TCP)
//     "USBPort"       USB: an explicit path that wins over the serial
//                     number: a device interface path, a device name such
//                     as \\.\USB001, or an existing file; recognised by a
//                     "\", "/" or ":" in it. A bare port name such as USB001
//                     (a print spooler port, which cannot be opened) is
//                     ignored, like an empty text. TCP ignores it.
//     "USBPrinterSN"  USB: serial number of the attached printer to use
//     "USBPrinterName" not used (the serial number identifies the printer)
//     "ConnectTimeoutMs", "SendTimeoutMs", "CloseTimeoutMs", "PausedLimitMs"
//                     optional positive integers overriding the component's
//                     time-outs (the program never writes them)
//
// Numbers may be given with any integer type or as decimal text. Elements
// the component does not know are ignored.
#pragma once

#include "pipe/Transport.h"

#include <string>

struct PipeSettings {
    enum class Method { Tcp, Usb };
    Method method = Method::Tcp;
    std::string strAddress;
    int nPort = 0;
    std::string strUsbPort; // an explicit path, or empty
    std::string strUsbSerial;
    PipeTimeouts timeouts;
};

// Reads the document (UTF-16 text). E_INVALIDARG when it cannot be read or
// lacks what the chosen method needs; timeouts start from the given defaults.
class CXmlElement;

class CXmlDoc;

// The document's "IP-Settings" section, with the text loaded into doc
// (which keeps the section alive); null when the text is no document or
// lacks the section.
const CXmlElement* LoadSettingsSection(CXmlDoc& doc, const wchar_t* pszXml);

// An integer value of the document, of any integer type or decimal text;
// false when the element is missing or holds no number.
bool ReadDocumentInteger(const CXmlElement* pElement, long long& nValue);

HRESULT ReadPipeSettings(const wchar_t* pszXml, const PipeTimeouts& defaults,
                         PipeSettings& settings);
