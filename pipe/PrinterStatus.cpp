#include "pipe/PrinterStatus.h"

#include "pipe/PipeSettings.h"
#include "printers/SilenceRule.h"
#include "xmldoc/XmlDoc.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>

namespace {

// The three columns; a row's index follows as the last arc.
const ber::Oid kDeviceStatus = {1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 5};
const ber::Oid kPrinterStatus = {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 1};
const ber::Oid kErrorState = {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2};
// prtMarkerLifeCount: the row's index, then the marker's, follow.
const ber::Oid kMarkerLifeCount = {1, 3, 6, 1, 2, 1, 43, 10, 2, 1, 4};
// prtMarkerCounterUnit, the same way; impressions(7) and sheets(8) are pages.
const ber::Oid kMarkerCounterUnit = {1, 3, 6, 1, 2, 1, 43, 10, 2, 1, 3};
constexpr int64_t kUnitImpressions = 7;
constexpr int64_t kUnitSheets = 8;
constexpr uint8_t kCounter32 = 0x41;

ber::Oid At(const ber::Oid& column, uint32_t nIndex) {
    ber::Oid oid = column;
    oid.push_back(nIndex);
    return oid;
}

// What the run has learnt of each agent (address, port and community): the
// index of its printer's row, and its answers and misses (CSilenceRule).
// Process-wide; guarded by its own lock, held only to copy a value.
class CPrinterMemory {
public:
    bool Silent(const std::string& key) {
        CLock lock(m_lock);
        const auto it = m_silence.find(key);
        return it != m_silence.end() && it->second.Silent(GetTickCount64());
    }
    // A question got an answer, or none.
    void SetAnswered(const std::string& key, bool bAnswered) {
        CLock lock(m_lock);
        CSilenceRule& rule = m_silence[key];
        if (bAnswered)
            rule.Answered(GetTickCount64());
        else
            rule.Missed(GetTickCount64());
    }
    bool AnsweredLately(const std::string& key) {
        CLock lock(m_lock);
        const auto it = m_silence.find(key);
        return it != m_silence.end() && it->second.AnsweredLately(GetTickCount64());
    }
    static CPrinterMemory& Instance() {
        static CPrinterMemory memory;
        return memory;
    }
    uint32_t Index(const std::string& key) {
        CLock lock(m_lock);
        const auto it = m_index.find(key);
        return it == m_index.end() ? 0 : it->second;
    }
    void SetIndex(const std::string& key, uint32_t nIndex) {
        CLock lock(m_lock);
        if (nIndex)
            m_index[key] = nIndex;
        else
            m_index.erase(key);
    }

private:
    CCriticalSection m_lock;
    std::map<std::string, uint32_t> m_index;
    std::map<std::string, CSilenceRule> m_silence;
};

std::string MemoryKey(const SnmpTarget& target) {
    return target.strAddress + ":" + std::to_string(target.nPort) + "/" + target.strCommunity;
}

// The printer's row from a GETNEXT on the hrPrinterStatus column: 0 when
// the answer left the column (no printer row) or is no row of it.
uint32_t PrinterRow(const SnmpResponse& response) {
    if (response.nErrorStatus != 0 || response.varBinds.empty())
        return 0;
    const SnmpVarBind& vb = response.varBinds[0];
    if (vb.value.kind != SnmpValue::Kind::Integer || vb.oid.size() != kPrinterStatus.size() + 1 ||
        !std::equal(kPrinterStatus.begin(), kPrinterStatus.end(), vb.oid.begin()))
        return 0;
    return vb.oid.back();
}

constexpr int64_t kDeviceRunning = 2; // then warning (3), testing (4)
constexpr int64_t kDeviceDown = 5;
constexpr int64_t kPrinterIdle = 3;
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

bool HasInteger(const SnmpResponse& response, const ber::Oid& oid) {
    return std::any_of(response.varBinds.begin(), response.varBinds.end(),
                       [&](const SnmpVarBind& vb) {
                           return vb.oid == oid && vb.value.kind == SnmpValue::Kind::Integer;
                       });
}

// A Counter32's content octets (unsigned, at most 32 bits, with the sign
// octet BER may put in front); false for anything else.
bool DecodeUnsigned32(const std::vector<uint8_t>& bytes, uint64_t& n) {
    if (bytes.empty() || bytes.size() > 5 || (bytes[0] & 0x80) ||
        (bytes.size() == 5 && bytes[0] != 0))
        return false;
    n = 0;
    for (uint8_t b : bytes)
        n = (n << 8) | b;
    return true;
}

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

std::vector<ber::Oid> PrinterStatusOids(uint32_t nIndex) {
    return {At(kDeviceStatus, nIndex), At(kPrinterStatus, nIndex), At(kErrorState, nIndex)};
}

PrinterStatusReading ReadPrinterStatusResponse(const SnmpResponse& response, uint32_t nIndex) {
    PrinterStatusReading reading;
    reading.bAnswered = true;
    const ber::Oid device = At(kDeviceStatus, nIndex), printer = At(kPrinterStatus, nIndex),
                   errors = At(kErrorState, nIndex);
    for (const SnmpVarBind& vb : response.varBinds) {
        const SnmpValue& v = vb.value;
        if (vb.oid == device && v.kind == SnmpValue::Kind::Integer) {
            reading.bHasDeviceStatus = true;
            reading.nDeviceStatus = v.nInteger;
        } else if (vb.oid == printer && v.kind == SnmpValue::Kind::Integer) {
            reading.bHasPrinterStatus = true;
            reading.nPrinterStatus = v.nInteger;
        } else if (vb.oid == errors && v.kind == SnmpValue::Kind::OctetString) {
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

bool PrinterAnsweredLately(const SnmpTarget& target) {
    return CPrinterMemory::Instance().AnsweredLately(MemoryKey(target));
}

HRESULT AskPrinterRow(const SnmpTarget& target,
                      const std::function<std::vector<ber::Oid>(uint32_t)>& makeOids,
                      SnmpResponse& response, uint32_t& nIndex, const std::atomic<bool>* pCancel) {
    const HRESULT kTimedOut = HRESULT_FROM_WIN32(WSAETIMEDOUT);
    CPrinterMemory& memory = CPrinterMemory::Instance();
    const std::string key = MemoryKey(target);
    // A printer that does not answer is not asked again every time: each
    // question costs it about twice the time-out.
    nIndex = 0;
    if (memory.Silent(key))
        return S_OK;
    uint32_t nRow = memory.Index(key);
    // Two rounds at most: a remembered row that is gone is looked for again.
    for (int nRound = 0; nRound < 2; ++nRound) {
        HRESULT hr = S_OK;
        const bool bFind = nRow == 0;
        if (bFind) {
            hr = SnmpGetNext(target, {kPrinterStatus}, response, pCancel);
            if (hr == kTimedOut) {
                memory.SetAnswered(key, false);
                return S_OK;
            }
            if (FAILED(hr))
                return hr;
            memory.SetAnswered(key, true);
            nRow = PrinterRow(response);
            memory.SetIndex(key, nRow);
            // An agent without a printer row: no printer answers there.
            if (!nRow)
                return S_OK;
        }
        hr = SnmpGet(target, makeOids(nRow), response, pCancel);
        if (hr == kTimedOut) {
            memory.SetAnswered(key, false);
            return S_OK;
        }
        if (FAILED(hr))
            return hr;
        memory.SetAnswered(key, true);
        if (bFind || HasInteger(response, At(kPrinterStatus, nRow))) {
            nIndex = nRow;
            return S_OK;
        }
        memory.SetIndex(key, 0);
        nRow = 0;
    }
    return S_OK;
}

HRESULT AskPrinterStatus(const SnmpTarget& target, PrinterStatus& status,
                         const std::atomic<bool>* pCancel) {
    SnmpResponse response;
    uint32_t nIndex = 0;
    const HRESULT hr = AskPrinterRow(
        target, [](uint32_t n) { return PrinterStatusOids(n); }, response, nIndex, pCancel);
    if (FAILED(hr))
        return hr;
    status = nIndex ? MapPrinterStatus(ReadPrinterStatusResponse(response, nIndex))
                    : PrinterStatus{PRINTER_STATUS_NOT_ANSWERING, L"Not answering"};
    return S_OK;
}

std::vector<ber::Oid> PageCounterOids(uint32_t nIndex, bool bUnit) {
    ber::Oid counter = At(kMarkerLifeCount, nIndex);
    counter.push_back(1); // the first marker
    std::vector<ber::Oid> oids{At(kPrinterStatus, nIndex), At(kDeviceStatus, nIndex), counter};
    if (bUnit) {
        ber::Oid unit = At(kMarkerCounterUnit, nIndex);
        unit.push_back(1);
        oids.push_back(std::move(unit));
    }
    return oids;
}

PageCounterReading ReadPageCounterResponse(const SnmpResponse& response, uint32_t nIndex) {
    PageCounterReading reading;
    const std::vector<ber::Oid> oids = PageCounterOids(nIndex);
    bool bPrinterIdle = false, bDeviceDown = false, bOtherUnit = false;
    for (const SnmpVarBind& vb : response.varBinds) {
        const SnmpValue& v = vb.value;
        if (vb.oid == oids[3] && v.kind == SnmpValue::Kind::Integer) {
            bOtherUnit = v.nInteger != kUnitImpressions && v.nInteger != kUnitSheets;
        } else if (vb.oid == oids[0] && v.kind == SnmpValue::Kind::Integer) {
            bPrinterIdle = v.nInteger == kPrinterIdle;
        } else if (vb.oid == oids[1] && v.kind == SnmpValue::Kind::Integer) {
            bDeviceDown = v.nInteger == kDeviceDown;
        } else if (vb.oid == oids[2]) {
            uint64_t n = 0;
            if (v.kind == SnmpValue::Kind::Other && v.tag == kCounter32 &&
                DecodeUnsigned32(v.bytes, n)) {
                reading.bHasCounter = true;
                reading.nPages = n;
            } else if (v.kind == SnmpValue::Kind::Integer && v.nInteger >= 0) {
                // Some printers answer with a plain integer.
                reading.bHasCounter = true;
                reading.nPages = static_cast<uint64_t>(v.nInteger);
            }
        }
    }
    if (bOtherUnit) {
        reading.bHasCounter = false;
        reading.nPages = 0;
    }
    // A printer stopped by a condition (paper out, cover open) is not done
    // with the job, whatever its printer status says.
    reading.bIdle = reading.bHasCounter && bPrinterIdle && !bDeviceDown;
    return reading;
}

HRESULT AskPageCounter(const SnmpTarget& target, PageCounterReading& reading,
                       const std::atomic<bool>* pCancel) {
    reading = PageCounterReading();
    SnmpResponse response;
    uint32_t nIndex = 0;
    const HRESULT hr = AskPrinterRow(
        target,
        [&target](uint32_t n) { return PageCounterOids(n, target.version != SnmpVersion::V1); },
        response, nIndex, pCancel);
    if (FAILED(hr))
        return hr;
    if (nIndex && response.nErrorStatus == 0)
        reading = ReadPageCounterResponse(response, nIndex);
    return S_OK;
}

HRESULT CheckPageCounter(const wchar_t* pszXml, ULONGLONG* pullPages, BOOL* pbIdle) {
    if (!pullPages || !pbIdle)
        return E_POINTER;
    *pullPages = 0;
    *pbIdle = FALSE;
    SnmpTarget target;
    HRESULT hr = ReadSnmpTarget(pszXml, target);
    if (FAILED(hr))
        return hr;
    PageCounterReading reading;
    hr = AskPageCounter(target, reading);
    if (FAILED(hr))
        return hr;
    if (!reading.bHasCounter)
        return S_FALSE;
    *pullPages = reading.nPages;
    *pbIdle = reading.bIdle ? TRUE : FALSE;
    return S_OK;
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
    PrinterStatus status;
    hr = AskPrinterStatus(target, status);
    if (FAILED(hr))
        return hr;
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
