// Ber: the few Basic Encoding Rules forms the printer status query needs
// (SEQUENCE, INTEGER, OCTET STRING, NULL, OBJECT IDENTIFIER and the
// context-tagged forms built on them), bytes in and bytes out, with no
// socket code, so that every byte of it is tested directly.
//
// Reading: a BerSpan is a view of bytes somebody else owns; every read
// checks the count left before it touches a byte, consumes what it read and
// fails without moving when the input is malformed. Refused: truncated
// elements, lengths past the end of what holds them, the indefinite length
// form, length fields wider than 4 bytes, multi-byte tag numbers, integers
// wider than the type asked for, badly formed object identifiers.
// Writing appends to a byte vector; lengths are written in the shortest
// form. No state is shared; any thread may use these at any time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ber {

// Tags of the universal and context forms used here (one byte each).
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kNull = 0x05;
constexpr uint8_t kOid = 0x06;
constexpr uint8_t kSequence = 0x30;

// An object identifier as its arcs, e.g. {1, 3, 6, 1, 2, 1}.
using Oid = std::vector<uint32_t>;

struct BerSpan {
    const uint8_t* p = nullptr;
    size_t cb = 0;

    bool empty() const { return cb == 0; }
};

// Reads one element (tag, length, contents) from the front of in. On
// success in is moved past it and content views its contents.
bool ReadElement(BerSpan& in, uint8_t& tag, BerSpan& content);
// Reads one element that must carry the given tag.
bool ReadExpected(BerSpan& in, uint8_t tag, BerSpan& content);

// Contents decoders (the span is the element's contents only).
// A two's complement integer of 1 to 8 bytes.
bool DecodeInteger(BerSpan content, int64_t& value);
// As DecodeInteger, and the value must fit 32 bits signed.
bool DecodeInteger32(BerSpan content, int32_t& value);
// At least two arcs; every sub-identifier fits 32 bits and is written
// without leading 0x80 padding.
bool DecodeOid(BerSpan content, Oid& oid);

// Writers: each appends one whole element to out.
void AppendLength(std::vector<uint8_t>& out, size_t cb);
void AppendElement(std::vector<uint8_t>& out, uint8_t tag, const uint8_t* p, size_t cb);
void AppendElement(std::vector<uint8_t>& out, uint8_t tag, const std::vector<uint8_t>& content);
void AppendInteger(std::vector<uint8_t>& out, int64_t value, uint8_t tag = kInteger);
void AppendNull(std::vector<uint8_t>& out);
// The first arc must be 0 to 2 and the second below 40 unless the first
// is 2; false (nothing appended) otherwise or with fewer than two arcs.
bool AppendOid(std::vector<uint8_t>& out, const Oid& oid);

} // namespace ber
