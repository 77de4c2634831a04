#include "queue/StoreRecord.h"

#include "framework/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace QueueRecord {
namespace {

const unsigned kFormat = 1;
// format, key, copies, name length, path length; then the name and the
// path bytes. All numbers little-endian.
const size_t kRecordHeader = 4 + 8 + 4 + 4 + 4;
// format, fingerprint, next slot, job count; then a slot and a key a job.
const size_t kIndexHeader = 4 + 8 + 8 + 4;
const size_t kIndexEntry = 8 + 8;

} // namespace

std::string SlotName(unsigned long long slot) {
    return "Q" + std::to_string(slot);
}

bool ParseSlotName(const char* name, unsigned long long* pSlot) {
    if (name[0] != 'Q' || name[1] < '1' || name[1] > '9')
        return false;
    unsigned long long v = 0;
    for (const char* p = name + 1; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(*p - '0');
        if (v >= kSlotLimit)
            return false;
    }
    *pSlot = v;
    return true;
}

std::vector<BYTE> Encode(const Record& rec) {
    std::vector<BYTE> out;
    out.reserve(kRecordHeader + rec.name.size() + rec.path.size());
    PutLE(out, kFormat, 4);
    PutLE(out, static_cast<unsigned long long>(rec.key), 8);
    PutLE(out, static_cast<unsigned>(rec.copies), 4);
    PutLE(out, rec.name.size(), 4);
    PutLE(out, rec.path.size(), 4);
    out.insert(out.end(), rec.name.begin(), rec.name.end());
    out.insert(out.end(), rec.path.begin(), rec.path.end());
    return out;
}

bool Decode(const BYTE* p, size_t cb, Record* pRec) {
    if (cb < kRecordHeader || GetLE(p, 4) != kFormat)
        return false;
    const unsigned long long cbName = GetLE(p + 16, 4);
    const unsigned long long cbPath = GetLE(p + 20, 4);
    if (kRecordHeader + cbName + cbPath != cb)
        return false;
    const char* name = reinterpret_cast<const char*>(p + kRecordHeader);
    const char* path = name + cbName;
    if (memchr(name, 0, static_cast<size_t>(cbName + cbPath)))
        return false;
    pRec->key = static_cast<long long>(GetLE(p + 4, 8));
    pRec->copies = static_cast<int>(static_cast<unsigned>(GetLE(p + 12, 4)));
    pRec->name.assign(name, static_cast<size_t>(cbName));
    pRec->path.assign(path, static_cast<size_t>(cbPath));
    return true;
}

std::string EntryName(int nIndex, const char* pszSuffix) {
    return "Job" + std::to_string(nIndex) + pszSuffix;
}

void Fingerprint::Add(const std::string& name, const std::string& path, DWORD copies) {
    Bytes(name.c_str(), name.size() + 1);
    Bytes(path.c_str(), path.size() + 1);
    const BYTE c[4] = {static_cast<BYTE>(copies), static_cast<BYTE>(copies >> 8),
                       static_cast<BYTE>(copies >> 16), static_cast<BYTE>(copies >> 24)};
    Bytes(c, 4);
    ++m_nJobs;
}

void Fingerprint::Bytes(const void* p, size_t n) {
    const BYTE* b = static_cast<const BYTE*>(p);
    for (size_t i = 0; i < n; ++i)
        m_h = (m_h ^ b[i]) * 0x100000001B3ull;
}

std::vector<BYTE> EncodeIndex(const Index& index) {
    std::vector<BYTE> out;
    out.reserve(kIndexHeader + kIndexEntry * index.jobs.size());
    PutLE(out, kFormat, 4);
    PutLE(out, index.print, 8);
    PutLE(out, index.nextSlot, 8);
    PutLE(out, index.jobs.size(), 4);
    for (const auto& job : index.jobs) {
        PutLE(out, job.first, 8);
        PutLE(out, static_cast<unsigned long long>(job.second), 8);
    }
    return out;
}

bool DecodeIndex(const BYTE* p, size_t cb, Index* pIndex) {
    if (cb < kIndexHeader || GetLE(p, 4) != kFormat)
        return false;
    const unsigned long long n = GetLE(p + 20, 4);
    if (cb != kIndexHeader + kIndexEntry * n)
        return false;
    Index index;
    index.print = GetLE(p + 4, 8);
    index.nextSlot = GetLE(p + 12, 8);
    if (index.nextSlot < 1 || index.nextSlot > kSlotLimit)
        return false;
    index.jobs.reserve(static_cast<size_t>(n));
    const BYTE* e = p + kIndexHeader;
    for (unsigned long long i = 0; i < n; ++i, e += kIndexEntry) {
        const unsigned long long slot = GetLE(e, 8);
        const long long key = static_cast<long long>(GetLE(e + 8, 8));
        if (slot < 1 || slot >= index.nextSlot || (i > 0 && key <= index.jobs.back().second))
            return false;
        index.jobs.emplace_back(slot, key);
    }
    *pIndex = std::move(index);
    return true;
}

