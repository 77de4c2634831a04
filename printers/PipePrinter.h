// The pipe printers: outputs that hand the document to the pipe component
// (PipeInterfaces.h) instead of talking to the device. CIP_Pipe_Printer
// reaches a network printer by IPv4 address, CUSB_Pipe_Printer a USB
// printer by serial number. Both are a CPipePrinter and differ in the
// configuration document that Open builds and hands to the component. Both
// answer QueryState and GetWaitText through the component's IPrinterStatus
// (SNMP for the network printer, the status byte for the USB printer).
//
// Ownership: the holder (CPipeHolder) keeps one reference to the component,
// from Open until a successful Close or Abort, or else until the
// destructor, which aborts the transfer (IPipe::Abort: the connection is
// dropped, never ended in order) and then releases it.
// Threads: the worker's, inside its multithreaded apartment (the component
// is created there directly, without a proxy). Abort may also come from
// another thread while the worker is inside WriteData or Finish: the
// holder's lock (held only to read or change the pointer and the aborted
// flag and to take a reference, never across any other call into the
// component, never while a reference goes) hands each call its own
// reference (a CComPtr), so Abort's release never frees the component under a
// running call; the component's Abort is what makes that call return.
// Failure: a refused chunk shows "CIP_Pipe_Printer::Send_Data failed"
// (for both classes, unless the printer is quiet) and returns -1; a chunk
// refused because the copy was aborted shows nothing. The holder keeps the
// step and the component's code of the last failure for GetFailureText.
#pragma once

#include "framework/ComPtr.h"
#include "framework/Sync.h"
#include "printers/PipeInterfaces.h"
#include "printers/Printer.h"

#include <memory>
#include <string>

// The steps of a document through the component, and the user's words for
// a failure at one of them with the component's code (PipeFailureText).
enum class PipeStep { None, Create, Configure, Write, Finish };
CString PipeFailureText(PipeStep step, HRESULT hr, bool bUSB);

// The component of one pipe printer and what the printer does with it.
class CPipeHolder {
public:
    CPipeHolder() = default;
    ~CPipeHolder();
    CPipeHolder(const CPipeHolder&) = delete;
    CPipeHolder& operator=(const CPipeHolder&) = delete;

    BOOL Open(CSpoolerSetup* pSetup, bool bUSB);
    // bQuiet: no box about a refused chunk.
    int Send(const void* pData, int nLength, bool bQuiet);
    BOOL Close();
    BOOL Abort();
    IPipe* Get() const;
    // The wait text of the open component (see CPrinter::GetWaitText).
    CString GetWaitText();
    // The last failure's words (empty when none, or when aborted on purpose).
    CString GetFailureText() const;

private:
    // Worker's thread only: notes a failure at a step (not an abort).
    void Failed(PipeStep step, HRESULT hr);

    // A reference of the caller's own to the component (null when there
    // is none); false when aborted.
    bool Borrow(CComPtr<IPipe>& pPipe);

    mutable CCriticalSection m_cs;
    // Under m_cs; a reference is never released while it is held.
    CComPtr<IPipe> m_pPipe;
    bool m_bAborted = false;
    // Worker's thread only.
    bool m_bUSB = false;
    PipeStep m_failedStep = PipeStep::None;
    HRESULT m_hrFailed = S_OK;
};

// What both pipe printers share: the holder, and the calls that only pass
// through it. Open hands the component the document of the printer kind
// the subclass names.
class CPipePrinter : public CPrinter {
public:
    ~CPipePrinter() override = default;
    CPipePrinter(const CPipePrinter&) = delete;
    CPipePrinter& operator=(const CPipePrinter&) = delete;

    BOOL Open(CSpoolerSetup* pSetup, CString strJobName) override;
    BOOL Close() override;
    int Send_Data(const void* pData, int nLength) override;
    BOOL Abort() override;
    CString GetFailureText() override { return m_pipe.GetFailureText(); }
    // Through the component's printer state interface; Unknown for a
    // component without it, or one that cannot ask this kind of printer.
    PrinterState QueryState(CSpoolerSetup* pSetup, CString& strText) override;
    // The component's last state (IPrinterStatus::GetLastStatus) when it
    // says paused or warming up; empty for a component without it.
    CString GetWaitText() override { return m_pipe.GetWaitText(); }

    IPipe* GetPipe() const { return m_pipe.Get(); }

protected:
    explicit CPipePrinter(bool bUSB) : m_bUSB(bUSB) {}

    CPipeHolder m_pipe;

private:
    const bool m_bUSB;
};

// A network printer's page counter through the component's
// IPrinterPageCounter (see PageCountSource.h).
class CPipePageCountSource : public IPageCountSource {
public:
    // pCounter: the component's interface; xml: the printer's document.
    CPipePageCountSource(CComPtr<IPrinterPageCounter> pCounter, std::wstring xml)
        : m_pCounter(std::move(pCounter)), m_xml(std::move(xml)) {}
    bool Read(uint64_t& nPages, bool& bIdle) override;

private:
    CComPtr<IPrinterPageCounter> m_pCounter;
    std::wstring m_xml;
};

class CIP_Pipe_Printer : public CPipePrinter {
public:
    CIP_Pipe_Printer() : CPipePrinter(false) {}

    // Through the component's IPrinterPageCounter; null for a component
    // without it.
    std::unique_ptr<IPageCountSource> MakePageCountSource(CSpoolerSetup* pSetup) override;
};

class CUSB_Pipe_Printer : public CPipePrinter {
public:
    CUSB_Pipe_Printer() : CPipePrinter(true) {}
};
