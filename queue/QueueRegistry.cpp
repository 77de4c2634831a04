#include "queue/QueueRegistry.h"

#include "settings/RegistrySettings.h"

CQueueRegistry::CQueueRegistry(const CString& strPath) : m_strPath(strPath) {}

HKEY CQueueRegistry::Key(Place place, bool bWrite) {
    const int p = static_cast<int>(place);
    if (m_keys[p][1])
        return m_keys[p][1].get();
    if (!bWrite && m_keys[p][0])
        return m_keys[p][0].get();
    const bool machine = place == Place::Machine || place == Place::MachineSnapshot;
    const bool snapshot = place == Place::MachineSnapshot || place == Place::UserSnapshot;
    CString path = m_strPath;
    if (snapshot)
        path += "\\Snapshot";
    const HKEY root = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const REGSAM access = (bWrite ? KEY_SET_VALUE | KEY_QUERY_VALUE : KEY_QUERY_VALUE);
    if (machine && CRegistrySettings::AskMachineOpenHook(path, access) != ERROR_SUCCESS)
        return nullptr;
    UniqueHKey key;
    const LONG rc =
        bWrite ? RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 access | kMorvaneRegistryView, nullptr, key.put(), nullptr)
               : RegOpenKeyExA(root, path, 0, access | kMorvaneRegistryView, key.put());
    if (rc != ERROR_SUCCESS)
        return nullptr;
    // A failed open is not kept: the key may be made later.
    m_keys[p][bWrite ? 1 : 0] = std::move(key);
    return m_keys[p][bWrite ? 1 : 0].get();
}

bool CQueueRegistry::KeyExists(Place place) {
    return Key(place, false) != nullptr;
}

bool CQueueRegistry::Writable(Place place) {
    return Key(place, true) != nullptr;
}

CQueueRegistry::Got CQueueRegistry::Read(Place place, const char* name, DWORD* pType,
                                         std::vector<BYTE>* pData) {
    pData->clear();
    const HKEY key = Key(place, false);
    if (!key)
        return Got::Missing;
    // Asked again while the value keeps growing between the two calls.
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD cb = 0;
        LONG rc = RegQueryValueExA(key, name, nullptr, pType, nullptr, &cb);
        if (rc == ERROR_FILE_NOT_FOUND)
            return Got::Missing;
        if (rc != ERROR_SUCCESS)
            return Got::Failed;
        pData->resize(cb);
        DWORD got = cb;
        rc = RegQueryValueExA(key, name, nullptr, pType, pData->data(), &got);
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc == ERROR_FILE_NOT_FOUND)
            return Got::Missing;
        if (rc != ERROR_SUCCESS)
            break;
        pData->resize(got);
        return Got::Value;
    }
    pData->clear();
    return Got::Failed;
}

bool CQueueRegistry::Enum(Place place, const Visit& visit) {
    const HKEY key = Key(place, false);
    if (!key)
        return !KeyExists(place);
    return EnumRegistryValues(key, visit);
}

bool CQueueRegistry::Write(Place place, const char* name, DWORD type, const void* pData, DWORD cb) {
    const HKEY key = Key(place, true);
    return key &&
           RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(pData), cb) == ERROR_SUCCESS;
}

bool CQueueRegistry::Delete(Place place, const char* name) {
    const HKEY key = Key(place, true);
    if (!key)
        return false;
    const LONG rc = RegDeleteValueA(key, name);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

bool CQueueRegistry::Flush(Place place) {
    const HKEY key = Key(place, true);
    return key && RegFlushKey(key) == ERROR_SUCCESS;
}

bool CQueueRegistry::Stamp(Place place, unsigned long long* pTime, unsigned long long* pShape) {
    const HKEY key = Key(place, false);
    FILETIME ft{};
    DWORD values = 0, maxName = 0, maxData = 0;
    if (!key || RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                 &maxName, &maxData, nullptr, &ft) != ERROR_SUCCESS)
        return false;
    *pTime = static_cast<unsigned long long>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
    unsigned long long h = 0xCBF29CE484222325ull;
    for (const DWORD v : {values, maxName, maxData})
        h = (h ^ v) * 0x100000001B3ull;
    *pShape = h;
    return true;
}
