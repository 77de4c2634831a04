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
// Longest single wait, so that a Cancel is seen within about this long.
const DWORD kWaitSliceMs = 100;
// How long Cancel keeps cancelling a send that has not yet returned.
const DWORD kCancelMs = 1000;
// The printer closed its side before the document ended.
const HRESULT kClosedEarly = HRESULT_FROM_WIN32(WSAEDISCON);

// Milliseconds left until dwDeadline (a GetTickCount64 value), 0 when past.
DWORD Remaining(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, MAXDWORD));
}

timeval ToTimeval(DWORD ms) {
    timeval tv;
    tv.tv_sec = static_cast<long>(ms / 1000);
    tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
    return tv;
}

// One select on one socket. Returns the number of ready sets, 0 on time-out,
// SOCKET_ERROR on failure; the flags say which sets are ready.
int SelectOne(SOCKET s, bool bRead, bool bWrite, DWORD ms, bool& bReadable, bool& bWritable,
              bool& bFailed) {
    fd_set readSet, writeSet, exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    if (bRead)
        FD_SET(s, &readSet);
    if (bWrite)
        FD_SET(s, &writeSet);
    FD_SET(s, &exceptSet);
    timeval tv = ToTimeval(ms);
    const int n =
        select(0, bRead ? &readSet : nullptr, bWrite ? &writeSet : nullptr, &exceptSet, &tv);
    bReadable = n > 0 && FD_ISSET(s, &readSet);
    bWritable = n > 0 && FD_ISSET(s, &writeSet);
    bFailed = n > 0 && FD_ISSET(s, &exceptSet);
    return n;
}

// Linger on with a time of 0: closing resets the connection. Linger off:
// closing ends it in order.
bool SetResetOnClose(SOCKET s, bool bReset) {
    linger lg = {static_cast<u_short>(bReset ? 1 : 0), 0};
    return setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof(lg)) ==
           0;
}

int PendingError(SOCKET s) {
    int nError = 0;
    int cb = sizeof(nError);
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&nError), &cb) != 0)
        return WSAGetLastError();
    return nError;
}

} // namespace

CTcpTransport::CTcpTransport(const PipeTimeouts& timeouts, bool bWinsock)
    : m_timeouts(timeouts), m_bWinsock(bWinsock),
      m_clock(timeouts.dwSendMs, timeouts.dwPausedMs,
              std::min<DWORD>(kFirstAskMs, timeouts.dwSendMs / 2)) {}

CTcpTransport::~CTcpTransport() {
    // Unfinished: the socket still lingers with a time of 0, so this resets.
    CloseSocket();
    if (m_bWinsock)
        WSACleanup();
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

    WSADATA wsa;
    const int nStartup = WSAStartup(MAKEWORD(2, 2), &wsa);
    if (nStartup != 0)
        return FromWinsock(nStartup);
    std::unique_ptr<CTcpTransport> p(new (std::nothrow) CTcpTransport(timeouts, true));
    if (!p) {
        WSACleanup();
        return E_OUTOFMEMORY;
    }
    if (pWatch && pWatch->pLast) {
        p->m_bWatch = true;
        p->m_watch = *pWatch;
    }

    p->m_socket.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!p->m_socket)
        return LastWinsockError();
    const SOCKET s = p->m_socket.get();
    // Non-blocking, so that every wait below has a bound of its own.
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0)
        return LastWinsockError();

    if (connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        const int nError = WSAGetLastError();
        if (nError != WSAEWOULDBLOCK && nError != WSAEINPROGRESS)
            return FromWinsock(nError);
        bool bReadable, bWritable, bFailed;
        const int n =
            SelectOne(s, false, true, timeouts.dwConnectMs, bReadable, bWritable, bFailed);
        if (n == SOCKET_ERROR)
            return LastWinsockError();
        if (n == 0)
            return kTimedOut;
        const int nPending = PendingError(s);
        if (bFailed || !bWritable || nPending != 0)
            return FromWinsock(nPending ? nPending : WSAECONNREFUSED);
    }
    // Sends stay non-blocking: every wait for the printer is a select of
    // our own, bounded by the send time or, for a paused printer, by the
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

