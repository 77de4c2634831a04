// The old per-job form of the queue: Job<i>_Name, Job<i>_Path and
// Job<i>_Copies from i = 0, ending at an entry with empty name and empty
// path, as an older version of the program reads and writes it. Reading
// steps over holes of up to kMaxHole entries left by other hands, so a
// missing entry never hides the jobs stored behind it; a job whose name
// alone is empty is kept. The fingerprint of what was read tells a later
// start whether anyone rewrote the form since.
// No state of its own beyond one read: the caller's lock guards the
// registry it reads through.
#pragma once

#include "queue/QueueRegistry.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace OldForm {

struct Job {
    std::string name, path;
    DWORD copies = 0;
};

// The widest hole in foreign stored data that reading steps over.
constexpr int kMaxHole = 64;

// A value as the registry (or a walk of it already made) gives it.
using Getter =
    std::function<CQueueRegistry::Got(const char* name, DWORD* pType, std::vector<BYTE>* pData)>;

// A number as stored: a DWORD, or decimal text someone stored; dwDefault
// for anything else.
DWORD StoredNumber(CQueueRegistry::Got got, DWORD type, const std::vector<BYTE>& data,
                   DWORD dwDefault);

// The jobs in order and the fingerprint of what was read; false when a read
// failed (what was read stands).
bool Read(const Getter& get, std::vector<Job>* pJobs, unsigned long long* pPrint);

// Writes the jobs and the end entry; false when any write failed. *pPrint:
// the fingerprint of what was written.
bool Write(CQueueRegistry& reg, CQueueRegistry::Place where, const std::vector<Job>& jobs,
           unsigned long long* pPrint);

} // namespace OldForm
