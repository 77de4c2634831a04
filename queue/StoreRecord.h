// The stored forms of the queue as bytes and names, without the registry:
// a job's journal record, the name of the value that holds it, the index
// written at an orderly close and the fingerprint of the old per-job form.
// Pure functions and plain values: any thread, no lock.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace QueueRecord {

// A job as one journal value holds it.
struct Record {
    unsigned long long slot = 0;
    long long key = 0;
    int copies = 0;
    std::string name;
    std::string path;
};

// Slots run from 1 to below kSlotLimit; "Q<slot>" in plain decimal is the
// only name a slot's value has.
constexpr unsigned long long kSlotLimit = 1000000000000ULL;
std::string SlotName(unsigned long long slot);
// The slot a value's name gives: false unless the name is "Q" and the
// canonical decimal of a number from 1 to below kSlotLimit ("Q01", "Q0",
// "Q" and anything longer are no slot names).
bool ParseSlotName(const char* name, unsigned long long* pSlot);

std::vector<BYTE> Encode(const Record& rec);
// A record of another format, of the wrong size or with a zero inside a
// text is no record: false, never half read. The slot is left alone.
bool Decode(const BYTE* p, size_t cb, Record* pRec);

// The old form's value names: Job<i>_Name, Job<i>_Path, Job<i>_Copies.
std::string EntryName(int nIndex, const char* pszSuffix);

// A fingerprint of the old form (names, paths, copies, in order), so a
// start can tell whether anyone changed it since this program wrote it.
class Fingerprint {
public:
    void Add(const std::string& name, const std::string& path, DWORD copies);
    unsigned long long Value() const { return m_h ^ m_nJobs; }

private:
    void Bytes(const void* p, size_t n);
    unsigned long long m_h = 0xCBF29CE484222325ull;
    unsigned long long m_nJobs = 0;
};

// "QueueIndex": the fingerprint of the old form written at a close, the
// next slot, and each job's slot and key in queue order.
struct Index {
    unsigned long long print = 0;
    unsigned long long nextSlot = 1;
    std::vector<std::pair<unsigned long long, long long>> jobs; // slot, key
};
std::vector<BYTE> EncodeIndex(const Index& index);
// False on any other format or size; the keys must rise and the slots be
// slot numbers below the next slot.
bool DecodeIndex(const BYTE* p, size_t cb, Index* pIndex);

// The snapshot an orderly close writes: every job's record in queue order,
// in parts of at most kSnapshotPart bytes, each with its length, the
// close's generation and a checksum, and a head that says when the queue's
// key was last written then and what shape it had (a write since makes the
// snapshot stale), the generation, the next slot and how many jobs and
// parts there are. The
// generation ties the head to its parts: a part left from another close
// (or a head without its parts) never reads as this one's.
constexpr size_t kSnapshotPart = 1 << 20;
struct Snapshot {
    unsigned long long lastWrite = 0;
    unsigned long long shape = 0;
    unsigned long long generation = 0;
    unsigned long long nextSlot = 1;
    std::vector<Record> jobs;
};
std::vector<std::vector<BYTE>> EncodeSnapshotParts(const std::vector<Record>& jobs,
                                                   unsigned long long generation);
std::vector<BYTE> EncodeSnapshotHead(const Snapshot& snap, size_t nParts);
// The head's fields, with the jobs and parts it counts; false when it is
// no head.
bool DecodeSnapshotHead(const BYTE* p, size_t cb, Snapshot* pSnap, size_t* pJobs, size_t* pParts);
// Appends the jobs the parts hold; false on any part of the wrong length,
// checksum or generation (pSnap's, from the head), jobs that do not fill
// the parts exactly, or a next slot that is not above every slot read.
bool DecodeSnapshotParts(const std::vector<std::vector<BYTE>>& parts, size_t nJobs,
                         Snapshot* pSnap);

} // namespace QueueRecord
