#include "settings/SpoolerSetup.h"

namespace {
const char kSection[] = "SpoolerSetup";
}

CSpoolerSetup::CSpoolerSetup(const CSpoolerSetup& other) : CRegistrySettings() {
    CLock lock(other.m_Lock);
    CopyFieldsFrom(other);
}

CSpoolerSetup& CSpoolerSetup::operator=(const CSpoolerSetup& other) {
    if (this == &other)
        return *this;
    // Snapshot first, so the two locks are never held together.
    const CSpoolerSetup snapshot(other);
    CLock lock(m_Lock);
    CopyFieldsFrom(snapshot);
    return *this;
}

void CSpoolerSetup::CopyFieldsFrom(const CSpoolerSetup& other) {
    m_strSpoolerName = other.m_strSpoolerName;
    m_strUSBPort = other.m_strUSBPort;
    m_strUSBPrinterName = other.m_strUSBPrinterName;
    m_strUSBPrinterSN = other.m_strUSBPrinterSN;
    m_dwIPAddress = other.m_dwIPAddress;
    m_nSpoolerType = other.m_nSpoolerType;
}

BOOL CSpoolerSetup::Save() {
    const CSpoolerSetup s(*this);
    CKeepOpen keep(*this, kSection, HKEY_LOCAL_MACHINE);
    // Every value is tried; the answer says whether all of them were stored.
    BOOL ok = WriteDWORD(kSection, "SpoolerType", static_cast<DWORD>(s.m_nSpoolerType),
                         HKEY_LOCAL_MACHINE);
    ok &= WriteString(kSection, "SpoolerName", s.m_strSpoolerName, HKEY_LOCAL_MACHINE);
    ok &= WriteDWORD(kSection, "SpoolerIPAddress", s.m_dwIPAddress, HKEY_LOCAL_MACHINE);
    ok &= WriteString(kSection, "SpoolerUSBPort", s.m_strUSBPort, HKEY_LOCAL_MACHINE);
    ok &= WriteString(kSection, "SpoolerUSBPrinterName", s.m_strUSBPrinterName, HKEY_LOCAL_MACHINE);
    ok &= WriteString(kSection, "SpoolerUSBPrinterSN", s.m_strUSBPrinterSN, HKEY_LOCAL_MACHINE);
    return ok;
}

BOOL CSpoolerSetup::Load() {
    // Read everything first, then publish it in one step under the lock.
    CSpoolerSetup s;
    CKeepOpen keep(*this, kSection, HKEY_LOCAL_MACHINE);
    s.m_nSpoolerType = static_cast<int>(ReadDWORD(kSection, "SpoolerType", 0, HKEY_LOCAL_MACHINE));
    s.m_strSpoolerName = ReadString(kSection, "SpoolerName", "none", HKEY_LOCAL_MACHINE);
    s.m_dwIPAddress = ReadDWORD(kSection, "SpoolerIPAddress", 0, HKEY_LOCAL_MACHINE);
    s.m_strUSBPort = ReadString(kSection, "SpoolerUSBPort", "", HKEY_LOCAL_MACHINE);
    s.m_strUSBPrinterName = ReadString(kSection, "SpoolerUSBPrinterName", "", HKEY_LOCAL_MACHINE);
    s.m_strUSBPrinterSN = ReadString(kSection, "SpoolerUSBPrinterSN", "", HKEY_LOCAL_MACHINE);
    *this = s;
    return TRUE;
}

CString CSpoolerSetup::GetIPAddressText() const {
    DWORD dw;
    {
        CLock lock(m_Lock);
        dw = m_dwIPAddress;
    }
    CString text;
    text.Format("%d.%d.%d.%d", static_cast<int>(dw >> 24), static_cast<int>((dw >> 16) & 0xFF),
                static_cast<int>((dw >> 8) & 0xFF), static_cast<int>(dw & 0xFF));
    return text;
}
