// CTcpTransport: a printer's raw port over TCP (IPv4).
//
// Connect reaches the address within the connect time. Write sends every
// byte of a chunk through a non-blocking socket, waiting while the printer
// takes nothing: a printer that takes nothing for the send time fails the
// write, and a connection the printer reset fails it at once. Every wait is
// on event objects (CSocketEvents), never select().
// A stalled printer that is only paused is not a failure. When Connect is
// given a printer watch (the SNMP target and the object's last state), a
// write that has made no progress for a few seconds asks the printer's
// state (about every 5 s, each answer kept in the watch's last state):
// while it answers paused (paper out, cover open, jammed...) or warming
// up, the write waits up to the paused limit without progress instead of
// the send time; any other answer ends the pause, and the send time then
// counts from that moment (a printer that says "printing" before it reads
// again still has the whole send time). A question that gets no answer
// never ends a pause (StallClock.h has the rules). Not paused, a question
// ends by the send time, so a printer that neither reads nor answers fails
// no later than without one. Progress after a question stores "Printing"
// and starts both limits again.
//
// Finish: a copy counts only once the printer has taken every byte. It
// reads and drops what the printer sent back, shuts down the sending side
// and waits for the printer to close its side: that is the end. When the
// close time passes first, the copy still counts when the system says our
// side is drained (every byte sent and acknowledged, where the system can
// tell). Otherwise a watched printer is asked, and the wait goes on while
// it says printing, paused or warming up, up to the paused limit; a
// question without an answer never ends that wait once the printer has
// answered in this copy or lately (PrinterAnsweredLately). A printer that
// says it is ready ends it (the copy counts). A printer that answers no
// questions (or is not watched) cannot tell: its copy counts when the close
// time passes, as every byte was handed over and the end sent. A printer that hung up
// before the end of the document, or reset the connection, fails it, and
// so does the paused limit passing: the connection is then reset, so a
// cut document is never counted.
//
// Ending: while a document is in flight the socket lingers with a time of
// 0, so any close other than a successful Finish - Abort, destruction, or
// the process being killed - resets the connection: the printer sees a
// reset, not the end of the document, and prints nothing of a partial one.
// Only a successful Finish restores the normal linger and ends in order.
// Threads: one at a time, except Cancel, which any thread may call while
// the object lives. Cancel sets a flag and an event that every wait
// watches; it never touches the socket, so it cannot meet a closed one.
// Winsock is started once for the process (StartWinsockOnce).
#pragma once

#include "framework/UniqueHandle.h"
#include "pipe/PrinterStatus.h"
#include "pipe/SocketEvents.h"
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

// The end of a copy once the close time has passed without the printer's
// close: what the printer's word (its code, and whether it answered this
// copy's or a recent question) means for the copy. Counted: it is ready,
// or it never answers and so cannot tell. Wait: it is busy with the
// document or stopped with it, or missed a question it would answer.
enum class CloseVerdict { Counted, Wait };
CloseVerdict CloseVerdictFor(LONG lCode, bool bAnswersQuestions);
// Every byte handed to the system was sent and acknowledged, by the
// system's own counts (sent, sent again, in flight).
bool AllAcknowledged(ULONG64 cbSent, ULONG cbResent, ULONG cbInFlight, ULONG64 cbHanded);

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
    explicit CTcpTransport(const PipeTimeouts& timeouts);
    // Waits until the socket may take more data (for a send that would
    // block), within the limit m_clock gives; reads and drops what the
    // printer sends meanwhile. bAsked tells the caller a question was made.
    HRESULT WaitWritable(bool& bAsked);
    // Asks the watched printer once, each try waiting at most dwTimeoutMs,
    // and keeps the answer in the watch's last state (a lost question while
    // a pause stands keeps the pause's). False when cut by Cancel; status
    // is the printer's word (NOT_ANSWERING for no answer).
    bool AskPrinter(DWORD dwTimeoutMs, bool bPaused, PrinterStatus& status);
    // The question's verdict for the stall clock of a write.
    static CStallClock::Answer WriteVerdict(const PrinterStatus& status);
    // Reads and drops whatever has arrived, without waiting. Fails when the
    // printer has closed its side or the connection broke.
    HRESULT DrainReceived();
    // A network event's bad news: a reset, or the printer's early close.
    HRESULT CheckEvents(const WSANETWORKEVENTS& ne);
    // Every byte handed over has been sent and acknowledged: true only
    // where the system can tell.
    bool KnownDrained();
    HRESULT Fail(HRESULT hr);
    void CloseSocket();

    PipeTimeouts m_timeouts;
    bool m_bWatch = false;
    PrinterWatch m_watch;
    // The printer answered a question during this copy.
    bool m_bAnswered = false;
    // The limits of the write in progress: progress restarts it.
    CStallClock m_clock;
    // The socket's events and Cancel both set it (auto-reset); it outlives
    // the selection.
    UniqueHandleNull m_hWake;
    // Declared before the socket, so the socket closes first.
    CSocketEvents m_events;
    UniqueSocket m_socket;
    ULONGLONG m_cbHanded = 0; // bytes the system took from us
    HRESULT m_hrBroken = S_OK;
    std::atomic<bool> m_bCancelled{false};
};
