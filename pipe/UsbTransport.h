// CUsbTransport: a USB printer's device (or any file that can be opened for
// writing), written with overlapped writes so that a device that stops
// taking data fails the write after the send time instead of hanging.
//
// Which device: an explicit path wins when it is set (the "USBPort"
// setting, see PipeSettings.h: a device interface path, a device name such
// as \\.\USB001, or a plain existing file); otherwise the attached printer of device interface
// class GUID_DEVINTERFACE_USBPRINT whose serial number, cut out of its
// device interface path, equals the wanted one (letter case ignored); the
// first such device in enumeration order.
//
// Each write goes out of a buffer and an OVERLAPPED the transport owns
// (m_pIo), never the caller's memory or the stack: a write the device will
// not give up (it ignores the cancellation) may still complete after the
// call has failed. Every wait is bounded; such a write leaves the transport
// broken, and the destructor closes the device and then frees the I/O
// state only when the write has come back, else leaves it allocated (a
// small leak rather than memory the system may still write into).
// Threads: one at a time, except Cancel, which any thread may call while
// the object lives: it sets a flag the waits check and cancels the pending
// write (CancelIoEx) under m_csFile, which every close of the device also
// takes, so it never touches a closed handle.
#pragma once

#include "framework/Sync.h"
#include "framework/UniqueHandle.h"
#include "pipe/Transport.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class CUsbTransport : public CTransport {
public:
    ~CUsbTransport() override;
    CUsbTransport(const CUsbTransport&) = delete;
    CUsbTransport& operator=(const CUsbTransport&) = delete;

    // Opens the path (UTF-8) for writing; it must exist already.
    static HRESULT OpenPath(const std::string& strPathUtf8, const PipeTimeouts& timeouts,
                            std::unique_ptr<CTransport>& pTransport);
    // Opens the attached printer with that serial number. No such printer
    // is HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED).
    static HRESULT OpenBySerialNumber(const std::string& strSerial, const PipeTimeouts& timeouts,
                                      std::unique_ptr<CTransport>& pTransport);

    HRESULT Write(const BYTE* pData, DWORD cbData) override;
    HRESULT Finish() override;
    void Abort() override;
    void Cancel() override;

private:
    // One write in flight: owned here so it outlives a call that gave up.
    struct PendingIo {
        OVERLAPPED ov = {};
        UniqueHandleNull hEvent;
        std::vector<BYTE> buffer;
    };

    explicit CUsbTransport(const PipeTimeouts& timeouts);
    // Gives up the write in flight: cancels it and waits a bounded time for
    // it to come back. False when it did not (m_bIoStuck is then set).
    bool CancelPendingWrite();
    void CloseFile();

    PipeTimeouts m_timeouts;
    UniqueFile m_file;
    std::unique_ptr<PendingIo> m_pIo;
    // A write was given up and had not come back.
    bool m_bIoStuck = false;
    ULONGLONG m_nOffset = 0;
    HRESULT m_hrBroken = S_OK;
    CCriticalSection m_csFile;
    std::atomic<bool> m_bCancelled{false};
};

// The device interface path of the first attached USB printer whose serial
// number is strSerial (letter case ignored); empty when there is none.
std::string FindUsbPrinterPath(const std::string& strSerial);
