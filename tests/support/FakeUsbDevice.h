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
    // What the status call does.
    static constexpr int kRefuse = -1; // fails at once
    static constexpr int kHang = -2;   // pending for good

    FakeUsbDevice() {
        Status() = kRefuse;
        Asked() = 0;
        SetUsbDeviceIoApi(&kApi);
    }
    ~FakeUsbDevice() { SetUsbDeviceIoApi(nullptr); }
    FakeUsbDevice(const FakeUsbDevice&) = delete;
    FakeUsbDevice& operator=(const FakeUsbDevice&) = delete;

    void SetStatus(int status) { Status() = status; }
    void SetDeviceId(const std::string& bytes) { Id() = bytes; }
    // Status questions asked so far.
    int Questions() const { return Asked().load(); }

private:
    static std::atomic<int>& Status() {
        static std::atomic<int> s{kRefuse};
        return s;
    }
    static std::atomic<int>& Asked() {
        static std::atomic<int> n{0};
        return n;
    }
    static std::string& Id() {
        static std::string id;
        return id;
    }
    static BOOL WINAPI Control(HANDLE, DWORD code, LPVOID, DWORD, LPVOID pOut, DWORD cbOut,
                               LPDWORD pcb, LPOVERLAPPED) {
        if (code == kIoctlUsbPrintGet1284Id) {
            const DWORD n = static_cast<DWORD>(std::min<size_t>(Id().size(), cbOut));
            memcpy(pOut, Id().data(), n);
            *pcb = n;
            return n > 0 ? TRUE : FALSE;
        }
        ++Asked();
        const int status = Status();
        if (status == kHang) {
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        if (status < 0 || cbOut < 1) {
            SetLastError(ERROR_INVALID_FUNCTION);
            return FALSE;
        }
        *static_cast<BYTE*>(pOut) = static_cast<BYTE>(status);
        *pcb = 1;
        return TRUE;
    }
    static BOOL WINAPI Cancel(HANDLE, LPOVERLAPPED) { return TRUE; }
    static constexpr UsbDeviceIoApi kApi = {Control, Cancel};
};
