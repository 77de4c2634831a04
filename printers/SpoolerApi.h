// The print spooler calls the spooler printer makes, behind one table so a
// test can stand in for the spooler (to make a step fail, to count calls,
// or to report printer states that Wine's spooler never reports). The real table calls winspool.
// Swap the table only while no printer object is in use.
#pragma once

#include <windows.h>
#include <winspool.h>

struct SpoolerApi {
    BOOL(WINAPI* OpenPrinter)(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault);
    DWORD(WINAPI* StartDocPrinter)(HANDLE hPrinter, DWORD Level, LPBYTE pDocInfo);
    BOOL(WINAPI* StartPagePrinter)(HANDLE hPrinter);
    BOOL(WINAPI* WritePrinter)(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten);
    BOOL(WINAPI* EndPagePrinter)(HANDLE hPrinter);
    BOOL(WINAPI* EndDocPrinter)(HANDLE hPrinter);
    BOOL(WINAPI* ClosePrinter)(HANDLE hPrinter);
    BOOL(WINAPI* AbortPrinter)(HANDLE hPrinter);
    BOOL(WINAPI* GetJob)
    (HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded);
    BOOL(WINAPI* GetPrinter)
    (HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded);
};

const SpoolerApi& RealSpoolerApi();
const SpoolerApi& CurrentSpoolerApi();
// Null restores the real spooler.
void SetSpoolerApi(const SpoolerApi* pApi);
