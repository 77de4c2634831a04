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
// Ownership: the object owns the event it makes, not a caller's event nor
// the socket; the socket must be closed (or the object detached) before the
// object or the caller's event goes. Threads: one waits; any may set the
// caller's event.
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
    enum class Wait { Woken, TimedOut, Failed };

    CSocketEvents() = default;
    ~CSocketEvents() { Detach(); }
    CSocketEvents(const CSocketEvents&) = delete;
    CSocketEvents& operator=(const CSocketEvents&) = delete;

    // Selects lEvents (FD_READ, FD_WRITE, FD_CONNECT, FD_CLOSE...) of s,
    // signalled on hWake: an auto-reset event the caller owns and keeps
    // until the object is detached or destroyed, which another thread may
    // also set to cut a wait short. Null: the object makes one of its own.
    // False (with WSAGetLastError) when the event or the selection failed.
    bool Attach(SOCKET s, long lEvents, HANDLE hWake = nullptr);
    // Ends the selection; the socket stays open and non-blocking.
    void Detach();
    // The socket is about to close (which ends the selection): the object
    // lets it go without touching it.
    void Forget() { m_socket = INVALID_SOCKET; }
    // Waits at most ms for a network event or for the event to be set.
    // Woken: ne holds the events reported since the last wait and their
    // error codes (none when something else set the event); a caller with
    // a cancel flag reads it first.
    Wait WaitFor(DWORD ms, WSANETWORKEVENTS& ne);

private:
    SOCKET m_socket = INVALID_SOCKET;
    HANDLE m_hWake = nullptr;
    UniqueHandleNull m_hOwnEvent;
};
