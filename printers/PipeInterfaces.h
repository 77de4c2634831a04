// The pipe component's COM contract: the class the pipe printers create and
// its two interfaces. The component itself is built from pipe/ as
// MorvanePipe.dll, an in-process server registered with ThreadingModel
// "Both" so the worker's multithreaded apartment creates it in process.
//
// Call order for one document: CoCreateInstance (IPipe), QueryInterface
// (IPipeConfig), Configure, Release of IPipeConfig, WriteData per chunk in
// order, Finish(0), Release of IPipe; Abort instead of Finish for a document
// that is not to be printed. One object serves one document and is used by
// one thread at a time, except Abort, which another thread may call (holding
// its own reference) while WriteData or Finish is blocked. Every operation returns an HRESULT; only
// its sign matters to callers. The caller owns the BSTR given to Configure.
#pragma once

#include <objbase.h>
#include <oleauto.h>

// {55E01C5E-01FB-4C58-BA20-84EC493BD144}
inline constexpr CLSID CLSID_MorvanePipe = {
    0x55e01c5e, 0x01fb, 0x4c58, {0xba, 0x20, 0x84, 0xec, 0x49, 0x3b, 0xd1, 0x44}};
// {69C03960-C3A1-4274-A1B9-83F9D14E221C}
inline constexpr IID IID_IPipe = {
    0x69c03960, 0xc3a1, 0x4274, {0xa1, 0xb9, 0x83, 0xf9, 0xd1, 0x4e, 0x22, 0x1c}};
// {ED4EC18C-05E0-4259-9D46-715A4214141F}
inline constexpr IID IID_IPipeConfig = {
    0xed4ec18c, 0x05e0, 0x4259, {0x9d, 0x46, 0x71, 0x5a, 0x42, 0x14, 0x14, 0x1f}};

struct IPipe : public IUnknown {
    // Slot 4: the number of bytes the transport has taken so far (all of
    // every chunk that succeeded). Fails only for a null pointer.
    virtual HRESULT STDMETHODCALLTYPE GetBytesWritten(ULONGLONG* pcbWritten) = 0;
    // Slot 5: sends one chunk whole, or fails. The pointer is valid only
    // during the call; a count of 0 succeeds, a negative one fails.
    virtual HRESULT STDMETHODCALLTYPE WriteData(const BYTE* pData, LONG cbData) = 0;
    // Slot 6: drops the connection at once, without the orderly end (a
    // network printer sees a reset); later WriteData and Finish fail.
    // Succeeds also when nothing is open. Never waits for a WriteData or
    // Finish in progress on another thread: that call fails within about a
    // second.
    virtual HRESULT STDMETHODCALLTYPE Abort() = 0;
    // Slot 7: ends the transfer in order (the connection is shut down and
    // closed). Pass 0; other values are reserved and fail. Negative when
    // the document may not have reached the printer whole. While a network
    // printer that has not closed its side says it is paused, this waits
    // (up to the component's paused limit); Abort cuts the wait.
    virtual HRESULT STDMETHODCALLTYPE Finish(LONG lReserved) = 0;
};

struct IPipeConfig : public IUnknown {
    // Slot 4: reads the configuration document and connects to the printer
    // at once. Negative when the document is unusable or the printer cannot
    // be reached; no data may follow then.
    virtual HRESULT STDMETHODCALLTYPE Configure(BSTR bstrXml) = 0;
};

// The printer's state, asked over SNMP (network printers) or by the status
// byte of the USB printer class (USB printers). Reached by
// QueryInterface on the same object; a component without it answers
// E_NOINTERFACE and the caller carries on without printer states. Unlike
// the interfaces above, its methods may be called at any time, from any
// thread, also while another thread is inside WriteData: they never wait
// for the object's other calls. The caller frees the text returned with
// SysFreeString.
// {43E44E83-6CA4-48F5-B18D-E97D4C68588E}
inline constexpr IID IID_IPrinterStatus = {
    0x43e44e83, 0x6ca4, 0x48f5, {0xb1, 0x8d, 0xe9, 0x7d, 0x4c, 0x68, 0x58, 0x8e}};

// The states IPrinterStatus reports (the LONG code), each with a short
// text for the user ("Ready", "Printing", "Warming up", the reason of a
// pause such as "Paper out", "Not answering").
enum PrinterStatusCode : LONG {
    PRINTER_STATUS_READY = 0,
    PRINTER_STATUS_PRINTING = 1,
    PRINTER_STATUS_WARMING_UP = 2,
    PRINTER_STATUS_PAUSED = 3,        // stopped until somebody acts (paper, cover...)
    PRINTER_STATUS_NOT_ANSWERING = 4, // no answer to the state query
};

struct IPrinterStatus : public IUnknown {
    // Slot 4: asks the printer named by a configuration document (the one
    // Configure takes) for its state, once: at most about twice the SNMP
    // time-out (1 s by default), or four times when the printer's row is
    // looked for first (once per run); at once for a printer that gave no
    // answer lately. No connection to the printer's data port, no
    // Configure needed, nothing kept open. S_OK with the code and text
    // when a state was found, "not answering" included; E_POINTER for a
    // null pointer; E_INVALIDARG for an unusable document. A USB printer's
    // document opens the device for the question (at most about a second):
    // the open's failure when it cannot be opened (an older component:
    // HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)); NOT_ANSWERING when the
    // device fails the question or its byte says nothing.
    // On failure *plCode is PRINTER_STATUS_NOT_ANSWERING and *pbstrText null.
    virtual HRESULT STDMETHODCALLTYPE CheckStatus(BSTR bstrXml, LONG* plCode, BSTR* pbstrText) = 0;
    // Slot 5: the state this object saw last, without asking the printer:
    // PRINTER_STATUS_NOT_ANSWERING and an empty text when it has seen none.
    // Never blocks on the other calls. E_POINTER for a null pointer,
    // E_OUTOFMEMORY when the text cannot be made.
    virtual HRESULT STDMETHODCALLTYPE GetLastStatus(LONG* plCode, BSTR* pbstrText) = 0;
};

// The printer's own page counter, asked over SNMP (network printers only):
// the life count of the printer's first marker (prtMarkerLifeCount of the
// printer's row in the device table, marker 1) together with whether the
// printer says it is idle (hrPrinterStatus idle, and the device not down),
// all from one answer.
// Reached by QueryInterface on the same object; a component without it
// answers E_NOINTERFACE and the caller counts no pages. Like
// IPrinterStatus, any thread at any time, and it never waits for the
// object's other calls.
// {B7C1E2A4-5D3F-4E8B-9A61-2F0C7D4E8B13}
inline constexpr IID IID_IPrinterPageCounter = {
    0xb7c1e2a4, 0x5d3f, 0x4e8b, {0x9a, 0x61, 0x2f, 0x0c, 0x7d, 0x4e, 0x8b, 0x13}};

struct IPrinterPageCounter : public IUnknown {
    // Slot 4: asks the printer named by a configuration document (the one
    // Configure takes) once, in the time CheckStatus takes and with the same
    // memory of a printer that gave no answer lately. S_OK with the counter
    // in *pullPages and *pbIdle TRUE when the printer said idle (FALSE for
    // any other state); S_FALSE when the printer did not answer or has no
    // counter (*pullPages 0, *pbIdle FALSE); E_POINTER, E_INVALIDARG and
    // HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) as CheckStatus.
    virtual HRESULT STDMETHODCALLTYPE ReadPageCounter(BSTR bstrXml, ULONGLONG* pullPages,
                                                      BOOL* pbIdle) = 0;
};
