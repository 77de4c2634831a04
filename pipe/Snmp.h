// Snmp: the messages of one SNMP GET or GETNEXT, version 1 or 2c, as bytes:
// the request built from a community, a request id and a list of object
// identifiers, and the answer checked and taken apart. No socket code
// (SnmpClient.h sends and receives).
//
// A datagram is accepted as the answer only when it is exactly one
// well-formed message of the version and community asked with, carrying a
// GetResponse to the same request id, with a variable list whose every
// entry is well formed. Anything else is refused with the reason, and the
// caller keeps waiting for the real answer. Nothing is read outside the
// datagram. No state is shared; any thread may use these at any time.
#pragma once

#include "pipe/Ber.h"

#include <cstdint>
#include <string>
#include <vector>

enum class SnmpVersion : int32_t { V1 = 0, V2c = 1 };

struct SnmpValue {
    enum class Kind {
        Integer,
        OctetString,
        Null,
        // Version 2c: the agent has no such object, no such instance of
        // it, or nothing past it.
        NoSuchObject,
        NoSuchInstance,
        EndOfMibView,
        // Any other application type (counters, time ticks, addresses):
        // kept as its tag and raw bytes.
        Other,
    };
    Kind kind = Kind::Null;
    int64_t nInteger = 0;       // Integer
    std::vector<uint8_t> bytes; // OctetString and Other
    uint8_t tag = ber::kNull;
};

struct SnmpVarBind {
    ber::Oid oid;
    SnmpValue value;
};

struct SnmpResponse {
    int32_t nRequestId = 0;
    // 0 when the agent answered every variable; otherwise the agent's
    // reason and the 1-based index of the variable at fault.
    int32_t nErrorStatus = 0;
    int32_t nErrorIndex = 0;
    std::vector<SnmpVarBind> varBinds;
};

enum class SnmpDecodeResult {
    Ok,
    Malformed,      // not a well-formed message, or bytes after it
    WrongVersion,   // a message of another version
    WrongCommunity, // another community
    NotAResponse,   // another message type than GetResponse
    WrongRequestId, // a response to another request
};

// The request PDUs sent here.
constexpr uint8_t kSnmpGetRequest = 0xa0;
constexpr uint8_t kSnmpGetNextRequest = 0xa1;

// The GetRequest message (or, with kSnmpGetNextRequest, the GetNextRequest).
// Fails (empty result) when an identifier cannot be encoded.
std::vector<uint8_t> SnmpEncodeGetRequest(SnmpVersion version, const std::string& community,
                                          int32_t nRequestId, const std::vector<ber::Oid>& oids,
                                          uint8_t pduTag = kSnmpGetRequest);

// Checks a received datagram against the request; fills response only when
// the result is Ok.
SnmpDecodeResult SnmpDecodeGetResponse(const uint8_t* pData, size_t cbData, SnmpVersion version,
                                       const std::string& community, int32_t nRequestId,
                                       SnmpResponse& response);

// The request message and the other messages the tests build: any PDU tag
// around the standard request-id, error-status, error-index and variable
// list. Each variable's value is written as given.
std::vector<uint8_t> SnmpEncodeMessage(SnmpVersion version, const std::string& community,
                                       uint8_t pduTag, int32_t nRequestId, int32_t nErrorStatus,
                                       int32_t nErrorIndex,
                                       const std::vector<SnmpVarBind>& varBinds);
