#include "pipe/Ber.h"

namespace ber {

namespace {

// The widest length field accepted: 4 bytes already allows lengths far
// beyond any datagram, and a wider one only serves to overflow a reader.
constexpr size_t kMaxLengthBytes = 4;

} // namespace

bool ReadElement(BerSpan& in, uint8_t& tag, BerSpan& content) {
    if (in.cb < 2)
        return false;
    const uint8_t t = in.p[0];
    // Tag numbers above 30 take more bytes; nothing here uses them.
    if ((t & 0x1f) == 0x1f)
        return false;
    size_t pos = 1;
    const uint8_t first = in.p[pos++];
    size_t cb = 0;
    if (first < 0x80) {
        cb = first;
    } else {
        const size_t nBytes = first & 0x7f;
        // 0x80 is the indefinite form: its end could only be found by
        // scanning for an end marker, which a datagram never needs.
        if (nBytes == 0 || nBytes > kMaxLengthBytes)
            return false;
        if (in.cb - pos < nBytes)
            return false;
        for (size_t i = 0; i < nBytes; ++i)
            cb = (cb << 8) | in.p[pos++];
    }
    if (cb > in.cb - pos)
        return false;
    tag = t;
    content.p = in.p + pos;
    content.cb = cb;
    in.p += pos + cb;
    in.cb -= pos + cb;
    return true;
}

bool ReadExpected(BerSpan& in, uint8_t tag, BerSpan& content) {
    BerSpan rest = in;
    uint8_t t = 0;
    BerSpan c;
    if (!ReadElement(rest, t, c) || t != tag)
        return false;
    in = rest;
    content = c;
    return true;
}

bool DecodeInteger(BerSpan content, int64_t& value) {
    if (content.cb < 1 || content.cb > 8)
        return false;
    // Sign-extend from the first byte, then shift the rest in.
    uint64_t v = (content.p[0] & 0x80) ? ~uint64_t(0) : 0;
    for (size_t i = 0; i < content.cb; ++i)
        v = (v << 8) | content.p[i];
    value = static_cast<int64_t>(v);
    return true;
}

bool DecodeInteger32(BerSpan content, int32_t& value) {
    int64_t v = 0;
    if (!DecodeInteger(content, v) || v < INT32_MIN || v > INT32_MAX)
        return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool DecodeOid(BerSpan content, Oid& oid) {
    oid.clear();
    if (content.empty())
        return false;
    size_t pos = 0;
    bool bFirst = true;
    while (pos < content.cb) {
        // A sub-identifier never starts with 0x80: that is padding.
        if (content.p[pos] == 0x80)
            return false;
        uint64_t v = 0;
        for (;;) {
            if (pos >= content.cb)
                return false; // the last byte still had its "more" bit
            const uint8_t b = content.p[pos++];
            v = (v << 7) | (b & 0x7f);
            if (v > UINT32_MAX)
                return false;
            if (!(b & 0x80))
                break;
        }
        if (bFirst) {
            // The first sub-identifier holds the first two arcs.
            const uint32_t first = v < 40 ? 0 : (v < 80 ? 1 : 2);
            oid.push_back(first);
            oid.push_back(static_cast<uint32_t>(v - 40u * first));
            bFirst = false;
        } else {
            oid.push_back(static_cast<uint32_t>(v));
        }
    }
    return true;
}

void AppendLength(std::vector<uint8_t>& out, size_t cb) {
    if (cb < 0x80) {
        out.push_back(static_cast<uint8_t>(cb));
        return;
    }
    uint8_t bytes[sizeof(size_t)];
    size_t n = 0;
    for (size_t v = cb; v; v >>= 8)
        bytes[n++] = static_cast<uint8_t>(v & 0xff);
    out.push_back(static_cast<uint8_t>(0x80 | n));
    while (n)
        out.push_back(bytes[--n]);
}

void AppendElement(std::vector<uint8_t>& out, uint8_t tag, const uint8_t* p, size_t cb) {
    out.push_back(tag);
    AppendLength(out, cb);
    if (cb)
        out.insert(out.end(), p, p + cb);
}

void AppendElement(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& content) {
    AppendElement(out, tag, content.data(), content.size());
}

void AppendInteger(std::vector<uint8_t>& out, int64_t value, uint8_t tag) {
    // The shortest two's complement form: drop leading bytes that only
    // repeat the sign of the byte after them.
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (56 - 8 * i));
    size_t first = 0;
    while (first < 7 && ((bytes[first] == 0x00 && !(bytes[first + 1] & 0x80)) ||
                         (bytes[first] == 0xff && (bytes[first + 1] & 0x80))))
        ++first;
    AppendElement(out, tag, bytes + first, 8 - first);
}

void AppendNull(std::vector<uint8_t>& out) {
    out.push_back(kNull);
    out.push_back(0);
}

bool AppendOid(std::vector<uint8_t>& out, const Oid& oid) {
    if (oid.size() < 2 || oid[0] > 2 || (oid[0] < 2 && oid[1] >= 40) ||
        (oid[0] == 2 && oid[1] > UINT32_MAX - 80))
        return false;
    std::vector<uint8_t> content;
    auto appendSub = [&content](uint32_t v) {
        uint8_t groups[5];
        size_t n = 0;
        do {
            groups[n++] = static_cast<uint8_t>(v & 0x7f);
            v >>= 7;
        } while (v);
        while (n > 1)
            content.push_back(static_cast<uint8_t>(0x80 | groups[--n]));
        content.push_back(groups[0]);
    };
    appendSub(oid[0] * 40 + oid[1]);
    for (size_t i = 2; i < oid.size(); ++i)
        appendSub(oid[i]);
    AppendElement(out, kOid, content);
    return true;
}

} // namespace ber
