// FakeAgent: an SNMP agent inside a test, on a free loopback UDP port. A
// thread hands each request (taken apart) and its number to a reply
// function and sends back the datagrams it returns: nothing, stray
// datagrams, late or partial answers. PrinterAnswer builds the answer of a
// printer at index 1 to a GET or a GETNEXT. Link ws2_32.
#pragma once

#include "pipe/Snmp.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace fake_agent {

using Bytes = std::vector<uint8_t>;

const ber::Oid kDeviceStatus = {1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 5, 1};
const ber::Oid kPrinterStatus = {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 1, 1};
const ber::Oid kErrorState = {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1};
const uint8_t kGet = 0xa0;
const uint8_t kGetNext = 0xa1;

struct Request {
    int32_t nId = -1; // -1: not a request at all
    uint8_t pduTag = 0;
    std::vector<ber::Oid> oids;
};

inline Request ParseRequest(const Bytes& b) {
    Request r;
    ber::BerSpan in{b.data(), b.size()}, message, content, pdu, list, entry, oid;
    int32_t id = -1;
    if (!ber::ReadExpected(in, ber::kSequence, message) ||
        !ber::ReadExpected(message, ber::kInteger, content) ||
        !ber::ReadExpected(message, ber::kOctetString, content) ||
        !ber::ReadElement(message, r.pduTag, pdu) ||
        !ber::ReadExpected(pdu, ber::kInteger, content) || !ber::DecodeInteger32(content, id) ||
        !ber::ReadExpected(pdu, ber::kInteger, content) ||
        !ber::ReadExpected(pdu, ber::kInteger, content) ||
        !ber::ReadExpected(pdu, ber::kSequence, list))
        return r;
    while (ber::ReadExpected(list, ber::kSequence, entry) &&
           ber::ReadExpected(entry, ber::kOid, oid)) {
        ber::Oid o;
        ber::DecodeOid(oid, o);
        r.oids.push_back(o);
    }
    r.nId = id;
    return r;
}

inline SnmpValue Integer(int64_t n) {
    SnmpValue v;
    v.kind = SnmpValue::Kind::Integer;
    v.nInteger = n;
    return v;
}

// A printer at index 1, idle unless given, with the given error state; its device is
// down when a bit is set (unless given), else running. A GETNEXT gets the
// first printer row, a GET every object it names (noSuchInstance for the
// rest).
inline Bytes PrinterAnswer(const Request& request, Bytes errors,
                           const char* pszCommunity = "public",
                           SnmpVersion version = SnmpVersion::V2c, int64_t nDevice = 0,
                           int64_t nPrinter = 3) {
    if (!nDevice) {
        nDevice = 2;
        for (uint8_t b : errors)
            if (b)
                nDevice = 5;
    }
    std::vector<SnmpVarBind> vbs;
    for (const ber::Oid& oid : request.oids) {
        SnmpVarBind vb;
        vb.oid = oid;
        if (request.pduTag == kGetNext) {
            vb.oid = kPrinterStatus;
            vb.value = Integer(3);
        } else if (oid == kDeviceStatus) {
            vb.value = Integer(nDevice);
        } else if (oid == kPrinterStatus) {
            vb.value = Integer(nPrinter);
        } else if (oid == kErrorState) {
            vb.value.kind = SnmpValue::Kind::OctetString;
            vb.value.bytes = errors;
        } else {
            vb.value.kind = SnmpValue::Kind::NoSuchInstance;
        }
        vbs.push_back(vb);
    }
    return SnmpEncodeMessage(version, pszCommunity, 0xa2, request.nId, 0, 0, vbs);
}

class FakeAgent {
public:
    // nRequest counts every datagram received, from 1.
    using Reply = std::function<std::vector<Bytes>(const Request& request, int nRequest)>;

    explicit FakeAgent(Reply reply) : m_reply(std::move(reply)) {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        m_socket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int cb = sizeof(addr);
        if (bind(m_socket, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
            getsockname(m_socket, reinterpret_cast<sockaddr*>(&addr), &cb) == 0)
            m_nPort = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~FakeAgent() {
        m_bStop = true;
        m_thread.join();
        closesocket(m_socket);
        WSACleanup();
    }
    FakeAgent(const FakeAgent&) = delete;
    FakeAgent& operator=(const FakeAgent&) = delete;

    int port() const { return m_nPort; }
    int requests() const { return m_nRequests; }

private:
    void Run() {
        std::vector<char> buffer(65536);
        while (!m_bStop) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(m_socket, &set);
            timeval tv = {0, 20000};
            if (select(0, &set, nullptr, nullptr, &tv) <= 0)
                continue;
            sockaddr_in from = {};
            int cbFrom = sizeof(from);
            const int cb = recvfrom(m_socket, buffer.data(), static_cast<int>(buffer.size()), 0,
                                    reinterpret_cast<sockaddr*>(&from), &cbFrom);
            if (cb <= 0)
                continue;
            const int n = ++m_nRequests;
            const Request request = ParseRequest(Bytes(buffer.begin(), buffer.begin() + cb));
            for (const Bytes& d : m_reply(request, n))
                sendto(m_socket, reinterpret_cast<const char*>(d.data()),
                       static_cast<int>(d.size()), 0, reinterpret_cast<sockaddr*>(&from), cbFrom);
        }
    }

    Reply m_reply;
    SOCKET m_socket = INVALID_SOCKET;
    int m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::atomic<int> m_nRequests{0};
    std::thread m_thread;
};

} // namespace fake_agent
