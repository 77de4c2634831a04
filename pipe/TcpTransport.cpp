#include "pipe/TcpTransport.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <new>

namespace {

HRESULT FromWinsock(int nError) {
    return HRESULT_FROM_WIN32(nError ? static_cast<DWORD>(nError) : ERROR_GEN_FAILURE);
}

HRESULT LastWinsockError() {
    return FromWinsock(WSAGetLastError());
}

const DWORD kSendPiece = 64 * 1024;

const HRESULT kTimedOut = HRESULT_FROM_WIN32(WSAETIMEDOUT);
// Longest single wait: a network event that was missed costs no more.
const DWORD kWaitSliceMs = 100;
// The printer closed its side before the document ended.
const HRESULT kClosedEarly = HRESULT_FROM_WIN32(WSAEDISCON);
const long kNetworkEvents = FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE;

// Milliseconds left until deadline (a GetTickCount64 value), 0 when past.
DWORD Remaining(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, MAXDWORD));
}

// Linger on with a time of 0: closing resets the connection. Linger off:
// closing ends it in order.
bool SetResetOnClose(SOCKET s, bool bReset) {
    linger lg = {static_cast<u_short>(bReset ? 1 : 0), 0};
    return setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof(lg)) ==
           0;
}

// The system's view of a connection (Windows 10 1703 on; older systems and
// Wine refuse the request), in the layout that version 0 of it has.
const DWORD kSioTcpInfo = _WSAIORW(IOC_VENDOR, 39);
struct TcpInfoV0 {
    int state;
    ULONG mss;
    ULONG64 connectionTimeMs;
    BOOLEAN timestampsEnabled;
    ULONG rttUs, minRttUs, bytesInFlight, cwnd, sndWnd, rcvWnd, rcvBuf;
    ULONG64 bytesOut, bytesIn;
    ULONG bytesReordered, bytesRetrans, fastRetrans, dupAcksIn, timeoutEpisodes;
    UCHAR synRetrans;
};

} // namespace

CloseVerdict CloseVerdictFor(LONG lCode, bool bAnswersQuestions) {
    switch (lCode) {
    case PRINTER_STATUS_PAUSED:
    case PRINTER_STATUS_WARMING_UP:
    case PRINTER_STATUS_PRINTING:
        return CloseVerdict::Wait;
    case PRINTER_STATUS_NOT_ANSWERING:
        // A lost question tells nothing, so it never counts the copy; a
        // printer that answers none cannot tell, and never could.
        return bAnswersQuestions ? CloseVerdict::Wait : CloseVerdict::Counted;
    default:
        return CloseVerdict::Counted;
    }
}

bool AllAcknowledged(ULONG64 cbSent, ULONG cbResent, ULONG cbInFlight, ULONG64 cbHanded) {
    // Bytes sent again count once; nothing may be left unacknowledged.
    return cbSent >= cbResent && cbSent - cbResent >= cbHanded && cbInFlight == 0;
}

