#include "pipe/SnmpClient.h"

#include "framework/UniqueHandle.h"
#include "pipe/SocketEvents.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>

namespace {

// Big enough for any UDP datagram, so a huge one is read whole and
// refused, never cut to look like something shorter.
constexpr size_t kReceiveBuffer = 64 * 1024;
constexpr int kTries = 2;
// Longest single wait, so that a cancel flag (and an unreachable report,
// which may come without a read event) is seen within about this long.
constexpr DWORD kSliceMs = 50;

const HRESULT kTimedOut = HRESULT_FROM_WIN32(WSAETIMEDOUT);

HRESULT FromWinsock(int nError) {
    return HRESULT_FROM_WIN32(nError ? static_cast<DWORD>(nError) : ERROR_GEN_FAILURE);
}

DWORD Remaining(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, MAXDWORD));
}

// A request id that differs between calls and processes, positive so that
// every agent encodes it the same way.
int32_t NextRequestId() {
    static std::atomic<uint32_t> next{static_cast<uint32_t>(GetTickCount64()) ^
                                      (GetCurrentProcessId() << 16)};
    const uint32_t n = next.fetch_add(1) & 0x7fffffff;
    return static_cast<int32_t>(n ? n : 1);
}

// Errors on a connected UDP socket that report the agent's port or host
// unreachable (from an ICMP message): this try will get no answer.
bool IsUnreachable(int nError) {
    return nError == WSAECONNRESET || nError == WSAECONNREFUSED || nError == WSAENETUNREACH ||
           nError == WSAEHOSTUNREACH || nError == WSAENETRESET;
}

enum class TryResult { Answered, NoAnswer, Failed, Cancelled };

bool IsCancelled(const std::atomic<bool>* pCancel) {
    return pCancel && pCancel->load();
}

// Waits until the try's deadline for the answer, dropping anything else.
TryResult AwaitAnswer(SOCKET s, CSocketEvents& events, ULONGLONG deadline, const SnmpTarget& target,
                      int32_t nRequestId, std::vector<uint8_t>& buffer, SnmpResponse& response,
                      HRESULT& hr, const std::atomic<bool>* pCancel) {
    for (;;) {
        if (IsCancelled(pCancel))
            return TryResult::Cancelled;
        // Whatever has come, also after a wait without an event.
        const int cb =
            recv(s, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0);
        if (cb == SOCKET_ERROR) {
            const int nError = WSAGetLastError();
            if (IsUnreachable(nError))
                return TryResult::NoAnswer;
            if (nError != WSAEWOULDBLOCK && nError != WSAEMSGSIZE) {
                hr = FromWinsock(nError);
                return TryResult::Failed;
            }
            // Nothing yet (or larger than any datagram: not the answer).
            const DWORD ms = Remaining(deadline);
            if (ms == 0)
                return TryResult::NoAnswer;
            WSANETWORKEVENTS ne;
            if (events.WaitFor(std::min(ms, kSliceMs), ne) == CSocketEvents::Wait::Failed) {
                hr = FromWinsock(WSAGetLastError());
                return TryResult::Failed;
            }
            continue;
        }
        if (SnmpDecodeGetResponse(buffer.data(), static_cast<size_t>(cb), target.version,
                                  target.strCommunity, nRequestId,
                                  response) == SnmpDecodeResult::Ok)
            return TryResult::Answered;
    }
}

HRESULT SnmpRequest(const SnmpTarget& target, uint8_t pduTag, const std::vector<ber::Oid>& oids,
                    SnmpResponse& response, const std::atomic<bool>* pCancel) {
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    if (inet_pton(AF_INET, target.strAddress.c_str(), &addr.sin_addr) != 1 ||
        addr.sin_addr.s_addr == INADDR_ANY || target.nPort < 1 || target.nPort > 65535)
        return E_INVALIDARG;
    addr.sin_port = htons(static_cast<u_short>(target.nPort));

    const int32_t nRequestId = NextRequestId();
    const std::vector<uint8_t> request =
        SnmpEncodeGetRequest(target.version, target.strCommunity, nRequestId, oids, pduTag);
    if (request.empty() || request.size() > kReceiveBuffer)
        return E_INVALIDARG;

    std::vector<uint8_t> buffer;
    try {
        buffer.resize(kReceiveBuffer);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }

    const int nStartup = StartWinsockOnce();
    if (nStartup != 0)
        return FromWinsock(nStartup);
    UniqueSocket sock(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!sock)
        return FromWinsock(WSAGetLastError());
    if (connect(sock.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0)
        return FromWinsock(WSAGetLastError());
    // Non-blocking from here on; declared after the socket, so detached
    // before it closes.
    CSocketEvents events;
    if (!events.Attach(sock.get(), FD_READ))
        return FromWinsock(WSAGetLastError());

    const DWORD dwTimeoutMs = std::max<DWORD>(target.dwTimeoutMs, 1);
    for (int nTry = 0; nTry < kTries; ++nTry) {
        const ULONGLONG deadline = GetTickCount64() + dwTimeoutMs;
        const int cbSent = send(sock.get(), reinterpret_cast<const char*>(request.data()),
                                static_cast<int>(request.size()), 0);
        if (cbSent == SOCKET_ERROR) {
            const int nError = WSAGetLastError();
            if (!IsUnreachable(nError))
                return FromWinsock(nError);
            continue; // an earlier try's unreachable report; this one counts as lost
        }
        HRESULT hr = S_OK;
        switch (AwaitAnswer(sock.get(), events, deadline, target, nRequestId, buffer, response, hr,
                            pCancel)) {
        case TryResult::Answered:
            return S_OK;
        case TryResult::Cancelled:
            return E_ABORT;
        case TryResult::Failed:
            return hr;
        case TryResult::NoAnswer:
            break;
        }
    }
    return kTimedOut;
}

} // namespace

HRESULT SnmpGet(const SnmpTarget& target, const std::vector<ber::Oid>& oids, SnmpResponse& response,
                const std::atomic<bool>* pCancel) {
    return SnmpRequest(target, kSnmpGetRequest, oids, response, pCancel);
}

HRESULT SnmpGetNext(const SnmpTarget& target, const std::vector<ber::Oid>& oids,
                    SnmpResponse& response, const std::atomic<bool>* pCancel) {
    return SnmpRequest(target, kSnmpGetNextRequest, oids, response, pCancel);
}
