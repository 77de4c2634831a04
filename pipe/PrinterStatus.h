// PrinterStatus: what the pipe component tells about a network printer's
// state (IPrinterStatus), from three standard host resources objects of
// the printer's row. The row is the first of the printer table: the index
// in the OID that a GETNEXT on the hrPrinterStatus column returns (device
// 1 is not always the printer). Then one GET asks, at that index n:
//
//   hrDeviceStatus              1.3.6.1.2.1.25.3.2.1.5.n  (2 running,
//                               3 warning, 4 testing, 5 down)
//   hrPrinterStatus             1.3.6.1.2.1.25.3.5.1.1.n  (3 idle,
//                               4 printing, 5 warmup; 1 other, 2 unknown)
//   hrPrinterDetectedErrorState 1.3.6.1.2.1.25.3.5.1.2.n  (a bit string
//                               in an OCTET STRING; bit 0 is the most
//                               significant bit of the first byte)
//
// The mapping, first rule that applies:
//   1. No answer to the query and its one retry, or an agent without a
//      printer row: NOT_ANSWERING, "Not answering".
//   2. hrDeviceStatus down (5), or absent (or unknown, 1, or out of range):
//      a condition that stops printing pauses, PAUSED with the text of the
//      most important one present, in this order:
//        "Paper out"          noPaper (1) or inputTrayEmpty (13)
//        "Cover open"         doorOpen (4)
//        "Jammed"             jammed (5)
//        "Offline"            offline (6)
//        "Paper tray missing" inputTrayMissing (8)
//        "Output tray full"   outputFull (12)
//        "Output tray missing" outputTrayMissing (9)
//        "Toner out"          noToner (3)
//        "Supplies missing"   markerSupplyMissing (10)
//        "Service requested"  serviceRequested (7)
//      Warnings (lowPaper 0, lowToner 2, outputNearFull 11,
//      overduePreventMaint 14) and bits past 14 stop nothing. A device
//      that is running (2), warning (3) or testing (4) prints whatever its
//      bits say (service requested, one empty tray of several).
//   3. hrDeviceStatus down (5) with no such condition: WARMING_UP,
//      "Warming up" when hrPrinterStatus is warmup (5), else PAUSED,
//      "Offline".
//   4. hrPrinterStatus warmup (5): WARMING_UP, "Warming up".
//   5. hrPrinterStatus printing (4): PRINTING, "Printing".
//   6. Anything else (idle, other, unknown, an object the agent lacks, an
//      answer with an error status): READY, "Ready". The printer answered
//      and reported nothing that stops it.
// A value of the wrong type counts as missing.
//
// Optional document values, read by the component and never written by
// the program (like the time-outs in PipeSettings.h): "SnmpPort" (1 to
// 65535, default 161), "SnmpTimeoutMs" (per try, default 1000),
// "SnmpCommunity" (default "public").
//
// Threads: the functions share nothing but the run's memory of each
// agent's printer row, which guards itself; CLastPrinterStatus guards
// itself with its own lock, held only to copy a value, so any thread may
// read it while another thread is inside the object's other calls.
#pragma once

#include "framework/Sync.h"
#include "pipe/SnmpClient.h"
#include "printers/PipeInterfaces.h"

#include <atomic>
#include <functional>
#include <string>

// What the agent answered for the three objects; "has" false when it did
// not answer with a value of the right type.
struct PrinterStatusReading {
    bool bAnswered = false;
    bool bHasDeviceStatus = false;
    int64_t nDeviceStatus = 0;
    bool bHasPrinterStatus = false;
    int64_t nPrinterStatus = 0;
    std::vector<uint8_t> errorState; // empty when missing
};

struct PrinterStatus {
    PrinterStatusCode code = PRINTER_STATUS_NOT_ANSWERING;
    std::wstring text;
};

// The three objects of the printer's row nIndex, in the order of the
// request.
std::vector<ber::Oid> PrinterStatusOids(uint32_t nIndex = 1);
// Takes the three values of row nIndex out of an answer (any order, extras
// ignored).
PrinterStatusReading ReadPrinterStatusResponse(const SnmpResponse& response, uint32_t nIndex = 1);
PrinterStatus MapPrinterStatus(const PrinterStatusReading& reading);