CTcpTransport::CTcpTransport(const PipeTimeouts& timeouts)
    : m_timeouts(timeouts), m_clock(timeouts.dwSendMs, timeouts.dwPausedMs,
                                    std::min<DWORD>(kFirstAskMs, timeouts.dwSendMs / 2)),
      m_hWake(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

CTcpTransport::~CTcpTransport() {
    // Unfinished: the socket still lingers with a time of 0, so this resets.
    CloseSocket();
}

HRESULT CTcpTransport::Connect(const char* pszAddress, int nPort, const PipeTimeouts& timeouts,
                               std::unique_ptr<CTransport>& pTransport,
                               const PrinterWatch* pWatch) {
    pTransport.reset();
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    // 0.0.0.0 is an address never set; on some stacks it reaches the local
    // machine, which is never the printer meant.
    if (!pszAddress || inet_pton(AF_INET, pszAddress, &addr.sin_addr) != 1 ||
        addr.sin_addr.s_addr == INADDR_ANY)
        return E_INVALIDARG;
    if (nPort < 1 || nPort > 65535)
        return E_INVALIDARG;
    addr.sin_port = htons(static_cast<u_short>(nPort));

    const int nStartup = StartWinsockOnce();
    if (nStartup != 0)
        return FromWinsock(nStartup);
    std::unique_ptr<CTcpTransport> p(new (std::nothrow) CTcpTransport(timeouts));
    if (!p)
        return E_OUTOFMEMORY;
    if (!p->m_hWake)
        return HRESULT_FROM_WIN32(GetLastError());
    if (pWatch && pWatch->pLast) {
        p->m_bWatch = true;
        p->m_watch = *pWatch;
    }

    p->m_socket.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!p->m_socket)
        return LastWinsockError();
    const SOCKET s = p->m_socket.get();
    // Non-blocking from here on, so that every wait below has a bound of
    // its own.
    if (!p->m_events.Attach(s, kNetworkEvents, p->m_hWake.get()))
        return LastWinsockError();

    if (connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        const int nError = WSAGetLastError();
        if (nError != WSAEWOULDBLOCK && nError != WSAEINPROGRESS)
            return FromWinsock(nError);
        const ULONGLONG deadline = GetTickCount64() + timeouts.dwConnectMs;
        for (;;) {
            const DWORD dwLeft = Remaining(deadline);
            if (dwLeft == 0)
                return kTimedOut;
            WSANETWORKEVENTS ne;
            const CSocketEvents::Wait w = p->m_events.WaitFor(dwLeft, ne);
            if (w == CSocketEvents::Wait::Failed)
                return LastWinsockError();
            if (w != CSocketEvents::Wait::Woken || !(ne.lNetworkEvents & FD_CONNECT))
                continue;
            const int nConnect = ne.iErrorCode[FD_CONNECT_BIT];
            if (nConnect != 0)
                return FromWinsock(nConnect);
            break;
        }
    }
    // Sends stay non-blocking: every wait for the printer is one of our
    // own, bounded by the send time or, for a paused printer, by the
    // paused limit. A send bounded by the socket layer's own time-out would
    // fail a paused printer, and would leave the socket in no known state.
    // From here until a successful Finish, every close resets: also the one
    // the system makes for a process that was killed.
    if (!SetResetOnClose(s, true))
        return LastWinsockError();
    pTransport = std::move(p);
    return S_OK;
}

HRESULT CTcpTransport::Fail(HRESULT hr) {
    m_hrBroken = hr;
    return hr;
}

HRESULT CTcpTransport::DrainReceived() {
    char scratch[4096];
    for (;;) {
        const int n = recv(m_socket.get(), scratch, sizeof(scratch), 0);
        if (n > 0)
            continue;
        if (n == 0)
            return kClosedEarly;
        const int nError = WSAGetLastError();
        return nError == WSAEWOULDBLOCK ? S_OK : FromWinsock(nError);
    }
}

HRESULT CTcpTransport::CheckEvents(const WSANETWORKEVENTS& ne) {
    if ((ne.lNetworkEvents & FD_CLOSE) && ne.iErrorCode[FD_CLOSE_BIT] != 0)
        return FromWinsock(ne.iErrorCode[FD_CLOSE_BIT]);
    // The data that came before the close is read first; its end (recv 0)
    // is the printer's close.
    return DrainReceived();
}

bool CTcpTransport::KnownDrained() {
    TcpInfoV0 info = {};
    DWORD dwVersion = 0, cbReturned = 0;
    if (WSAIoctl(m_socket.get(), kSioTcpInfo, &dwVersion, sizeof(dwVersion), &info, sizeof(info),
                 &cbReturned, nullptr, nullptr) != 0 ||
        cbReturned < sizeof(info))
        return false;
    return AllAcknowledged(info.bytesOut, info.bytesRetrans, info.bytesInFlight, m_cbHanded);
}