namespace {
// The head's own format: the generation came with 2, the key's shape with 3.
const unsigned kSnapshotFormat = 3;
const size_t kPartHeader = 4 + 8 + 8;
const size_t kSnapshotHead = 4 + 8 + 8 + 8 + 8 + 4 + 4;

unsigned long long Checksum(const BYTE* p, size_t n) {
    unsigned long long h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 0x100000001B3ull;
    return h ^ n;
}
} // namespace

std::vector<std::vector<BYTE>> EncodeSnapshotParts(const std::vector<Record>& jobs,
                                                   unsigned long long generation) {
    std::vector<BYTE> all;
    for (const Record& rec : jobs) {
        PutLE(all, rec.slot, 8);
        const std::vector<BYTE> bytes = Encode(rec);
        PutLE(all, bytes.size(), 4);
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    std::vector<std::vector<BYTE>> parts;
    for (size_t at = 0; at < all.size() || parts.empty(); at += kSnapshotPart) {
        const size_t n = std::min(kSnapshotPart, all.size() - at);
        std::vector<BYTE> part;
        part.reserve(kPartHeader + n);
        PutLE(part, n, 4);
        PutLE(part, generation, 8);
        PutLE(part, Checksum(all.data() + at, n), 8);
        part.insert(part.end(), all.begin() + static_cast<std::ptrdiff_t>(at),
                    all.begin() + static_cast<std::ptrdiff_t>(at + n));
        parts.push_back(std::move(part));
        if (n == 0)
            break;
    }
    return parts;
}

std::vector<BYTE> EncodeSnapshotHead(const Snapshot& snap, size_t nParts) {
    std::vector<BYTE> out;
    PutLE(out, kSnapshotFormat, 4);
    PutLE(out, snap.lastWrite, 8);
    PutLE(out, snap.shape, 8);
    PutLE(out, snap.generation, 8);
    PutLE(out, snap.nextSlot, 8);
    PutLE(out, snap.jobs.size(), 4);
    PutLE(out, nParts, 4);
    return out;
}

bool DecodeSnapshotHead(const BYTE* p, size_t cb, Snapshot* pSnap, size_t* pJobs, size_t* pParts) {
    if (cb != kSnapshotHead || GetLE(p, 4) != kSnapshotFormat)
        return false;
    pSnap->lastWrite = GetLE(p + 4, 8);
    pSnap->shape = GetLE(p + 12, 8);
    pSnap->generation = GetLE(p + 20, 8);
    pSnap->nextSlot = GetLE(p + 28, 8);
    pSnap->jobs.clear();
    *pJobs = static_cast<size_t>(GetLE(p + 36, 4));
    *pParts = static_cast<size_t>(GetLE(p + 40, 4));
    return pSnap->nextSlot >= 1 && pSnap->nextSlot <= kSlotLimit;
}

bool DecodeSnapshotParts(const std::vector<std::vector<BYTE>>& parts, size_t nJobs,
                         Snapshot* pSnap) {
    std::vector<BYTE> all;
    for (const std::vector<BYTE>& part : parts) {
        if (part.size() < kPartHeader)
            return false;
        const size_t n = static_cast<size_t>(GetLE(part.data(), 4));
        if (part.size() != kPartHeader + n || GetLE(part.data() + 4, 8) != pSnap->generation ||
            GetLE(part.data() + 12, 8) != Checksum(part.data() + kPartHeader, n))
            return false;
        all.insert(all.end(), part.begin() + kPartHeader, part.end());
    }
    size_t at = 0;
    long long prev = 0;
    for (size_t i = 0; i < nJobs; ++i) {
        if (all.size() - at < 12)
            return false;
        Record rec;
        rec.slot = GetLE(all.data() + at, 8);
        const size_t cb = static_cast<size_t>(GetLE(all.data() + at + 8, 4));
        at += 12;
        if (all.size() - at < cb || !Decode(all.data() + at, cb, &rec) || rec.slot < 1 ||
            rec.slot >= pSnap->nextSlot || (i > 0 && rec.key <= prev))
            return false;
        at += cb;
        prev = rec.key;
        pSnap->jobs.push_back(std::move(rec));
    }
    return at == all.size();
}

} // namespace QueueRecord
