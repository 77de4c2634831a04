// What a USB printer says of itself through its device's control calls:
// the status byte (IOCTL_USBPRINT_GET_LPT_STATUS) and the IEEE 1284
// device ID (IOCTL_USBPRINT_GET_1284_ID). The decoding is pure; the calls
// go through one table (UsbDeviceIoApi) so a test can stand in for a
// printer (status bytes over time, failures, a call that never completes),
// since no USB printer class stands behind a device here.
//
// Every call waits a bounded time. A call the device does not give up
// (it ignores the cancellation) keeps its OVERLAPPED and buffer: they are
// left allocated rather than freed under a device that may still write
// into them, and the caller is told (Stuck) so it stops asking that handle.
// Threads: any; the calls share nothing but the table, which is swapped
// only while no device is in use.
#pragma once

#include "printers/PipeInterfaces.h"

#include <windows.h>

#include <string>

// The device control codes of the USB printer class.
constexpr DWORD kIoctlUsbPrintGetLptStatus = 0x220030;
constexpr DWORD kIoctlUsbPrintGet1284Id = 0x220034;
// The largest device ID buffer asked for (some class drivers fail larger).
constexpr DWORD kDeviceIdBufferMax = 4094;

struct UsbDeviceIoApi {
    BOOL(WINAPI* DeviceIoControl)
    (HANDLE hDevice, DWORD dwCode, LPVOID pIn, DWORD cbIn, LPVOID pOut, DWORD cbOut,
     LPDWORD pcbReturned, LPOVERLAPPED pOverlapped);
    BOOL(WINAPI* CancelIoEx)(HANDLE hDevice, LPOVERLAPPED pOverlapped);
};
const UsbDeviceIoApi& CurrentUsbDeviceIoApi();
// Null restores the system's calls.
void SetUsbDeviceIoApi(const UsbDeviceIoApi* pApi);

// The printer's word for its status byte. The low byte follows the
// parallel port's status lines: bit 5 paper empty (1 = empty), bit 4
// selected (1 = online), bit 3 not-error (1 = no error). First rule that
// applies: 0x00 and 0xFF say nothing (NOT_ANSWERING); paper empty is
// PAUSED "Paper out"; not selected is PAUSED "Offline"; an error alone is
// READY "Printer error" (it stops nothing by itself: many printers flag
// errors of their own language there); else READY "Ready".
struct UsbPrinterWord {
    PrinterStatusCode code;
    const wchar_t* pszText;
};
UsbPrinterWord MapLptStatus(BYTE status);

// How a bounded device control call ended.
enum class DeviceCallResult {
    Done,   // answered; cbReturned bytes are in the buffer
    Failed, // refused at once or with an error
    Stuck,  // no answer within the wait, and none after the cancellation
};
DeviceCallResult CallDevice(HANDLE hDevice, DWORD dwCode, void* pOut, DWORD cbOut,
                            DWORD& cbReturned, DWORD dwWaitMs);

// The status byte, asked once within dwWaitMs (the device is open with
// FILE_FLAG_OVERLAPPED). code NOT_ANSWERING when the call fails or the
// byte says nothing.
UsbPrinterWord AskLptStatus(HANDLE hDevice, DWORD dwWaitMs, DeviceCallResult& result);

// The device ID text out of the bytes the call returned: a 2-byte length
// prefix (counting itself) most significant byte first, or, when that
// length cannot be (below 2 or past the bytes returned), least significant
// first. False when neither order gives a possible length.
bool ParseDeviceId(const BYTE* pData, DWORD cbData, std::string& strId);
// The value of a key of the ID ("MFG:Acme;MDL:L-200;"), the short or the
// long key name, letter case ignored, blanks around the value cut; empty
// when absent. Keys: "MFG" or "MANUFACTURER", "MDL" or "MODEL"...
std::string DeviceIdValue(const std::string& strId, const char* pszKey, const char* pszLongKey);
// "<maker> <model>" from an ID (the model alone when it names the maker
// already); empty when the ID names neither.
std::string DeviceIdName(const std::string& strId);
// Reads the device ID of an open device (once: it is not cached). Empty
// when the device gives none.
std::string ReadDeviceId(HANDLE hDevice, DWORD dwWaitMs);