bool CTcpTransport::AskPrinter(CStallClock& clock, DWORD dwTimeoutMs) {
    SnmpTarget target = m_watch.target;
    target.dwTimeoutMs = dwTimeoutMs;
    PrinterStatus status;
    const HRESULT hr = AskPrinterStatus(target, status, &m_bCancelled);
    if (hr == E_ABORT)
        return false;
    // A socket that failed: the printer did not answer.
    if (FAILED(hr))
        status = {PRINTER_STATUS_NOT_ANSWERING, L"Not answering"};
    CStallClock::Answer answer = CStallClock::Answer::NotPaused;
    if (status.code == PRINTER_STATUS_NOT_ANSWERING)
        answer = CStallClock::Answer::None;
    else if (status.code == PRINTER_STATUS_PAUSED || status.code == PRINTER_STATUS_WARMING_UP)
        answer = CStallClock::Answer::Paused;
    clock.Record(answer);
    // A lost question during a pause that still stands keeps its reason shown.
    if (answer != CStallClock::Answer::None || !clock.Paused())
        m_watch.pLast->Set(status);
    return true;
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
                AskPrinter(m_clock, dwTryMs);
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
        bool bReadable, bWritable, bFailed;
        const int n = SelectOne(m_socket.get(), true, true, std::min(dwLeft, kWaitSliceMs),
                                bReadable, bWritable, bFailed);
        if (m_bCancelled)
            return E_ABORT;
        if (n == SOCKET_ERROR)
            return LastWinsockError();
        if (n == 0)
            continue;
        if (bFailed) {
            const int nPending = PendingError(m_socket.get());
            return FromWinsock(nPending ? nPending : WSAECONNRESET);
        }
        if (bReadable) {
            const HRESULT hr = DrainReceived();
            if (FAILED(hr))
                return hr;
        }
        if (bWritable)
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
        // Small pieces, so that the send time bounds a stretch without
        // progress rather than a whole large chunk on a slow printer.
        const int chunk = static_cast<int>(std::min<DWORD>(left, kSendPiece));
        // In the send before the flag is looked at: a Cancel that this
        // check misses sees m_bInSend and cancels the send itself.
        m_bInSend = true;
        if (m_bCancelled) {
            m_bInSend = false;
            return Fail(E_ABORT);
        }
        const int n = send(m_socket.get(), p, chunk, 0);
        const int nError = n > 0 ? 0 : n == 0 ? WSAETIMEDOUT : WSAGetLastError();
        m_bInSend = false;
        if (m_bCancelled)
            return Fail(E_ABORT);
        if (n > 0) {
            p += n;
            left -= static_cast<DWORD>(n);
            m_clock.Restart();
            // The printer took data again after its state was asked.
            if (bAsked) {
                m_watch.pLast->Set({PRINTER_STATUS_PRINTING, L"Printing"});
                bAsked = false;
            }
            continue;
        }
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
    // From here on every wait is a select with its own bound.
    u_long nonBlocking = 1;
    HRESULT hr = S_OK;
    if (ioctlsocket(m_socket.get(), FIONBIO, &nonBlocking) != 0)
        hr = LastWinsockError();
    // A printer that hung up before we said we were done may have dropped
    // what came after: that document did not arrive whole.
    if (SUCCEEDED(hr))
        hr = DrainReceived();
    // Everything was handed over: from here on the connection ends in order.
    if (SUCCEEDED(hr) && !SetResetOnClose(m_socket.get(), false))
        hr = LastWinsockError();
    if (SUCCEEDED(hr) && shutdown(m_socket.get(), SD_SEND) != 0)
        hr = LastWinsockError();

    // The close time is the send limit of this wait. When it passes without
    // the printer's close, a watched printer is asked: one that is paused
    // (or warming up) may still hold the document's tail unread in our
    // buffers, so the wait goes on while it says so, up to the paused limit.
    CStallClock clock(m_timeouts.dwCloseMs, m_timeouts.dwPausedMs, m_timeouts.dwCloseMs);
    while (SUCCEEDED(hr)) {
        if (m_bCancelled) {
            hr = E_ABORT;
            break;
        }
        if (m_bWatch && clock.AskDue()) {
            if (!AskPrinter(clock, std::max<DWORD>(m_watch.target.dwTimeoutMs, 1)) ||
                m_bCancelled) {
                hr = E_ABORT;
                break;
            }
        }
        const DWORD dwLeft = clock.Remaining();
        if (dwLeft == 0) {
            // Still open when the time is up: everything was handed over and
            // the end was sent, so the document stands, unless the printer
            // stayed paused with it for the whole paused limit.
            if (clock.Paused())
                hr = kTimedOut;
            break;
        }
        bool bReadable, bWritable, bFailed;
        const int n = SelectOne(m_socket.get(), true, false, std::min(dwLeft, kWaitSliceMs),
                                bReadable, bWritable, bFailed);
        if (n == SOCKET_ERROR) {
            hr = m_bCancelled ? E_ABORT : LastWinsockError();
            break;
        }
        if (n == 0)
            continue;
        if (bFailed) {
            const int nPending = PendingError(m_socket.get());
            hr = FromWinsock(nPending ? nPending : WSAECONNRESET);
            break;
        }
        char scratch[4096];
        const int nRead = recv(m_socket.get(), scratch, sizeof(scratch), 0);
        if (nRead == 0)
            break; // the printer closed its side: done
        if (nRead < 0) {
            const int nError = WSAGetLastError();
            if (nError != WSAEWOULDBLOCK)
                hr = FromWinsock(nError);
        }
    }
    if (FAILED(hr)) {
        // Not through: no orderly end after all.
        SetResetOnClose(m_socket.get(), true);
        m_hrBroken = hr;
    }
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
    CLock lock(m_csSocket);
    if (!m_socket)
        return;
    // A send that is blocked (or about to block) is cancelled until the
    // sending thread has left it; the flag stops every later one.
    const HANDLE h = reinterpret_cast<HANDLE>(m_socket.get());
    const ULONGLONG deadline = GetTickCount64() + kCancelMs;
    for (;;) {
        CancelIoEx(h, nullptr);
        if (!m_bInSend || Remaining(deadline) == 0)
            break;
        Sleep(5);
    }
}

void CTcpTransport::CloseSocket() {
    CLock lock(m_csSocket);
    m_socket.reset();
}
