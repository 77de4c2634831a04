// CTcpTransport: a printer's raw port over TCP (IPv4).
//
// Connect reaches the address within the connect time. Write sends every
// byte of a chunk through a blocking socket whose sends are bounded by the
// send time (SO_SNDTIMEO): a printer that takes nothing for that long fails
// the write, and a connection the printer reset fails it at once. Finish
// reads and drops what the printer sent back, shuts down the sending side,
// waits at most the close time for the printer to close its side, then
// closes: a printer that stays open longer is not a failure (everything was
// handed over and the end sent); one that hung up before the end of the
// document, or reset the connection, is.
//
// Ending: while a document is in flight the socket lingers with a time of
// 0, so any close other than a successful Finish - Abort, destruction, or
// the process being killed - resets the connection: the printer sees a
// reset, not the end of the document, and prints nothing of a partial one.
// Only a successful Finish restores the normal linger and ends in order.
// Threads: one at a time, except Cancel, which any thread may call while
// the object lives. Cancel sets a flag that every send and wait checks, and
// cancels the socket's pending I/O (CancelIoEx) until the sending thread
// has left its send, which makes a blocked send return at once. The socket
// handle is closed only under m_csSocket, which Cancel holds while it uses
// the handle, so Cancel never touches a closed (or reused) handle.
// Each object keeps Winsock started while it lives.
#pragma once

#include "framework/Sync.h"
#include "framework/UniqueHandle.h"
#include "pipe/Transport.h"

#include <atomic>
#include <memory>

class CTcpTransport : public CTransport {
public:
    ~CTcpTransport() override;
    CTcpTransport(const CTcpTransport&) = delete;
    CTcpTransport& operator=(const CTcpTransport&) = delete;

    // A dotted IPv4 address other than 0.0.0.0 and a port 1 to 65535.
    static HRESULT Connect(const char* pszAddress, int nPort, const PipeTimeouts& timeouts,
                           std::unique_ptr<CTransport>& pTransport);

    HRESULT Write(const BYTE* pData, DWORD cbData) override;
    HRESULT Finish() override;
    void Abort() override;
    void Cancel() override;

private:
    CTcpTransport(const PipeTimeouts& timeouts, bool bWinsock);
    // Waits until the socket takes more data (for a send that would block);
    // reads and drops what the printer sends meanwhile.
    HRESULT WaitWritable();
    // Reads and drops whatever has arrived, without waiting. Fails when the
    // printer has closed its side or the connection broke.
    HRESULT DrainReceived();
    HRESULT Fail(HRESULT hr);
    // Closes the socket (under m_csSocket).
    void CloseSocket();

    PipeTimeouts m_timeouts;
    bool m_bWinsock;
    UniqueSocket m_socket;
    HRESULT m_hrBroken = S_OK;
    CCriticalSection m_csSocket;
    std::atomic<bool> m_bCancelled{false};
    // Set by the sending thread around each send, before it checks
    // m_bCancelled.
    std::atomic<bool> m_bInSend{false};
};