bool CTcpTransport::AskPrinter(DWORD dwTimeoutMs, bool bPaused, PrinterStatus& status) {
    SnmpTarget target = m_watch.target;
    target.dwTimeoutMs = dwTimeoutMs;
    const HRESULT hr = AskPrinterStatus(target, status, &m_bCancelled);
    if (hr == E_ABORT)
        return false;
    // A socket that failed: the printer did not answer.
    if (FAILED(hr))
        status = {PRINTER_STATUS_NOT_ANSWERING, L"Not answering"};
    const bool bAnswered = status.code != PRINTER_STATUS_NOT_ANSWERING;
    if (bAnswered)
        m_bAnswered = true;
    // A lost question during a pause that still stands keeps its reason shown.
    if (bAnswered || !bPaused)
        m_watch.pLast->Set(status);
    return true;
}

CStallClock::Answer CTcpTransport::WriteVerdict(const PrinterStatus& status) {
    if (status.code == PRINTER_STATUS_NOT_ANSWERING)
        return CStallClock::Answer::None;
    if (status.code == PRINTER_STATUS_PAUSED || status.code == PRINTER_STATUS_WARMING_UP)
        return CStallClock::Answer::Paused;
    return CStallClock::Answer::NotPaused;
}

HRESULT CTcpTransport::WaitWritable(bool& bAsked) {
    for (;;) {
        if (m_bCancelled)
            return E_ABORT;
        // The printer's word decides which limit applies from here on.
        if (m_bWatch && m_clock.AskDue()) {
            // Not (yet) known to be paused: the question's two tries end by
            // the send limit, so a printer that neither reads nor answers
            // fails no later than before. Too little time left: not asked.
            const DWORD dwTryMs =
                m_clock.QuestionMs(std::max<DWORD>(m_watch.target.dwTimeoutMs, 1));
            if (dwTryMs > 0) {
                PrinterStatus status;
                if (!AskPrinter(dwTryMs, m_clock.Paused(), status))
                    return E_ABORT;
                m_clock.Record(WriteVerdict(status));
                bAsked = true;
            } else {
                m_clock.Record(CStallClock::Answer::None);
            }
            if (m_bCancelled)
                return E_ABORT;
        }
        const DWORD dwLeft = m_clock.Remaining();
        if (dwLeft == 0)
            return kTimedOut;
        WSANETWORKEVENTS ne;
        const CSocketEvents::Wait w = m_events.WaitFor(std::min(dwLeft, kWaitSliceMs), ne);
        // A cancel wins over an event that came at the same time.
        if (m_bCancelled)
            return E_ABORT;
        switch (w) {
        case CSocketEvents::Wait::Failed:
            return LastWinsockError();
        case CSocketEvents::Wait::TimedOut:
            // The send is tried again: a missed write event costs one slice.
            return S_OK;
        case CSocketEvents::Wait::Woken:
            break;
        }
        const HRESULT hr = CheckEvents(ne);
        if (FAILED(hr))
            return hr;
        if (ne.lNetworkEvents & FD_WRITE)
            return S_OK;
    }
}

HRESULT CTcpTransport::Write(const BYTE* pData, DWORD cbData) {
    if (FAILED(m_hrBroken))
        return m_hrBroken;
    if (!m_socket)
        return E_UNEXPECTED;
    const char* p = reinterpret_cast<const char*>(pData);
    DWORD left = cbData;
    // A write that merely found the socket full has not stalled yet.
    m_clock.Restart();
    bool bAsked = false;
    while (left > 0) {
        if (m_bCancelled)
            return Fail(E_ABORT);
        // Small pieces, so that the send time bounds a stretch without
        // progress rather than a whole large chunk on a slow printer.
        const int chunk = static_cast<int>(std::min<DWORD>(left, kSendPiece));
        const int n = send(m_socket.get(), p, chunk, 0);
        if (n > 0) {
            p += n;
            left -= static_cast<DWORD>(n);
            m_cbHanded += static_cast<ULONGLONG>(n);
            m_clock.Restart();
            // The printer took data again after its state was asked.
            if (bAsked) {
                m_watch.pLast->Set({PRINTER_STATUS_PRINTING, L"Printing"});
                bAsked = false;
            }
            continue;
        }
        const int nError = n == 0 ? WSAETIMEDOUT : WSAGetLastError();
        if (nError != WSAEWOULDBLOCK)
            return Fail(FromWinsock(nError));
        const HRESULT hr = WaitWritable(bAsked);
        if (FAILED(hr))
            return Fail(hr);
    }
    return S_OK;
}

