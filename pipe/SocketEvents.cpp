#include "pipe/SocketEvents.h"

int StartWinsockOnce() {
    static const int nError = [] {
        WSADATA wsa;
        return WSAStartup(MAKEWORD(2, 2), &wsa);
    }();
    return nError;
}

bool CSocketEvents::Attach(SOCKET s, long lEvents, HANDLE hWake) {
    Detach();
    if (!hWake) {
        if (!m_hOwnEvent)
            m_hOwnEvent.reset(CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (!m_hOwnEvent)
            return false;
        hWake = m_hOwnEvent.get();
    }
    if (WSAEventSelect(s, hWake, lEvents) != 0)
        return false;
    m_hWake = hWake;
    m_socket = s;
    return true;
}

void CSocketEvents::Detach() {
    if (m_socket != INVALID_SOCKET)
        WSAEventSelect(m_socket, nullptr, 0);
    m_socket = INVALID_SOCKET;
}

CSocketEvents::Wait CSocketEvents::WaitFor(DWORD ms, WSANETWORKEVENTS& ne) {
    ne = {};
    if (m_socket == INVALID_SOCKET)
        return Wait::Failed;
    // Reads the events and resets the event in one call: one that came
    // after the wait is read now, not signalled again.
    const DWORD r = WaitForSingleObject(m_hWake, ms);
    if (r == WAIT_TIMEOUT)
        return Wait::TimedOut;
    if (r != WAIT_OBJECT_0)
        return Wait::Failed;
    if (WSAEnumNetworkEvents(m_socket, m_hWake, &ne) != 0)
        return Wait::Failed;
    return Wait::Woken;
}
