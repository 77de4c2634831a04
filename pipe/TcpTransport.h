// CTcpTransport: a printer's raw port over TCP (IPv4).
//
// Connect reaches the address within the connect time. Write sends every
// byte of a chunk through a non-blocking socket, waiting in short selects
// while the printer takes nothing: a printer that takes nothing for the
// send time fails the write, and a connection the printer reset fails it
// at once.
// A stalled printer that is only paused is not a failure. When Connect is
// given a printer watch (the SNMP target and the object's last state), a
// write that has made no progress for a few seconds asks the printer's
// state (about every 5 s, each answer kept in the watch's last state):
// while it answers paused (paper out, cover open, jammed...) or warming
// up, the write waits up to the paused limit without progress instead of
// the send time; any other answer ends the pause, and the send time then
// counts from that moment (a printer that says "printing" before it reads
// again still has the whole send time). A question that gets no answer
// leaves a pause standing for three questions in a row (StallClock.h has
// the rules). Not paused, a question ends by the send time, so a printer
// that neither reads nor answers fails no later than without one. Progress
// after a question stores "Printing" and starts both limits again. The
// question is cut by Cancel like every other wait. Finish
// reads and drops what the printer sent back, shuts down the sending side,
// waits the close time for the printer to close its side, then closes: a
// printer that stays open longer is not a failure (everything was handed
// over and the end sent); one that hung up before the end of the
// document, or reset the connection, is. A watched printer still open
// when the close time has passed is asked first: while it says paused or
// warming up (the document's tail may still sit unread in our buffers)
// Finish waits on by the same rules as a stalled write, and fails when
// the paused limit passes.
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
#include "pipe/PrinterStatus.h"
#include "pipe/StallClock.h"
#include "pipe/Transport.h"

#include <atomic>
#include <memory>

// Whom a stalled write asks about the printer's state, and where it keeps
// the answers. pLast must outlive the transport.
struct PrinterWatch {
    SnmpTarget target;
    CLastPrinterStatus* pLast = nullptr;
};

class CTcpTransport : public CTransport {
public:
    // After this long without progress a write asks the printer's state
    // (sooner when half the send time is shorter), then every
    // CStallClock::kAskEveryMs.
    static constexpr DWORD kFirstAskMs = 3000;

    ~CTcpTransport() override;
    CTcpTransport(const CTcpTransport&) = delete;
    CTcpTransport& operator=(const CTcpTransport&) = delete;

    // A dotted IPv4 address other than 0.0.0.0 and a port 1 to 65535.
    // Without a watch a stalled write fails after the send time, whatever
    // the printer's state.
    static HRESULT Connect(const char* pszAddress, int nPort, const PipeTimeouts& timeouts,
                           std::unique_ptr<CTransport>& pTransport,
                           const PrinterWatch* pWatch = nullptr);

    HRESULT Write(const BYTE* pData, DWORD cbData) override;
    HRESULT Finish() override;
    void Abort() override;
    void Cancel() override;

private:
    CTcpTransport(const PipeTimeouts& timeouts, bool bWinsock);
    // Waits until the socket takes more data (for a send that would block),
    // within the limit m_clock gives; reads and drops what the printer sends
    // meanwhile. bAsked tells the caller a question was made.
    HRESULT WaitWritable(bool& bAsked);
    // Asks the watched printer once, each try waiting at most dwTimeoutMs,
    // gives the verdict to clock and keeps the answer in the watch's last
    // state (a lost question while a pause stands keeps the pause's).
    // False when cut by Cancel.
    bool AskPrinter(CStallClock& clock, DWORD dwTimeoutMs);
    // Reads and drops whatever has arrived, without waiting. Fails when the
    // printer has closed its side or the connection broke.
    HRESULT DrainReceived();
    HRESULT Fail(HRESULT hr);
    // Closes the socket (under m_csSocket).
    void CloseSocket();

    PipeTimeouts m_timeouts;
    bool m_bWinsock;
    bool m_bWatch = false;
    PrinterWatch m_watch;
    // The limits of the write in progress: progress restarts it.
    CStallClock m_clock;
    UniqueSocket m_socket;
    HRESULT m_hrBroken = S_OK;
    CCriticalSection m_csSocket;
    std::atomic<bool> m_bCancelled{false};
    // Set by the sending thread around each send, before it checks
    // m_bCancelled. Sends no longer block (the socket stays non-blocking),
    // but Cancel still cancels one in progress, which is harmless.
    std::atomic<bool> m_bInSend{false};
};
