// A UDP port on loopback that takes every question and never answers (no
// port-unreachable either): each question to it runs to its time-out.
// Threads: one.
#pragma once

#include <winsock2.h>

class SilentAgent {
public:
    SilentAgent() {
        WSADATA wsa;
        m_bWinsock = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
        m_s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int cb = sizeof(addr);
        if (m_s != INVALID_SOCKET &&
            bind(m_s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
            getsockname(m_s, reinterpret_cast<sockaddr*>(&addr), &cb) == 0)
            m_nPort = ntohs(addr.sin_port);
    }
    ~SilentAgent() {
        if (m_s != INVALID_SOCKET)
            closesocket(m_s);
        if (m_bWinsock)
            WSACleanup();
    }
    SilentAgent(const SilentAgent&) = delete;
    SilentAgent& operator=(const SilentAgent&) = delete;
    int port() const { return m_nPort; }

private:
    bool m_bWinsock = false;
    SOCKET m_s = INVALID_SOCKET;
    int m_nPort = 0;
};
