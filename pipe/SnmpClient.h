// SnmpClient: one SNMP GET (or GETNEXT) over UDP (IPv4), bounded in time.
//
// The request goes to the agent from a fresh socket connected to it, so
// only the agent's datagrams arrive. Each try waits at most the time-out;
// a try that gets no answer is repeated once with the same request id, so
// a late answer to the first try still counts. Datagrams that are not the
// answer (malformed, another request id, community or version, or too big
// for any message) are dropped and the wait goes on until the try's own
// deadline. An agent's host that reports the port closed ends the try at
// once. The whole call therefore takes at most about twice the time-out.
// A caller may pass a flag that another thread sets to cut the call short:
// it is looked at every 50 ms, and the call then fails with E_ABORT.
// Threads: any; no state is shared between calls. Winsock is started once
// for the process (StartWinsockOnce).
#pragma once

#include "pipe/Snmp.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>

struct SnmpTarget {
    std::string strAddress; // dotted IPv4, not 0.0.0.0
    int nPort = 161;
    std::string strCommunity = "public";
    SnmpVersion version = SnmpVersion::V2c;
    DWORD dwTimeoutMs = 1000; // per try; 0 counts as 1
};

// S_OK with the agent's answer; HRESULT_FROM_WIN32(WSAETIMEDOUT) when no
// answer came in either try; E_INVALIDARG for an unusable target; other
// negative values when the socket itself failed; E_ABORT once *pCancel
// (when given) was seen set.
HRESULT SnmpGet(const SnmpTarget& target, const std::vector<ber::Oid>& oids, SnmpResponse& response,
                const std::atomic<bool>* pCancel = nullptr);
// The same with a GETNEXT: the answer names the first object after each one
// asked.
HRESULT SnmpGetNext(const SnmpTarget& target, const std::vector<ber::Oid>& oids,
                    SnmpResponse& response, const std::atomic<bool>* pCancel = nullptr);
