// The pipe printers: outputs that hand the document to the pipe component
// (PipeInterfaces.h) instead of talking to the device. CIP_Pipe_Printer
// reaches a network printer by IPv4 address, CUSB_Pipe_Printer a USB
// printer by serial number; they differ only in the configuration document
// that Open builds and hands to the component.
//
// Ownership: m_pPipe holds one reference to the component, from Open until
// a successful Close, or else until the destructor, which releases it
// without ending the transfer.
// Threads: the worker's only, inside its multithreaded apartment.
// Failure: a refused chunk shows "CIP_Pipe_Printer::Send_Data failed"
// (for both classes) and returns -1.
#pragma once

#include "printers/PipeInterfaces.h"
#include "printers/Printer.h"

class CIP_Pipe_Printer : public CPrinter {
public:
    CIP_Pipe_Printer();
    ~CIP_Pipe_Printer() override;
    CIP_Pipe_Printer(const CIP_Pipe_Printer&) = delete;
    CIP_Pipe_Printer& operator=(const CIP_Pipe_Printer&) = delete;

    BOOL Open(CSpoolerSetup* pSetup, CString strJobName) override;
    BOOL Close() override;
    int Send_Data(const void* pData, int nLength) override;
    // Through the component's printer state interface, when it has one.
    PrinterState QueryState(CSpoolerSetup* pSetup, CString& strText) override;

    IPipe* GetPipe() const { return m_pPipe; }

protected:
    IPipe* m_pPipe;
};

class CUSB_Pipe_Printer : public CPrinter {
public:
    CUSB_Pipe_Printer();
    ~CUSB_Pipe_Printer() override;
    CUSB_Pipe_Printer(const CUSB_Pipe_Printer&) = delete;
    CUSB_Pipe_Printer& operator=(const CUSB_Pipe_Printer&) = delete;

    BOOL Open(CSpoolerSetup* pSetup, CString strJobName) override;
    BOOL Close() override;
    int Send_Data(const void* pData, int nLength) override;

    IPipe* GetPipe() const { return m_pPipe; }

protected:
    IPipe* m_pPipe;
};
