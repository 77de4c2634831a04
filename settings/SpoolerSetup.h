// CSpoolerSetup: which output the jobs go to and the parameters of each
// output, kept in the registry section "SpoolerSetup".
//
// Threads: the fields are written on the user interface thread (setup
// dialog, Load) while the worker reads them for every copy. Writers change a
// shared instance only through Load or assignment, and the worker reads
// through a copy; both take the instance's lock, so a copy never mixes old
// and new fields. Direct field access is for objects owned by one thread
// (such copies, the dialog's working copy).
#pragma once

#include "framework/String.h"
#include "framework/Sync.h"
#include "settings/RegistrySettings.h"

enum {
    SPOOLER_NULL = 0,
    SPOOLER_WINDOWS = 1,
    SPOOLER_IP = 2,
    SPOOLER_USB = 3,
};

class CSpoolerSetup : public CRegistrySettings {
public:
    CSpoolerSetup() = default;
    // Copying takes the source's lock: the copy is one consistent state.
    CSpoolerSetup(const CSpoolerSetup& other);
    CSpoolerSetup& operator=(const CSpoolerSetup& other);
    ~CSpoolerSetup() override = default;

    BOOL Save() override;
    BOOL Load() override;

    // "a.b.c.d", first octet from the most significant byte.
    CString GetIPAddressText() const;

    CString m_strSpoolerName;
    CString m_strUSBPort;
    CString m_strUSBPrinterName;
    CString m_strUSBPrinterSN;
    DWORD m_dwIPAddress = 0;
    int m_nSpoolerType = SPOOLER_NULL;

private:
    void CopyFieldsFrom(const CSpoolerSetup& other);

    mutable CCriticalSection m_Lock;
};