HRESULT CTcpTransport::Finish() {
    if (!m_socket)
        return FAILED(m_hrBroken) ? m_hrBroken : E_UNEXPECTED;
    if (m_bCancelled)
        Fail(E_ABORT);
    if (FAILED(m_hrBroken)) {
        CloseSocket();
        return m_hrBroken;
    }
    // A printer that hung up before we said we were done may have dropped
    // what came after: that document did not arrive whole.
    HRESULT hr = DrainReceived();
    if (SUCCEEDED(hr) && shutdown(m_socket.get(), SD_SEND) != 0)
        hr = LastWinsockError();

    // The close time is the send limit of this wait; when it passes without
    // the printer's close, the printer's word decides (see the header).
    CStallClock clock(m_timeouts.dwCloseMs, m_timeouts.dwPausedMs, m_timeouts.dwCloseMs);
    while (SUCCEEDED(hr)) {
        if (m_bCancelled) {
            hr = E_ABORT;
            break;
        }
        if (clock.AskDue() && KnownDrained())
            break;
        if (m_bWatch && clock.AskDue()) {
            PrinterStatus status;
            if (!AskPrinter(std::max<DWORD>(m_watch.target.dwTimeoutMs, 1), clock.Paused(),
                            status) ||
                m_bCancelled) {
                hr = E_ABORT;
                break;
            }
            const bool bAnswers = status.code != PRINTER_STATUS_NOT_ANSWERING || m_bAnswered ||
                                  PrinterAnsweredLately(m_watch.target);
            if (CloseVerdictFor(status.code, bAnswers) == CloseVerdict::Counted)
                break;
            clock.Record(CStallClock::Answer::Paused); // wait on, to the paused limit
        }
        const DWORD dwLeft = clock.Remaining();
        if (dwLeft == 0) {
            // A printer that cannot tell counts when the close time passes;
            // one that stayed busy with the document for the paused limit
            // fails it.
            if (clock.Paused())
                hr = kTimedOut;
            break;
        }
        WSANETWORKEVENTS ne;
        const CSocketEvents::Wait w = m_events.WaitFor(std::min(dwLeft, kWaitSliceMs), ne);
        if (m_bCancelled) {
            hr = E_ABORT;
            break;
        }
        if (w == CSocketEvents::Wait::Failed) {
            hr = LastWinsockError();
            break;
        }
        // Also after a slice without an event: a missed one costs no more.
        hr = w == CSocketEvents::Wait::Woken ? CheckEvents(ne) : DrainReceived();
        if (hr == kClosedEarly) {
            hr = S_OK; // the printer closed its side: done
            break;
        }
    }
    // Everything was taken: from here on the connection ends in order.
    if (SUCCEEDED(hr) && !SetResetOnClose(m_socket.get(), false))
        hr = LastWinsockError();
    if (FAILED(hr))
        m_hrBroken = hr; // still lingering with 0: the close below resets
    CloseSocket();
    return hr;
}

void CTcpTransport::Abort() {
    if (m_socket)
        SetResetOnClose(m_socket.get(), true);
    CloseSocket();
    if (SUCCEEDED(m_hrBroken))
        m_hrBroken = E_ABORT;
}

void CTcpTransport::Cancel() {
    m_bCancelled = true;
    if (m_hWake)
        SetEvent(m_hWake.get());
}

void CTcpTransport::CloseSocket() {
    // Closing the socket ends its selection.
    m_events.Forget();
    m_socket.reset();
}
