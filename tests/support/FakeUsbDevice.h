// A stand-in for a USB printer's device control calls (UsbPrinterIo.h):
// the status byte it reports now (or a refused call, or a call that stays
// pending and ignores its cancellation), and the 1284 ID bytes it returns.
// Installed while a FakeUsbDevice lives; the state is process-wide, so one
// at a time.
#pragma once

#include "printers/UsbPrinterIo.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

class FakeUsbDevice {
public:
    static constexpr int kRefuse = -1; // the status call fails at once
    static constexpr int kHang = -2;   // ... or stays pending for good

    FakeUsbDevice() {
        status = kRefuse;
        asked = 0;
        SetUsbDeviceIoApi(&kApi);
    }
    ~FakeUsbDevice() { SetUsbDeviceIoApi(nullptr); }
    FakeUsbDevice(const FakeUsbDevice&) = delete;
    FakeUsbDevice& operator=(const FakeUsbDevice&) = delete;

    void SetStatus(int nStatus) { status = nStatus; }
    void SetDeviceId(const std::string& bytes) { id = bytes; }
    // Status questions asked so far.
    int Questions() const { return asked.load(); }

private:
    static inline std::atomic<int> status{kRefuse}, asked{0};
    static inline std::string id;

    static BOOL WINAPI Control(HANDLE, DWORD code, LPVOID, DWORD, LPVOID pOut, DWORD cbOut,
                               LPDWORD pcb, LPOVERLAPPED) {
        if (code == kIoctlUsbPrintGet1284Id) {
            *pcb = static_cast<DWORD>(std::min<size_t>(id.size(), cbOut));
            memcpy(pOut, id.data(), *pcb);
            return *pcb > 0 ? TRUE : FALSE;
        }
        // Read before counting: a test that sees the count changes the
        // byte for the questions after it.
        const int now = status;
        ++asked;
        if (now == kHang || now < 0 || cbOut < 1) {
            SetLastError(now == kHang ? ERROR_IO_PENDING : ERROR_INVALID_FUNCTION);
            return FALSE;
        }
        *static_cast<BYTE*>(pOut) = static_cast<BYTE>(now);
        *pcb = 1;
        return TRUE;
    }
    static BOOL WINAPI Cancel(HANDLE, LPOVERLAPPED) { return TRUE; }
    static constexpr UsbDeviceIoApi kApi = {Control, Cancel};
};
