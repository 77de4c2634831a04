#include "queue/StoreSnapshot.h"

#include <string>

using namespace QueueRecord;

namespace StoreSnapshot {

namespace {

const char kHead[] = "Head";
// More parts than any queue the program can hold needs: a head that says
// so is no head of ours.
const size_t kMaxParts = 4096;

CQueueRegistry::Place SnapshotOf(CQueueRegistry::Place place) {
    return place == CQueueRegistry::Place::User ? CQueueRegistry::Place::UserSnapshot
                                                : CQueueRegistry::Place::MachineSnapshot;
}

std::string PartName(size_t i) {
    return "Part" + std::to_string(i);
}

// A number no other close gives its snapshot: the time, the performance
// counter and the process, mixed.
unsigned long long NewGeneration() {
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    LARGE_INTEGER qpc{};
    QueryPerformanceCounter(&qpc);
    unsigned long long h = 0xCBF29CE484222325ull;
    for (unsigned long long v :
         {static_cast<unsigned long long>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime,
          static_cast<unsigned long long>(qpc.QuadPart),
          static_cast<unsigned long long>(GetCurrentProcessId())})
        h = (h ^ v) * 0x100000001B3ull;
    return h;
}

} // namespace

bool Read(CQueueRegistry& reg, CQueueRegistry::Place queueKey, Snapshot* pSnap) {
    unsigned long long lastWrite = 0, shape = 0;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    size_t nJobs = 0, nParts = 0;
    const CQueueRegistry::Place where = SnapshotOf(queueKey);
    if (!reg.Stamp(queueKey, &lastWrite, &shape) ||
        reg.Read(where, kHead, &type, &data) != CQueueRegistry::Got::Value || type != REG_BINARY ||
        !DecodeSnapshotHead(data.data(), data.size(), pSnap, &nJobs, &nParts) ||
        pSnap->lastWrite != lastWrite || pSnap->shape != shape || nParts == 0 || nParts > kMaxParts)
        return false;
    std::vector<std::vector<BYTE>> parts(nParts);
    for (size_t i = 0; i < nParts; ++i) {
        if (reg.Read(where, PartName(i).c_str(), &type, &parts[i]) != CQueueRegistry::Got::Value ||
            type != REG_BINARY)
            return false;
    }
    if (DecodeSnapshotParts(parts, nJobs, pSnap))
        return true;
    pSnap->jobs.clear();
    return false;
}

void Write(CQueueRegistry& reg, CQueueRegistry::Place queueKey, const std::vector<Record>& jobs,
           unsigned long long nextSlot) {
    const CQueueRegistry::Place where = SnapshotOf(queueKey);
    // The subkey is made first: making it is a write to the queue's key.
    Snapshot snap;
    if (!reg.Writable(where) || !reg.Stamp(queueKey, &snap.lastWrite, &snap.shape))
        return;
    snap.nextSlot = nextSlot;
    snap.generation = NewGeneration();
    const std::vector<std::vector<BYTE>> parts = EncodeSnapshotParts(jobs, snap.generation);
    for (size_t i = 0; i < parts.size(); ++i) {
        if (!reg.Write(where, PartName(i).c_str(), REG_BINARY, parts[i].data(),
                       static_cast<DWORD>(parts[i].size())))
            return;
    }
    snap.jobs.resize(jobs.size());
    const std::vector<BYTE> head = EncodeSnapshotHead(snap, parts.size());
    reg.Write(where, kHead, REG_BINARY, head.data(), static_cast<DWORD>(head.size()));
}

} // namespace StoreSnapshot
