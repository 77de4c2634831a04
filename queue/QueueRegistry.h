// CQueueRegistry: the registry as the queue's store sees it, one call a
// value, in two places: the machine-wide "Job_List" key and the per-user
// one (same path under HKEY_CURRENT_USER), each with a subkey for the
// snapshot. The store takes one from its
// list and a test hands in its own to refuse, count or log calls.
//
// Keys are opened on first use and kept open for the object's life (the
// machine key honours CRegistrySettings' open hook). Not thread-safe: the
// store calls it under the list's lock only.
#pragma once

#include "framework/String.h"
#include "framework/UniqueHandle.h"

#include <windows.h>

#include <functional>
#include <vector>

class CQueueRegistry {
public:
    // The queue's key, and its "Snapshot" subkey, in each of the roots.
    enum class Place { Machine, User, MachineSnapshot, UserSnapshot };
    enum class Got { Value, Missing, Failed };
    using Visit = std::function<void(const char* name, DWORD type, const BYTE* data, DWORD cb)>;

    // lpszPath: the section's path below the root, as GetKeyPath gives it.
    explicit CQueueRegistry(const CString& strPath);
    virtual ~CQueueRegistry() = default;
    CQueueRegistry(const CQueueRegistry&) = delete;
    CQueueRegistry& operator=(const CQueueRegistry&) = delete;

    // Whether the place's key exists (it is not made).
    virtual bool KeyExists(Place place);
    // Whether the place takes writes; the key is made when missing.
    virtual bool Writable(Place place);
    // The value's type and bytes; Missing when there is none, Failed when
    // it could not be read.
    virtual Got Read(Place place, const char* name, DWORD* pType, std::vector<BYTE>* pData);
    // Every value of the key in the registry's order; false when the walk
    // stopped short (what was visited stands). A missing key is empty.
    virtual bool Enum(Place place, const Visit& visit);
    virtual bool Write(Place place, const char* name, DWORD type, const void* pData, DWORD cb);
    // True also when the value was not there.
    virtual bool Delete(Place place, const char* name);
    // Puts what was written to the place on disk before it returns.
    virtual bool Flush(Place place);
    // When the place's key was last written (any value set or deleted, a
    // subkey made), and its shape: its count of values and the lengths of
    // its longest value name and value, mixed. The time moves in the
    // system's clock ticks: the shape tells apart most writes within one.
    // False when they cannot be read.
    virtual bool Stamp(Place place, unsigned long long* pTime, unsigned long long* pShape);

private:
    HKEY Key(Place place, bool bWrite);

    CString m_strPath;
    // [place][write]
    UniqueHKey m_keys[4][2];
};
