// The SNMP messages as bytes: requests checked byte for byte against
// packets worked out by hand, answers taken apart, and hostile datagrams
// refused. Every datagram handed to the decoder ends right before a page
// that may not be read, so a read past its end crashes the test.
#include "pipe/Ber.h"
#include "pipe/Snmp.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const ber::Oid kDeviceStatus = {1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 5, 1};
const ber::Oid kPrinterStatus = {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 1, 1};
const ber::Oid kErrorState = {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1};

// A copy of some bytes that ends at a page boundary, followed by a page
// without access rights.
class GuardedBytes {
public:
    explicit GuardedBytes(const Bytes& bytes) {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        const size_t page = si.dwPageSize;
        const size_t cbData = (bytes.size() + page - 1) / page * page;
        m_p = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, cbData + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(m_p + cbData, page, PAGE_NOACCESS, &old);
        m_pData = m_p + cbData - bytes.size();
        if (!bytes.empty())
            memcpy(m_pData, bytes.data(), bytes.size());
        m_cb = bytes.size();
    }
    ~GuardedBytes() { VirtualFree(m_p, 0, MEM_RELEASE); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    const uint8_t* data() const { return m_pData; }
    size_t size() const { return m_cb; }

private:
    uint8_t* m_p = nullptr;
    uint8_t* m_pData = nullptr;
    size_t m_cb = 0;
};

SnmpDecodeResult Decode(const Bytes& bytes, SnmpResponse& response, int32_t nRequestId = 0x1234,
                        const char* pszCommunity = "public",
                        SnmpVersion version = SnmpVersion::V2c) {
    GuardedBytes guarded(bytes);
    return SnmpDecodeGetResponse(guarded.data(), guarded.size(), version, pszCommunity, nRequestId,
                                 response);
}

SnmpDecodeResult Decode(const Bytes& bytes) {
    SnmpResponse response;
    return Decode(bytes, response);
}

// A printer's answer worked out by hand: version 2c, community "public",
// request id 0x1234, hrDeviceStatus 5, hrPrinterStatus 3 and the error
// state 48 00 (noPaper and doorOpen).
// clang-format off
const Bytes kResponse = {
    0x30, 0x50,                                // message, 80 bytes
    0x02, 0x01, 0x01,                          //   version 2c
    0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c',  //   community
    0xa2, 0x43,                                //   GetResponse, 67 bytes
    0x02, 0x02, 0x12, 0x34,                    //     request id
    0x02, 0x01, 0x00,                          //     error status
    0x02, 0x01, 0x00,                          //     error index
    0x30, 0x37,                                //     variables, 55 bytes
    0x30, 0x10,                                //       hrDeviceStatus.1
    0x06, 0x0b, 0x2b, 0x06, 0x01, 0x02, 0x01, 0x19, 0x03, 0x02, 0x01, 0x05, 0x01,
    0x02, 0x01, 0x05,                          //         down
    0x30, 0x10,                                //       hrPrinterStatus.1
    0x06, 0x0b, 0x2b, 0x06, 0x01, 0x02, 0x01, 0x19, 0x03, 0x05, 0x01, 0x01, 0x01,
    0x02, 0x01, 0x03,                          //         idle
    0x30, 0x11,                                //       hrPrinterDetectedErrorState.1
    0x06, 0x0b, 0x2b, 0x06, 0x01, 0x02, 0x01, 0x19, 0x03, 0x05, 0x01, 0x02, 0x01,
    0x04, 0x02, 0x48, 0x00,                    //         noPaper, doorOpen
};
// clang-format on

// Offsets into kResponse.
constexpr size_t kOffVersion = 4;     // the version's value byte
constexpr size_t kOffCommunity = 7;   // 'p'
constexpr size_t kOffPduTag = 13;     // 0xa2
constexpr size_t kOffRequestId = 17;  // 0x12
constexpr size_t kOffFirstValue = 42; // the tag of hrDeviceStatus's value

Bytes Patched(Bytes b, size_t offset, uint8_t value) {
    b[offset] = value;
    return b;
}

std::vector<uint8_t> Encoded(int64_t n) {
    std::vector<uint8_t> out;
    ber::AppendInteger(out, n);
    return out;
}

TEST(BerEncoding, IntegersTakeTheShortestTwosComplementForm) {
    EXPECT_EQ(Encoded(0), (Bytes{0x02, 0x01, 0x00}));
    EXPECT_EQ(Encoded(127), (Bytes{0x02, 0x01, 0x7f}));
    EXPECT_EQ(Encoded(128), (Bytes{0x02, 0x02, 0x00, 0x80}));
    EXPECT_EQ(Encoded(256), (Bytes{0x02, 0x02, 0x01, 0x00}));
    EXPECT_EQ(Encoded(-1), (Bytes{0x02, 0x01, 0xff}));
    EXPECT_EQ(Encoded(-128), (Bytes{0x02, 0x01, 0x80}));
    EXPECT_EQ(Encoded(-129), (Bytes{0x02, 0x02, 0xff, 0x7f}));
    EXPECT_EQ(Encoded(INT32_MAX), (Bytes{0x02, 0x04, 0x7f, 0xff, 0xff, 0xff}));
    EXPECT_EQ(Encoded(INT32_MIN), (Bytes{0x02, 0x04, 0x80, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Encoded(INT64_MIN), (Bytes{0x02, 0x08, 0x80, 0, 0, 0, 0, 0, 0, 0}));

    for (int64_t n : {int64_t(0), int64_t(1), int64_t(-1), int64_t(200), int64_t(-70000),
                      int64_t(INT32_MAX), int64_t(INT32_MIN), INT64_MAX, INT64_MIN}) {
        const Bytes b = Encoded(n);
        ber::BerSpan in{b.data(), b.size()};
        ber::BerSpan content;
        int64_t back = 0;
        ASSERT_TRUE(ber::ReadExpected(in, ber::kInteger, content));
        ASSERT_TRUE(ber::DecodeInteger(content, back));
        EXPECT_EQ(back, n);
        EXPECT_TRUE(in.empty());
    }
}

TEST(BerEncoding, LengthsAndIdentifiers) {
    Bytes b;
    ber::AppendLength(b, 0x7f);
    ber::AppendLength(b, 0x80);
    ber::AppendLength(b, 0x1234);
    ber::AppendLength(b, 0x10000);
    EXPECT_EQ(b, (Bytes{0x7f, 0x81, 0x80, 0x82, 0x12, 0x34, 0x83, 0x01, 0x00, 0x00}));

    // Arcs of 128 and more take several 7-bit groups; the first two arcs
    // share one sub-identifier.
    Bytes oid;
    ASSERT_TRUE(ber::AppendOid(oid, {1, 3, 6, 1, 4, 1, 128, 16383, 16384, 4294967295u}));
    EXPECT_EQ(oid, (Bytes{0x06, 0x11, 0x2b, 0x06, 0x01, 0x04, 0x01, 0x81, 0x00, 0xff, 0x7f, 0x81,
                          0x80, 0x00, 0x8f, 0xff, 0xff, 0xff, 0x7f}));
    ber::BerSpan in{oid.data(), oid.size()};
    ber::BerSpan content;
    ber::Oid back;
    ASSERT_TRUE(ber::ReadExpected(in, ber::kOid, content));
    ASSERT_TRUE(ber::DecodeOid(content, back));
    EXPECT_EQ(back, (ber::Oid{1, 3, 6, 1, 4, 1, 128, 16383, 16384, 4294967295u}));

    Bytes big;
    ASSERT_TRUE(ber::AppendOid(big, {2, 999, 3}));
    EXPECT_EQ(big, (Bytes{0x06, 0x03, 0x88, 0x37, 0x03}));

    Bytes none;
    EXPECT_FALSE(ber::AppendOid(none, {1}));
    EXPECT_FALSE(ber::AppendOid(none, {3, 1}));
    EXPECT_FALSE(ber::AppendOid(none, {1, 40}));
    EXPECT_TRUE(none.empty());
}

TEST(SnmpRequest, MatchesThePacketWorkedOutByHand) {
    // The three printer objects in one v2c GetRequest, request id
    // 0x7236ebd8, each variable with a NULL value.
    // clang-format off
    const Bytes expected = {
        0x30, 0x4e,                                // message, 78 bytes
        0x02, 0x01, 0x01,                          //   version 2c
        0x04, 0x06, 'p', 'u', 'b', 'l', 'i', 'c',  //   community
        0xa0, 0x41,                                //   GetRequest, 65 bytes
        0x02, 0x04, 0x72, 0x36, 0xeb, 0xd8,        //     request id
        0x02, 0x01, 0x00, 0x02, 0x01, 0x00,        //     error status, index
        0x30, 0x33,                                //     variables, 51 bytes
        0x30, 0x0f,                                //       variable, 15 bytes
        0x06, 0x0b, 0x2b, 0x06, 0x01, 0x02, 0x01, 0x19, 0x03, 0x02, 0x01, 0x05, 0x01,
        0x05, 0x00,                                //         NULL
        0x30, 0x0f,
        0x06, 0x0b, 0x2b, 0x06, 0x01, 0x02, 0x01, 0x19, 0x03, 0x05, 0x01, 0x01, 0x01,
        0x05, 0x00,
        0x30, 0x0f,
        0x06, 0x0b, 0x2b, 0x06, 0x01, 0x02, 0x01, 0x19, 0x03, 0x05, 0x01, 0x02, 0x01,
        0x05, 0x00,
    };
    // clang-format on
    EXPECT_EQ(SnmpEncodeGetRequest(SnmpVersion::V2c, "public", 0x7236ebd8,
                                   {kDeviceStatus, kPrinterStatus, kErrorState}),
              expected);

    // Version 1, another community: only those bytes and the lengths move.
    const Bytes v1 = SnmpEncodeGetRequest(SnmpVersion::V1, "x", 1, {kDeviceStatus});
    const Bytes expectedV1 = {0x30, 0x24, 0x02, 0x01, 0x00, 0x04, 0x01, 'x',  0xa0, 0x1c,
                              0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x30,
                              0x11, 0x30, 0x0f, 0x06, 0x0b, 0x2b, 0x06, 0x01, 0x02, 0x01,
                              0x19, 0x03, 0x02, 0x01, 0x05, 0x01, 0x05, 0x00};
    EXPECT_EQ(v1, expectedV1);
    EXPECT_TRUE(
        SnmpEncodeGetRequest(SnmpVersion::V2c, "public", 1, std::vector<ber::Oid>{ber::Oid{1}})
            .empty());
}

TEST(SnmpResponseDecoding, TakesAPrintersAnswerApart) {
    SnmpResponse r;
    ASSERT_EQ(Decode(kResponse, r), SnmpDecodeResult::Ok);
    EXPECT_EQ(r.nRequestId, 0x1234);
    EXPECT_EQ(r.nErrorStatus, 0);
    ASSERT_EQ(r.varBinds.size(), 3u);
    EXPECT_EQ(r.varBinds[0].oid, kDeviceStatus);
    EXPECT_EQ(r.varBinds[0].value.kind, SnmpValue::Kind::Integer);
    EXPECT_EQ(r.varBinds[0].value.nInteger, 5);
    EXPECT_EQ(r.varBinds[1].oid, kPrinterStatus);
    EXPECT_EQ(r.varBinds[1].value.nInteger, 3);
    EXPECT_EQ(r.varBinds[2].oid, kErrorState);
    EXPECT_EQ(r.varBinds[2].value.kind, SnmpValue::Kind::OctetString);
    EXPECT_EQ(r.varBinds[2].value.bytes, (Bytes{0x48, 0x00}));
}

TEST(SnmpResponseDecoding, ExceptionsErrorsAndOtherTypesRoundTrip) {
    std::vector<SnmpVarBind> vbs(5);
    vbs[0].oid = kDeviceStatus;
    vbs[0].value.kind = SnmpValue::Kind::NoSuchObject;
    vbs[1].oid = kPrinterStatus;
    vbs[1].value.kind = SnmpValue::Kind::NoSuchInstance;
    vbs[2].oid = kErrorState;
    vbs[2].value.kind = SnmpValue::Kind::EndOfMibView;
    vbs[3].oid = {1, 3, 6, 1, 2, 1, 1, 3, 0};
    vbs[3].value.kind = SnmpValue::Kind::Other;
    vbs[3].value.tag = 0x43; // time ticks
    vbs[3].value.bytes = {0x01, 0x02};
    vbs[4].oid = {1, 3, 6, 1, 2, 1, 1, 5, 0};
    vbs[4].value.kind = SnmpValue::Kind::OctetString;
    vbs[4].value.bytes.assign(300, 'n'); // a two-byte length
    const Bytes b = SnmpEncodeMessage(SnmpVersion::V1, "private", 0xa2, -7, 2, 3, vbs);
    SnmpResponse r;
    ASSERT_EQ(Decode(b, r, -7, "private", SnmpVersion::V1), SnmpDecodeResult::Ok);
    EXPECT_EQ(r.nErrorStatus, 2);
    EXPECT_EQ(r.nErrorIndex, 3);
    ASSERT_EQ(r.varBinds.size(), 5u);
    for (size_t i = 0; i < vbs.size(); ++i) {
        EXPECT_EQ(r.varBinds[i].oid, vbs[i].oid) << i;
        EXPECT_EQ(r.varBinds[i].value.kind, vbs[i].value.kind) << i;
        EXPECT_EQ(r.varBinds[i].value.bytes, vbs[i].value.bytes) << i;
    }
    EXPECT_EQ(r.varBinds[3].value.tag, 0x43);
}

TEST(SnmpResponseDecoding, RefusesAnswersToAnotherQuestion) {
    SnmpResponse r;
    EXPECT_EQ(Decode(kResponse, r, 0x1235), SnmpDecodeResult::WrongRequestId);
    EXPECT_EQ(Decode(kResponse, r, 0x1234, "publiC"), SnmpDecodeResult::WrongCommunity);
    EXPECT_EQ(Decode(kResponse, r, 0x1234, "publi"), SnmpDecodeResult::WrongCommunity);
    EXPECT_EQ(Decode(kResponse, r, 0x1234, "public", SnmpVersion::V1),
              SnmpDecodeResult::WrongVersion);
    EXPECT_EQ(Decode(Patched(kResponse, kOffVersion, 3)), SnmpDecodeResult::WrongVersion);
    EXPECT_EQ(Decode(Patched(kResponse, kOffCommunity, 'P')), SnmpDecodeResult::WrongCommunity);
    EXPECT_EQ(Decode(Patched(kResponse, kOffRequestId, 0x13)), SnmpDecodeResult::WrongRequestId);
    // Our own request echoed back, a trap, a set: not the answer.
    EXPECT_EQ(Decode(Patched(kResponse, kOffPduTag, 0xa0)), SnmpDecodeResult::NotAResponse);
    EXPECT_EQ(Decode(Patched(kResponse, kOffPduTag, 0xa7)), SnmpDecodeResult::NotAResponse);
    EXPECT_EQ(Decode(Patched(kResponse, kOffPduTag, 0xa3)), SnmpDecodeResult::NotAResponse);
    // Nothing is handed back for a refused datagram.
    SnmpResponse untouched;
    untouched.nRequestId = 99;
    EXPECT_NE(Decode(kResponse, untouched, 1), SnmpDecodeResult::Ok);
    EXPECT_EQ(untouched.nRequestId, 99);
}

TEST(SnmpResponseDecoding, RefusesEveryTruncationAndEveryWrongLength) {
    for (size_t cb = 0; cb < kResponse.size(); ++cb) {
        const Bytes cut(kResponse.begin(), kResponse.begin() + cb);
        EXPECT_EQ(Decode(cut), SnmpDecodeResult::Malformed) << "cut at " << cb;
    }
    // Each length byte one more (past the end of what holds it) and one
    // less (the element swallows or loses a byte of its neighbour).
    for (size_t off : {1, 3, 6, 14, 16, 20, 23, 26, 28, 30, 43, 46, 48, 61, 64, 66, 79}) {
        EXPECT_NE(Decode(Patched(kResponse, off, kResponse[off] + 1)), SnmpDecodeResult::Ok)
            << "length at " << off;
        EXPECT_NE(Decode(Patched(kResponse, off, kResponse[off] - 1)), SnmpDecodeResult::Ok)
            << "length at " << off;
    }
    Bytes trailing = kResponse;
    trailing.push_back(0);
    EXPECT_EQ(Decode(trailing), SnmpDecodeResult::Malformed);
}

TEST(SnmpResponseDecoding, RefusesHugeIndefiniteAndOverlongLengthFields) {
    const uint8_t kOuterLength = 1;
    // The message's length written in long forms, each claiming more
    // than there is.
    const Bytes longForms[] = {
        {0x30, 0x84, 0xff, 0xff, 0xff, 0xff, 0x02, 0x01, 0x01},
        {0x30, 0x84, 0x7f, 0xff, 0xff, 0xff, 0x02, 0x01, 0x01},
        {0x30, 0x88, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xf0, 0x02, 0x01, 0x01},
        {0x30, 0x85, 0x00, 0x00, 0x00, 0x00, 0x03, 0x02, 0x01, 0x01},
        {0x30, 0xff, 0x02, 0x01, 0x01},
        {0x30, 0x80, 0x02, 0x01, 0x01, 0x00, 0x00}, // indefinite, with end marker
        {0x30, 0x82, 0x00},                         // the length field itself cut
        {0x30},
    };
    for (const Bytes& b : longForms)
        EXPECT_EQ(Decode(b), SnmpDecodeResult::Malformed) << b.size();

    // The whole answer with its outer length in the long form: still fine
    // when it is right.
    Bytes longForm = {0x30, 0x81, kResponse[kOuterLength]};
    longForm.insert(longForm.end(), kResponse.begin() + 2, kResponse.end());
    EXPECT_EQ(Decode(longForm), SnmpDecodeResult::Ok);
    longForm[2] = 0xff;
    EXPECT_EQ(Decode(longForm), SnmpDecodeResult::Malformed);
    // The same length in a 5-byte field: refused, though its value is true
    // (a wider field only serves to overflow a 32-bit reader).
    Bytes fiveBytes = {0x30, 0x85, 0, 0, 0, 0, kResponse[kOuterLength]};
    fiveBytes.insert(fiveBytes.end(), kResponse.begin() + 2, kResponse.end());
    EXPECT_EQ(Decode(fiveBytes), SnmpDecodeResult::Malformed);

    // An inner element whose length is far past the end.
    Bytes inner = kResponse;
    inner[kOffFirstValue + 1] = 0x84; // the INTEGER's length byte becomes a 4-byte form
    EXPECT_EQ(Decode(inner), SnmpDecodeResult::Malformed);
}

TEST(SnmpResponseDecoding, RefusesWrongTypes) {
    // Version, community, request id, variable list, value, identifier.
    EXPECT_EQ(Decode(Patched(kResponse, 2, ber::kOctetString)), SnmpDecodeResult::Malformed);
    EXPECT_EQ(Decode(Patched(kResponse, 5, ber::kInteger)), SnmpDecodeResult::Malformed);
    EXPECT_EQ(Decode(Patched(kResponse, 15, ber::kOctetString)), SnmpDecodeResult::Malformed);
    EXPECT_EQ(Decode(Patched(kResponse, 25, 0x31)), SnmpDecodeResult::Malformed);
    EXPECT_EQ(Decode(Patched(kResponse, 29, ber::kOctetString)), SnmpDecodeResult::Malformed);
    EXPECT_EQ(Decode(Patched(kResponse, 0, 0x31)), SnmpDecodeResult::Malformed);
    EXPECT_EQ(Decode(Patched(kResponse, kOffPduTag, 0x02)), SnmpDecodeResult::Malformed);
    // A constructed value, a context value that is no exception, a
    // multi-byte tag, a NULL with contents.
    EXPECT_EQ(Decode(Patched(kResponse, kOffFirstValue, 0x30)), SnmpDecodeResult::Malformed);
    EXPECT_EQ(Decode(Patched(kResponse, kOffFirstValue, 0x85)), SnmpDecodeResult::Malformed);
    EXPECT_EQ(Decode(Patched(kResponse, kOffFirstValue, 0x5f)), SnmpDecodeResult::Malformed);
    EXPECT_EQ(Decode(Patched(kResponse, kOffFirstValue, ber::kNull)), SnmpDecodeResult::Malformed);
}

TEST(SnmpResponseDecoding, RefusesBadIntegersAndIdentifiers) {
    // A request id wider than 32 bits, an integer of 9 bytes, an empty one.
    std::vector<SnmpVarBind> vb(1);
    vb[0].oid = kPrinterStatus;
    vb[0].value.kind = SnmpValue::Kind::Integer;
    Bytes wideId = SnmpEncodeMessage(SnmpVersion::V2c, "public", 0xa2, 0x1234, 0, 0, vb);
    // Rewrite the request id 02 02 12 34 as 02 05 01 00 00 12 34.
    const Bytes head(wideId.begin(), wideId.begin() + 15);
    Bytes b = head;
    b.insert(b.end(), {0x02, 0x05, 0x01, 0x00, 0x00, 0x12, 0x34});
    b.insert(b.end(), wideId.begin() + 19, wideId.end());
    b[1] += 3;
    b[14] += 3;
    EXPECT_EQ(Decode(b), SnmpDecodeResult::Malformed);

    ber::BerSpan nine{reinterpret_cast<const uint8_t*>("\x01\x02\x03\x04\x05\x06\x07\x08\x09"), 9};
    int64_t n = 0;
    EXPECT_FALSE(ber::DecodeInteger(nine, n));
    EXPECT_FALSE(ber::DecodeInteger(ber::BerSpan{nine.p, 0}, n));

    ber::Oid oid;
    const Bytes badOids[] = {
        {},                                   // empty
        {0x2b, 0x80, 0x01},                   // padding before a sub-identifier
        {0x2b, 0x06, 0x81},                   // the last group still says "more"
        {0x2b, 0x90, 0x80, 0x80, 0x80, 0x00}, // 2^32: wider than 32 bits
    };
    for (const Bytes& o : badOids) {
        GuardedBytes g(o);
        EXPECT_FALSE(ber::DecodeOid(ber::BerSpan{g.data(), g.size()}, oid)) << o.size();
    }
    // The whole answer with the padded identifier inside it.
    EXPECT_EQ(Decode(Patched(kResponse, 31, 0x80)), SnmpDecodeResult::Malformed);
}

TEST(SnmpResponseDecoding, Handles64KiBDatagrams) {
    // A well-formed answer of 64 KiB less the UDP and IP headers.
    std::vector<SnmpVarBind> vb(1);
    vb[0].oid = kErrorState;
    vb[0].value.kind = SnmpValue::Kind::OctetString;
    vb[0].value.bytes.assign(65507 - 54, 0xff);
    const Bytes big = SnmpEncodeMessage(SnmpVersion::V2c, "public", 0xa2, 0x1234, 0, 0, vb);
    ASSERT_EQ(big.size(), 65507u);
    SnmpResponse r;
    ASSERT_EQ(Decode(big, r), SnmpDecodeResult::Ok);
    EXPECT_EQ(r.varBinds.at(0).value.bytes.size(), 65507u - 54);

    // 64 KiB of one byte, of zeros, of nested sequence headers, and the
    // big answer with every 4096th byte cut off the end.
    EXPECT_EQ(Decode(Bytes(65536, 0xff)), SnmpDecodeResult::Malformed);
    EXPECT_EQ(Decode(Bytes(65536, 0x00)), SnmpDecodeResult::Malformed);
    Bytes nested;
    while (nested.size() < 65536)
        nested.insert(nested.end(), {0x30, 0x84, 0x00, 0x01, 0x00, 0x00});
    EXPECT_EQ(Decode(nested), SnmpDecodeResult::Malformed);
    for (size_t cb = big.size() - 1; cb > 0; cb -= std::min<size_t>(cb, 4096))
        EXPECT_EQ(Decode(Bytes(big.begin(), big.begin() + cb)), SnmpDecodeResult::Malformed) << cb;

    // Thousands of tiny variables filling a datagram.
    std::vector<SnmpVarBind> many(5000);
    for (SnmpVarBind& v : many)
        v.oid = {1, 3};
    const Bytes lots = SnmpEncodeMessage(SnmpVersion::V2c, "public", 0xa2, 0x1234, 0, 0, many);
    ASSERT_LT(lots.size(), 65507u);
    ASSERT_EQ(Decode(lots, r), SnmpDecodeResult::Ok);
    EXPECT_EQ(r.varBinds.size(), 5000u);
}

TEST(SnmpResponseDecoding, SurvivesRandomDamage) {
    // Deterministic: the same damage on every run.
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    int nOk = 0;
    for (int i = 0; i < 20000; ++i) {
        Bytes b = kResponse;
        const int nChanges = 1 + next() % 4;
        for (int c = 0; c < nChanges; ++c)
            b[next() % b.size()] = static_cast<uint8_t>(next());
        if (next() % 4 == 0)
            b.resize(next() % b.size());
        SnmpResponse r;
        if (Decode(b, r) == SnmpDecodeResult::Ok) {
            ++nOk;
            // What is accepted is consistent: the request id asked for,
            // and no more variables than the datagram can carry.
            EXPECT_EQ(r.nRequestId, 0x1234);
            EXPECT_LE(r.varBinds.size(), b.size() / 4);
        }
    }
    // Changes inside values keep some answers valid; the rest is refused.
    EXPECT_GT(nOk, 0);
    EXPECT_LT(nOk, 20000);
}

} // namespace