// Asks the agent of target for its printer's state: its row first (one
// GETNEXT on the hrPrinterStatus column; the index is remembered for the
// agent for the run, and looked for again when that row no longer
// answers), then one GET of the row's three objects. No answer, or an agent
// without a printer row: NOT_ANSWERING. An agent that left several
// questions in a row unanswered is taken for silent (CSilenceRule) and is
// NOT_ANSWERING at once meanwhile; any answer ends that. S_OK with the
// status; E_ABORT once *pCancel (when given) was seen set; other negative
// values when the socket itself failed. Any thread.
HRESULT AskPrinterStatus(const SnmpTarget& target, PrinterStatus& status,
                         const std::atomic<bool>* pCancel = nullptr);
// The agent of target answered a question of this process within the last
// 5 minutes: one that misses a question now has lost it, not gone away.
bool PrinterAnsweredLately(const SnmpTarget& target);

// One question to the agent's printer row, with the row's finding and the
// memory of a silent agent as AskPrinterStatus describes: a GET of
// makeOids(row), which must ask hrPrinterStatus of the row (the sign that a
// remembered row still answers). S_OK with nIndex the row and response its
// answer; S_OK with nIndex 0 when no printer answered (silent agent, no
// answer, no printer row); E_ABORT and socket failures as AskPrinterStatus.
HRESULT AskPrinterRow(const SnmpTarget& target,
                      const std::function<std::vector<ber::Oid>(uint32_t)>& makeOids,
                      SnmpResponse& response, uint32_t& nIndex,
                      const std::atomic<bool>* pCancel = nullptr);

// The page counter question: hrPrinterStatus and hrDeviceStatus of row
// nIndex and prtMarkerLifeCount of its first marker, in that order, then
// (bUnit) the counter's unit, prtMarkerCounterUnit. Only a counter of
// impressions or sheets counts pages; a counter in another unit (lines,
// inches, hours...) is no page counter. An agent that does not say its unit
// is taken at its word. A version 1 agent is not asked the unit: one that
// lacks it would refuse the whole question.
struct PageCounterReading {
    // A Counter32 (or a non-negative integer) came, in pages
    bool bHasCounter = false;
    uint64_t nPages = 0;
    // hrPrinterStatus idle(3) and the device not down(5); false without a
    // counter.
    bool bIdle = false;
};
std::vector<ber::Oid> PageCounterOids(uint32_t nIndex, bool bUnit = true);
PageCounterReading ReadPageCounterResponse(const SnmpResponse& response, uint32_t nIndex);
// Asks the agent of target for its printer's page counter and whether it is
// idle, through AskPrinterRow. No answer, no printer row, an error status or
// no counter: bHasCounter false. Results as AskPrinterStatus.
HRESULT AskPageCounter(const SnmpTarget& target, PageCounterReading& reading,
                       const std::atomic<bool>* pCancel = nullptr);
// IPrinterPageCounter::ReadPageCounter.
HRESULT CheckPageCounter(const wchar_t* pszXml, ULONGLONG* pullPages, BOOL* pbIdle);

// The SNMP target a configuration document names: S_OK, E_INVALIDARG for
// an unusable document, HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) for USB.
HRESULT ReadSnmpTarget(const wchar_t* pszXml, SnmpTarget& target);

class CLastPrinterStatus {
public:
    void Set(const PrinterStatus& status);
    // NOT_ANSWERING and "" until the first Set.
    PrinterStatus Get();

private:
    CCriticalSection m_lock;
    PrinterStatus m_status;
};

// IPrinterStatus::CheckStatus: reads the document, asks the printer, keeps
// the result in last and returns it.
HRESULT CheckPrinterStatus(const wchar_t* pszXml, CLastPrinterStatus& last, LONG* plCode,
                           BSTR* pbstrText);
// IPrinterStatus::GetLastStatus.
HRESULT GetLastPrinterStatus(CLastPrinterStatus& last, LONG* plCode, BSTR* pbstrText);
