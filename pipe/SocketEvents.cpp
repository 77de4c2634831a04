#include "pipe/SocketEvents.h"

int StartWinsockOnce() {
    static const int nError = [] {
        WSADATA wsa;
        return WSAStartup(MAKEWORD(2, 2), &wsa);
    }();
    return nError;
}

bool CSocketEvents::Attach(SOCKET s, long lEvents) {
    Detach();
    m_hEvent.reset(WSACreateEvent());
    if (!m_hEvent)
        return false;
    if (WSAEventSelect(s, m_hEvent.get(), lEvents) != 0) {
        m_hEvent.reset();
        return false;
    }
    m_socket = s;
    return true;
}

void CSocketEvents::Detach() {
    if (m_socket != INVALID_SOCKET)
        WSAEventSelect(m_socket, nullptr, 0);
    m_socket = INVALID_SOCKET;
    m_hEvent.reset();
}

CSocketEvents::Wait CSocketEvents::WaitFor(DWORD ms, HANDLE hCancel, WSANETWORKEVENTS& ne) {
    ne = {};
    if (m_socket == INVALID_SOCKET)
        return Wait::Failed;
    HANDLE handles[2];
    DWORD n = 0;
    if (hCancel)
        handles[n++] = hCancel;
    handles[n++] = m_hEvent.get();
    const DWORD r = WaitForMultipleObjects(n, handles, FALSE, ms);
    if (r == WAIT_TIMEOUT)
        return Wait::TimedOut;
    if (r == WAIT_FAILED)
        return Wait::Failed;
    if (hCancel && (r == WAIT_OBJECT_0 || WaitForSingleObject(hCancel, 0) == WAIT_OBJECT_0))
        return Wait::Cancelled;
    // Reads the events and resets the event object in one call.
    if (WSAEnumNetworkEvents(m_socket, m_hEvent.get(), &ne) != 0)
        return Wait::Failed;
    return Wait::Event;
}
