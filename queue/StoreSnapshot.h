// The snapshot of the whole queue an orderly close leaves in the subkey
// "Snapshot" of the queue's key: the records in a few parts and a head
// (StoreRecord.h gives their bytes). It holds only while the queue's key
// has the time of last write and the shape it had when the head was
// written: any change since (an older version's old form, a hand's edit)
// makes it stale, and the start reads the key itself.
// Free functions over the caller's registry: the caller's lock guards it.
#pragma once

#include "queue/QueueRegistry.h"
#include "queue/StoreRecord.h"

#include <vector>

namespace StoreSnapshot {

// Reads the snapshot of the queue at queueKey; false (pSnap left empty of
// jobs) when there is none, it is damaged, or the key changed since.
bool Read(CQueueRegistry& reg, CQueueRegistry::Place queueKey, QueueRecord::Snapshot* pSnap);

// Writes the snapshot of these jobs for the queue at queueKey, after the
// close's last write there; a write that fails leaves a head that does not
// hold (or the old one, whose parts no longer match).
void Write(CQueueRegistry& reg, CQueueRegistry::Place queueKey,
           const std::vector<QueueRecord::Record>& jobs, unsigned long long nextSlot);

} // namespace StoreSnapshot
