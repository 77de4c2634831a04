#include "pipe/Snmp.h"

#include <algorithm>
#include <utility>

namespace {

using ber::BerSpan;

constexpr uint8_t kGetResponse = 0xa2;
constexpr uint8_t kNoSuchObject = 0x80;
constexpr uint8_t kNoSuchInstance = 0x81;
constexpr uint8_t kEndOfMibView = 0x82;

bool DecodeValue(uint8_t tag, BerSpan content, SnmpValue& value) {
    value = SnmpValue();
    value.tag = tag;
    switch (tag) {
    case ber::kInteger:
        value.kind = SnmpValue::Kind::Integer;
        return ber::DecodeInteger(content, value.nInteger);
    case ber::kOctetString:
        value.kind = SnmpValue::Kind::OctetString;
        value.bytes.assign(content.p, content.p + content.cb);
        return true;
    case ber::kNull:
        value.kind = SnmpValue::Kind::Null;
        return content.empty();
    case kNoSuchObject:
        value.kind = SnmpValue::Kind::NoSuchObject;
        return content.empty();
    case kNoSuchInstance:
        value.kind = SnmpValue::Kind::NoSuchInstance;
        return content.empty();
    case kEndOfMibView:
        value.kind = SnmpValue::Kind::EndOfMibView;
        return content.empty();
    default:
        // Application types (class bits 01, primitive) are legal answers
        // of no use here; anything constructed or of another class is not
        // a value at all.
        if ((tag & 0xe0) != 0x40)
            return false;
        value.kind = SnmpValue::Kind::Other;
        value.bytes.assign(content.p, content.p + content.cb);
        return true;
    }
}

void AppendValue(std::vector<uint8_t>& out, const SnmpValue& value) {
    switch (value.kind) {
    case SnmpValue::Kind::Integer:
        ber::AppendInteger(out, value.nInteger);
        return;
    case SnmpValue::Kind::OctetString:
        ber::AppendElement(out, ber::kOctetString, value.bytes);
        return;
    case SnmpValue::Kind::Null:
        ber::AppendNull(out);
        return;
    case SnmpValue::Kind::NoSuchObject:
        ber::AppendElement(out, kNoSuchObject, nullptr, 0);
        return;
    case SnmpValue::Kind::NoSuchInstance:
        ber::AppendElement(out, kNoSuchInstance, nullptr, 0);
        return;
    case SnmpValue::Kind::EndOfMibView:
        ber::AppendElement(out, kEndOfMibView, nullptr, 0);
        return;
    case SnmpValue::Kind::Other:
        ber::AppendElement(out, value.tag, value.bytes);
        return;
    }
}

} // namespace

std::vector<uint8_t> SnmpEncodeMessage(SnmpVersion version, const std::string& community,
                                       uint8_t pduTag, int32_t nRequestId, int32_t nErrorStatus,
                                       int32_t nErrorIndex,
                                       const std::vector<SnmpVarBind>& varBinds) {
    std::vector<uint8_t> list;
    for (const SnmpVarBind& vb : varBinds) {
        std::vector<uint8_t> entry;
        if (!ber::AppendOid(entry, vb.oid))
            return {};
        AppendValue(entry, vb.value);
        ber::AppendElement(list, ber::kSequence, entry);
    }
    std::vector<uint8_t> pdu;
    ber::AppendInteger(pdu, nRequestId);
    ber::AppendInteger(pdu, nErrorStatus);
    ber::AppendInteger(pdu, nErrorIndex);
    ber::AppendElement(pdu, ber::kSequence, list);

    std::vector<uint8_t> message;
    ber::AppendInteger(message, static_cast<int32_t>(version));
    ber::AppendElement(message, ber::kOctetString,
                       reinterpret_cast<const uint8_t*>(community.data()), community.size());
    ber::AppendElement(message, pduTag, pdu);

    std::vector<uint8_t> out;
    ber::AppendElement(out, ber::kSequence, message);
    return out;
}

std::vector<uint8_t> SnmpEncodeGetRequest(SnmpVersion version, const std::string& community,
                                          int32_t nRequestId, const std::vector<ber::Oid>& oids,
                                          uint8_t pduTag) {
    std::vector<SnmpVarBind> varBinds(oids.size());
    for (size_t i = 0; i < oids.size(); ++i)
        varBinds[i].oid = oids[i];
    return SnmpEncodeMessage(version, community, pduTag, nRequestId, 0, 0, varBinds);
}

SnmpDecodeResult SnmpDecodeGetResponse(const uint8_t* pData, size_t cbData, SnmpVersion version,
                                       const std::string& community, int32_t nRequestId,
                                       SnmpResponse& response) {
    if (!pData)
        return SnmpDecodeResult::Malformed;
    BerSpan datagram{pData, cbData};
    BerSpan message;
    if (!ber::ReadExpected(datagram, ber::kSequence, message) || !datagram.empty())
        return SnmpDecodeResult::Malformed;

    BerSpan content;
    int64_t nVersion = 0;
    if (!ber::ReadExpected(message, ber::kInteger, content) ||
        !ber::DecodeInteger(content, nVersion))
        return SnmpDecodeResult::Malformed;
    if (nVersion != static_cast<int32_t>(version))
        return SnmpDecodeResult::WrongVersion;

    BerSpan communityBytes;
    if (!ber::ReadExpected(message, ber::kOctetString, communityBytes))
        return SnmpDecodeResult::Malformed;
    if (communityBytes.cb != community.size() ||
        !std::equal(community.begin(), community.end(), communityBytes.p))
        return SnmpDecodeResult::WrongCommunity;

    uint8_t pduTag = 0;
    BerSpan pdu;
    if (!ber::ReadElement(message, pduTag, pdu) || !message.empty())
        return SnmpDecodeResult::Malformed;
    if (pduTag != kGetResponse)
        return (pduTag & 0xe0) == 0xa0 ? SnmpDecodeResult::NotAResponse
                                       : SnmpDecodeResult::Malformed;

    SnmpResponse r;
    BerSpan list;
    if (!ber::ReadExpected(pdu, ber::kInteger, content) ||
        !ber::DecodeInteger32(content, r.nRequestId) ||
        !ber::ReadExpected(pdu, ber::kInteger, content) ||
        !ber::DecodeInteger32(content, r.nErrorStatus) ||
        !ber::ReadExpected(pdu, ber::kInteger, content) ||
        !ber::DecodeInteger32(content, r.nErrorIndex) ||
        !ber::ReadExpected(pdu, ber::kSequence, list) || !pdu.empty())
        return SnmpDecodeResult::Malformed;
    if (r.nRequestId != nRequestId)
        return SnmpDecodeResult::WrongRequestId;

    while (!list.empty()) {
        BerSpan entry;
        BerSpan oid;
        uint8_t tag = 0;
        BerSpan value;
        SnmpVarBind vb;
        if (!ber::ReadExpected(list, ber::kSequence, entry) ||
            !ber::ReadExpected(entry, ber::kOid, oid) || !ber::DecodeOid(oid, vb.oid) ||
            !ber::ReadElement(entry, tag, value) || !entry.empty() ||
            !DecodeValue(tag, value, vb.value))
            return SnmpDecodeResult::Malformed;
        r.varBinds.push_back(std::move(vb));
    }
    response = std::move(r);
    return SnmpDecodeResult::Ok;
}
