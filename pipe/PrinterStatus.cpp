#include "pipe/PrinterStatus.h"

#include "pipe/PipeSettings.h"
#include "xmldoc/XmlDoc.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

const ber::Oid kDeviceStatus = {1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 5, 1};
const ber::Oid kPrinterStatus = {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 1, 1};
const ber::Oid kErrorState = {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1};

constexpr int64_t kDeviceRunning = 2; // then warning (3), testing (4)
constexpr int64_t kDeviceDown = 5;
constexpr int64_t kPrinterPrinting = 4;
constexpr int64_t kPrinterWarmup = 5;

// The conditions that stop printing, most important first; a text may
// stand for more than one bit.
struct StopCondition {
    int nBit;
    const wchar_t* pszText;
};
const StopCondition kStopConditions[] = {
    {1, L"Paper out"},           // noPaper
    {13, L"Paper out"},          // inputTrayEmpty
    {4, L"Cover open"},          // doorOpen
    {5, L"Jammed"},              // jammed
    {6, L"Offline"},             // offline
    {8, L"Paper tray missing"},  // inputTrayMissing
    {12, L"Output tray full"},   // outputFull
    {9, L"Output tray missing"}, // outputTrayMissing
    {3, L"Toner out"},           // noToner
    {10, L"Supplies missing"},   // markerSupplyMissing
    {7, L"Service requested"},   // serviceRequested
};

bool BitSet(const std::vector<uint8_t>& bits, int nBit) {
    const size_t nByte = static_cast<size_t>(nBit) / 8;
    return nByte < bits.size() && (bits[nByte] & (0x80 >> (nBit % 8)));
}

HRESULT ReturnStatus(const PrinterStatus& status, LONG* plCode, BSTR* pbstrText) {
    BSTR bstr = SysAllocStringLen(status.text.data(), static_cast<UINT>(status.text.size()));
    if (!bstr)
        return E_OUTOFMEMORY;
    *plCode = status.code;
    *pbstrText = bstr;
    return S_OK;
}

} // namespace

const std::vector<ber::Oid>& PrinterStatusOids() {
    static const std::vector<ber::Oid> oids = {kDeviceStatus, kPrinterStatus, kErrorState};
    return oids;
}

PrinterStatusReading ReadPrinterStatusResponse(const SnmpResponse& response) {
    PrinterStatusReading reading;
    reading.bAnswered = true;
    for (const SnmpVarBind& vb : response.varBinds) {
        const SnmpValue& v = vb.value;
        if (vb.oid == kDeviceStatus && v.kind == SnmpValue::Kind::Integer) {
            reading.bHasDeviceStatus = true;
            reading.nDeviceStatus = v.nInteger;
        } else if (vb.oid == kPrinterStatus && v.kind == SnmpValue::Kind::Integer) {
            reading.bHasPrinterStatus = true;
            reading.nPrinterStatus = v.nInteger;
        } else if (vb.oid == kErrorState && v.kind == SnmpValue::Kind::OctetString) {
            reading.errorState = v.bytes;
        }
    }
    return reading;
}

PrinterStatus MapPrinterStatus(const PrinterStatusReading& reading) {
    if (!reading.bAnswered)
        return {PRINTER_STATUS_NOT_ANSWERING, L"Not answering"};
    const bool bDeviceSays = reading.bHasDeviceStatus && reading.nDeviceStatus >= kDeviceRunning &&
                             reading.nDeviceStatus <= kDeviceDown;
    // Running, warning or testing: printing goes on, whatever the bits say
    // (service requested, one empty tray of several).
    if (!bDeviceSays || reading.nDeviceStatus == kDeviceDown) {
        for (const StopCondition& c : kStopConditions) {
            if (BitSet(reading.errorState, c.nBit))
                return {PRINTER_STATUS_PAUSED, c.pszText};
        }
    }
    const bool bWarmup = reading.bHasPrinterStatus && reading.nPrinterStatus == kPrinterWarmup;
    if (bDeviceSays && reading.nDeviceStatus == kDeviceDown)
        return bWarmup ? PrinterStatus{PRINTER_STATUS_WARMING_UP, L"Warming up"}
                       : PrinterStatus{PRINTER_STATUS_PAUSED, L"Offline"};
    if (bWarmup)
        return {PRINTER_STATUS_WARMING_UP, L"Warming up"};
    if (reading.bHasPrinterStatus && reading.nPrinterStatus == kPrinterPrinting)
        return {PRINTER_STATUS_PRINTING, L"Printing"};
    return {PRINTER_STATUS_READY, L"Ready"};
}

HRESULT ReadSnmpTarget(const wchar_t* pszXml, SnmpTarget& target) {
    target = SnmpTarget();
    // The same rules as Configure for the method and the address.
    PipeSettings settings;
    const HRESULT hr = ReadPipeSettings(pszXml, PipeTimeouts(), settings);
    if (FAILED(hr))
        return hr;
    if (settings.method != PipeSettings::Method::Tcp)
        return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
    target.strAddress = settings.strAddress;

    CXmlDoc doc;
    const CXmlElement* pSection = LoadSettingsSection(doc, pszXml);
    if (!pSection)
        return E_INVALIDARG;
    long long n = 0;
    if (ReadDocumentInteger(pSection->FindChild("SnmpPort"), n) && n >= 1 && n <= 65535)
        target.nPort = static_cast<int>(n);
    if (ReadDocumentInteger(pSection->FindChild("SnmpTimeoutMs"), n) && n > 0 && n <= LONG_MAX)
        target.dwTimeoutMs = static_cast<DWORD>(n);
    if (const CXmlElement* pCommunity = pSection->FindChild("SnmpCommunity")) {
        const char* psz = pCommunity->GetValue().GetString();
        if (psz && *psz)
            target.strCommunity = psz;
    }
    return S_OK;
}

void CLastPrinterStatus::Set(const PrinterStatus& status) {
    CLock lock(m_lock);
    m_status = status;
}

PrinterStatus CLastPrinterStatus::Get() {
    CLock lock(m_lock);
    return m_status;
}

HRESULT CheckPrinterStatus(const wchar_t* pszXml, CLastPrinterStatus& last, LONG* plCode,
                           BSTR* pbstrText) {
    if (!plCode || !pbstrText)
        return E_POINTER;
    *plCode = PRINTER_STATUS_NOT_ANSWERING;
    *pbstrText = nullptr;
    SnmpTarget target;
    HRESULT hr = ReadSnmpTarget(pszXml, target);
    if (FAILED(hr))
        return hr;
    SnmpResponse response;
    hr = SnmpGet(target, PrinterStatusOids(), response);
    PrinterStatusReading reading;
    if (SUCCEEDED(hr))
        reading = ReadPrinterStatusResponse(response);
    else if (hr != HRESULT_FROM_WIN32(WSAETIMEDOUT))
        return hr;
    const PrinterStatus status = MapPrinterStatus(reading);
    last.Set(status);
    return ReturnStatus(status, plCode, pbstrText);
}

HRESULT GetLastPrinterStatus(CLastPrinterStatus& last, LONG* plCode, BSTR* pbstrText) {
    if (!plCode || !pbstrText)
        return E_POINTER;
    *plCode = PRINTER_STATUS_NOT_ANSWERING;
    *pbstrText = nullptr;
    return ReturnStatus(last.Get(), plCode, pbstrText);
}
