// CSocketEvents: waits for a socket's network events through an event
// object (WSAEventSelect) instead of select(). A select() with a time-out
// on one socket in several sets, or one cut by a cancel from another
// thread, has been seen to bring down Wine's server, and every process with
// it; a wait on event objects takes another path there.
//
// Attaching makes the socket non-blocking for good. A network event is
// reported once and then again only after the call that re-enables it
// (send that would block for FD_WRITE, recv for FD_READ), so a caller
// retries its call after every wait, event or not: a missed edge costs one
// wait slice, never the transfer.
// Ownership: the object owns its event, not the socket; the socket must be
// closed (or the object detached) before the object goes. Threads: one.
#pragma once

#include "framework/UniqueHandle.h"

#include <winsock2.h>
#include <windows.h>

// Starts Winsock the first time it is called and never stops it: starting
// and stopping it around every copy and every question cost a good part of
// a small job's time. Returns 0, or the error of that first start (then
// every call returns it). Any thread.
int StartWinsockOnce();

class CSocketEvents {
public:
    enum class Wait { Event, TimedOut, Cancelled, Failed };

    CSocketEvents() = default;
    ~CSocketEvents() { Detach(); }
    CSocketEvents(const CSocketEvents&) = delete;
    CSocketEvents& operator=(const CSocketEvents&) = delete;

    // Selects lEvents (FD_READ, FD_WRITE, FD_CONNECT, FD_CLOSE...) of s.
    // False (with WSAGetLastError) when the event or the selection failed.
    bool Attach(SOCKET s, long lEvents);
    // Ends the selection; the socket stays open and non-blocking.
    void Detach();
    // The socket is about to close (which ends the selection): the object
    // lets it go without touching it.
    void Forget() { m_socket = INVALID_SOCKET; }
    // Waits at most ms for a network event or for hCancel (may be null).
    // Event: ne holds the events reported since the last wait and their
    // error codes. Cancelled wins over an event that came at the same time.
    Wait WaitFor(DWORD ms, HANDLE hCancel, WSANETWORKEVENTS& ne);

private:
    SOCKET m_socket = INVALID_SOCKET;
    UniqueHandleNull m_hEvent;
};
