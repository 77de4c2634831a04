// CTransport: the pipe component's way to one printer (a TCP connection or
// a USB printer's device). Made connected by its factory function; takes
// bytes with Write; ends with Finish (orderly) or Abort (at once).
//
// Every call returns within its time-out: nothing here waits without bound.
// After a failed Write the transport is broken: later Writes fail at once
// with the same result and Finish reports it. Used by one thread at a time,
// except Cancel, which any thread may call.
// Ownership: the pipe object owns its transport; destroying it closes
// whatever is still open, without the orderly end.
#pragma once

#include <windows.h>

struct PipeTimeouts {
    // Time allowed to reach the printer.
    DWORD dwConnectMs = 10000;
    // Time a write may make no progress before it fails.
    DWORD dwSendMs = 30000;
    // The same, while the printer says it is paused or warming up (TCP with
    // a printer state to ask: see TcpTransport.h). Long, since somebody has
    // to come and load labels, close the cover or clear a jam.
    DWORD dwPausedMs = 1800000;
    // Time Finish waits for the printer to close its side.
    DWORD dwCloseMs = 10000;
};

class CTransport {
public:
    virtual ~CTransport() = default;
    // Sends every byte, or fails (negative).
    virtual HRESULT Write(const BYTE* pData, DWORD cbData) = 0;
    // Ends the transfer in order and closes. Negative when the document may
    // not have arrived whole.
    virtual HRESULT Finish() = 0;
    // Drops the connection without the orderly end.
    virtual void Abort() = 0;
    // From any thread, while the object lives: makes a Write or Finish that
    // is blocked, or that comes later, fail within about a second. Closes
    // nothing; the owner then calls Abort or destroys the transport.
    virtual void Cancel() = 0;
};
