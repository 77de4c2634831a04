#include "printers/PipePrinter.h"

#include "framework/UniqueHandle.h"

bool CPipePageCountSource::Read(uint64_t& nPages, bool& bIdle) {
    nPages = 0;
    bIdle = false;
    if (!m_pCounter)
        return false;
    UniqueBstr bstrXml(SysAllocStringLen(m_xml.data(), static_cast<UINT>(m_xml.size())));
    if (!bstrXml)
        return false;
    ULONGLONG ullPages = 0;
    BOOL bIsIdle = FALSE;
    if (m_pCounter->ReadPageCounter(bstrXml.get(), &ullPages, &bIsIdle) != S_OK)
        return false;
    nPages = ullPages;
    bIdle = bIsIdle != FALSE;
    return true;
}
